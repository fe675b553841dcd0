#include "FerlowTray/OnboardingView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Ferlow/AppModel.h"
#include "FerlowTray/ViewStyle.h"

namespace ferlow {

namespace {

namespace text {
const QString title = QStringLiteral("Allow Ferlow to control the pointer");
const QString how = QStringLiteral("Ferlow moves the pointer and presses keys through the desktop\u2019s "
                                   "RemoteDesktop portal on Wayland, through the X server on X11, or through /dev/uinput.");
const QString portalAsking = QStringLiteral("Your desktop asks in a dialog of its own whether Ferlow may control this "
                                            "computer. Allow it there; the desktop remembers it for the next start.");
const QString portalReady = QStringLiteral("The desktop allowed it and remembers it for the next start.");
const QString portalRefused = QStringLiteral(
    "The desktop did not allow it. Choose Try Again and allow it in the desktop\u2019s dialog, or log in to an X11 session.");
const QString portalEnded = QStringLiteral(
    "The desktop has ended Ferlow\u2019s control of this computer. Choose Try Again to be asked once more.");
const QString needsUinput = QStringLiteral("Let your user write /dev/uinput, with a udev rule or the input group, "
                                           "then restart the computer; or log in to an X11 session.");
const QString x11Ready = QStringLiteral("This X11 session needs nothing more.");
const QString uinputReady = QStringLiteral("Your user may write /dev/uinput, so nothing more is needed.");
const QString purpose = QStringLiteral("Ferlow uses this only to act on gestures from your paired phone.");
const QString showHow = QStringLiteral("Show How to Allow It");
const QString allowed = QStringLiteral("Allowed");
const QString waiting = QStringLiteral("Waiting");
const QString notAllowed = QStringLiteral("Not allowed");
const QString tryAgain = QStringLiteral("Try Again");
} // namespace text

bool isRefusal(Permissions::Request request)
{
    return request == Permissions::Request::refused || request == Permissions::Request::ended;
}

} // namespace

OnboardingView::OnboardingView(AppModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    setFixedWidth(width);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(14);

    auto* symbol = new SymbolView(ViewStyle::Symbol::handPointing, 40, this);
    symbol->setSymbol(ViewStyle::Symbol::handPointing, ViewStyle::color(ViewStyle::Tint::text, palette()));
    column->addWidget(symbol);
    auto* title = new QLabel(text::title, this);
    ViewStyle::setTextStyle(title, ViewStyle::Text::title2);
    title->setWordWrap(true);
    column->addWidget(title);
    m_requirement = new QLabel(this);
    m_requirement->setWordWrap(true);
    m_requirement->setObjectName(QStringLiteral("requirement"));
    column->addWidget(m_requirement);
    auto* note = new QLabel(QString::fromUtf8(UpdateChecker::alphaNote.data(),
                                static_cast<qsizetype>(UpdateChecker::alphaNote.size())),
        this);
    ViewStyle::setTextStyle(note, ViewStyle::Text::caption);
    ViewStyle::setTint(note, ViewStyle::color(ViewStyle::Tint::tertiary, palette()));
    note->setWordWrap(true);
    column->addWidget(note);

    auto* buttons = new QHBoxLayout;
    m_tryAgain = new QPushButton(text::tryAgain, this);
    m_tryAgain->setObjectName(QStringLiteral("tryAgain"));
    connect(m_tryAgain, &QPushButton::clicked, this, [this] {
        m_model.permissions().prompt();
        m_tryAgain->hide(); // until the desktop answers
    });
    buttons->addWidget(m_tryAgain);
    auto* open = new QPushButton(text::showHow, this);
    connect(open, &QPushButton::clicked, this, [this] { m_model.permissions().openSettings(); });
    buttons->addWidget(open);
    buttons->addStretch();
    column->addLayout(buttons);

    auto* status = new QHBoxLayout;
    status->setSpacing(6);
    m_statusSymbol = new SymbolView(ViewStyle::Symbol::clock, 16, this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    status->addWidget(m_statusSymbol);
    status->addWidget(m_status);
    status->addStretch();
    column->addLayout(status);

    m_observation = m_model.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::accessibilityGranted || field == AppModel::Field::permissionRequest)
            showState();
    });
    showState();
}

OnboardingView::~OnboardingView() = default;

QString OnboardingView::requirement(
    bool granted, const std::string& backend, bool desktopAsks, Permissions::Request request)
{
    QString state;
    if (desktopAsks) {
        state = granted ? text::portalReady
            : request == Permissions::Request::refused ? text::portalRefused
            : request == Permissions::Request::ended   ? text::portalEnded
                                                       : text::portalAsking;
    } else {
        const bool x11 = QString::fromStdString(backend).compare(QStringLiteral("xtest"), Qt::CaseInsensitive) == 0;
        state = !granted ? text::needsUinput : x11 ? text::x11Ready : text::uinputReady;
    }
    return text::how + ' ' + state + ' ' + text::purpose;
}

QString OnboardingView::statusText(bool granted, Permissions::Request request)
{
    return granted ? text::allowed : isRefusal(request) ? text::notAllowed : text::waiting;
}

void OnboardingView::showState()
{
    const bool granted = m_model.accessibilityGranted();
    const auto request = m_model.permissionRequest();
    const bool desktopAsks = m_model.desktopAsksPermission();
    m_requirement->setText(requirement(granted, m_model.inputBackend(), desktopAsks, request));
    m_tryAgain->setVisible(!granted && desktopAsks && isRefusal(request));
    const QColor color = ViewStyle::color(granted ? ViewStyle::Tint::green : ViewStyle::Tint::secondary, palette());
    m_statusSymbol->setSymbol(granted ? ViewStyle::Symbol::checkmarkCircle : ViewStyle::Symbol::clock, color);
    m_status->setText(statusText(granted, request));
    ViewStyle::setTint(m_status, color);
}

} // namespace ferlow
