#include "FerlowTray/StatusView.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "Ferlow/AppModel.h"
#include "FerlowTray/ViewStyle.h"

namespace ferlow {

namespace {

// Every text the view shows.
namespace text {
const QString notListening = QStringLiteral("Not listening");
const QString updateNeeded = QStringLiteral("Update needed");
const QString connected = QStringLiteral(" connected");
const QString waiting = QStringLiteral("Waiting for your phone");
const QString noPhone = QStringLiteral("No phone paired yet");
const QString permissionNeeded = QStringLiteral("Permission needed");
const QString openOnPhone = QStringLiteral("Open Ferlow on your phone");
const QString readyOn = QStringLiteral("Ready on ");
const QString connectedAs = QStringLiteral("Connected as ");
const QString notUsedYet = QStringLiteral("Not used yet");
const QString lastUsed = QStringLiteral("Last used ");
const QString updateAvailable = QStringLiteral("Ferlow %1 is available.");
const QString updateRequired =
    QStringLiteral("Update to Ferlow %1 to keep using your phone. This version has stopped working.");
const QString download = QStringLiteral("Download");
const QString termsNeeded = QStringLiteral("Agree to the Terms of Use to start using Ferlow.");
const QString review = QStringLiteral("Review\u2026");
const QString accessMissing = QStringLiteral("Ferlow needs permission to move the pointer.");
const QString allow = QStringLiteral("Allow\u2026");
const QString portBusy = QStringLiteral(". Another app is using it; pick another port.");
const QString cannotSave = QStringLiteral("Ferlow can't save its files: %1");
const QString keptAside = QStringLiteral("Ferlow couldn't read %1. It is kept as %2.");
const QString port = QStringLiteral("Port");
const QString useThisPort = QStringLiteral("Use This Port");
const QString oldPort = QStringLiteral("Phones paired on the old port need to be added again.");
const QString phones = QStringLiteral("Phones");
const QString remove = QStringLiteral("Remove");
const QString removeHelp = QStringLiteral("This phone will need to scan a new code to connect again");
const QString noPhones = QStringLiteral("None yet. Add one to start.");
const QString addPhone = QStringLiteral("Add a Phone\u2026");
const QString customize = QStringLiteral("Customize Actions\u2026");
const QString openAtLogin = QStringLiteral("Open at Login");
const QString openAtLoginByService = QStringLiteral("Open at Login (by ferlow.service)");
const QString byServiceHelp = QStringLiteral(
    "The ferlow.service user service starts Ferlow at login. To use Open at Login instead, run: "
    "systemctl --user disable --now ferlow.service");
const QString alpha = QStringLiteral("Alpha");
const QString localOnly = QStringLiteral("Local network only, encrypted");
const QString uninstall = QStringLiteral("Uninstall\u2026");
const QString uninstallHelp = QStringLiteral("Remove Ferlow and everything it keeps on this computer");
const QString quit = QStringLiteral("Quit");
} // namespace text

QString qs(const std::string& value) { return QString::fromStdString(value); }

ViewStyle::Tint tint(StatusView::Tone tone)
{
    switch (tone) {
    case StatusView::Tone::orange:
        return ViewStyle::Tint::orange;
    case StatusView::Tone::green:
        return ViewStyle::Tint::green;
    case StatusView::Tone::secondary:
        break;
    }
    return ViewStyle::Tint::secondary;
}

// Plain text always: names come from phones, versions from the network, and
// a label left to guess would render what looks like markup.
QLabel* label(const QString& content, ViewStyle::Text style, QWidget* parent)
{
    auto* result = new QLabel(content, parent);
    result->setTextFormat(Qt::PlainText);
    ViewStyle::setTextStyle(result, style);
    result->setWordWrap(true);
    return result;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QToolButton* commandButton(const QString& title, ViewStyle::Symbol symbol, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(title);
    button->setIcon(ViewStyle::tintedIcon(symbol, ViewStyle::color(ViewStyle::Tint::text, button->palette())));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

} // namespace

// A 9 px dot in the status colour on a 30 px halo of the same colour.
class StatusDot final : public QWidget {
public:
    explicit StatusDot(QWidget* parent) : QWidget(parent) { setFixedSize(30, 30); }
    void setColor(const QColor& color)
    {
        m_color = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        QColor halo = m_color;
        halo.setAlphaF(0.18f * m_color.alphaF());
        painter.setBrush(halo);
        painter.drawEllipse(QRectF(0, 0, 30, 30));
        painter.setBrush(m_color);
        painter.drawEllipse(QRectF(10.5, 10.5, 9, 9));
    }

private:
    QColor m_color;
};

// One warning row: an orange symbol, a text and, when there is something to
// do about it, a button.
struct StatusView::Notice {
    QWidget* row = nullptr;
    SymbolView* symbol = nullptr;
    QLabel* message = nullptr;
};

StatusView::StatusView(AppModel& model, Actions actions, WallClock clock, QWidget* parent)
    : QWidget(parent), m_model(model), m_actions(std::move(actions)), m_clock(std::move(clock))
{
    setFixedWidth(width);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 12);
    column->setSpacing(10);

    // The state at a glance.
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    m_dot = new StatusDot(this);
    header->addWidget(m_dot, 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    m_statusText = label({}, ViewStyle::Text::headline, this);
    m_statusDetail = label({}, ViewStyle::Text::caption, this);
    m_statusText->setObjectName(QStringLiteral("statusText"));
    m_statusDetail->setObjectName(QStringLiteral("statusDetail"));
    titles->addWidget(m_statusText);
    titles->addWidget(m_statusDetail);
    header->addLayout(titles, 1);
    column->addLayout(header);

    // What needs the user: an update, the terms, the permission, a busy port.
    const auto openDownload = [] {
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(UpdateChecker::downloadURL.data(),
            static_cast<qsizetype>(UpdateChecker::downloadURL.size()))));
    };
    m_updateNotice = addNotice(column, text::download, openDownload);
    m_termsNotice = addNotice(column, text::review, [this] {
        if (m_model.onTermsNeeded)
            m_model.onTermsNeeded();
    });
    m_accessNotice = addNotice(column, text::allow, [this] { m_actions.showOnboarding(); });
    m_serverNotice = addNotice(column, {}, {});
    m_saveNotice = addNotice(column, {}, {});
    for (std::size_t i = 0; i < m_model.keptAside().size(); ++i)
        m_keptNotices.push_back(addNotice(column, {}, {}));

    m_portEditor = new QWidget(this);
    auto* editor = new QVBoxLayout(m_portEditor);
    editor->setContentsMargins(0, 0, 0, 0);
    editor->setSpacing(4);
    auto* editorRow = new QHBoxLayout;
    m_portField = new QLineEdit(m_portEditor);
    m_portField->setObjectName(QStringLiteral("port"));
    m_portField->setPlaceholderText(text::port);
    m_portField->setAccessibleName(text::port);
    m_portField->setFixedWidth(90);
    auto* usePort = new QPushButton(text::useThisPort, m_portEditor);
    usePort->setObjectName(QStringLiteral("usePort"));
    editorRow->addWidget(m_portField);
    editorRow->addWidget(usePort);
    editorRow->addStretch();
    editor->addLayout(editorRow);
    auto* oldPort = label(text::oldPort, ViewStyle::Text::caption, m_portEditor);
    oldPort->setObjectName(QStringLiteral("secondary"));
    editor->addWidget(oldPort);
    column->addWidget(m_portEditor);
    m_addressNotice = addNotice(column, {}, {});
    connect(usePort, &QPushButton::clicked, this, [this] { applyPort(); });
    connect(m_portField, &QLineEdit::returnPressed, this, [this] { applyPort(); });

    // The paired phones.
    auto* phonesHeading = label(text::phones, ViewStyle::Text::captionSemibold, this);
    phonesHeading->setObjectName(QStringLiteral("secondary"));
    column->addWidget(phonesHeading);
    m_phones = new QVBoxLayout;
    m_phones->setSpacing(6);
    column->addLayout(m_phones);

    // Commands, settings, and the footer.
    auto* addPhone = commandButton(text::addPhone, ViewStyle::Symbol::qrcode, this);
    auto* customize = commandButton(text::customize, ViewStyle::Symbol::grid, this);
    connect(addPhone, &QToolButton::clicked, this, [this] { m_actions.addPhone(); });
    connect(customize, &QToolButton::clicked, this, [this] { m_actions.showActions(); });
    auto* commands = new QVBoxLayout;
    commands->setSpacing(0);
    commands->addWidget(addPhone);
    commands->addWidget(customize);
    column->addLayout(commands);

    column->addWidget(divider(this));
    m_openAtLogin = new QCheckBox(text::openAtLogin, this);
    connect(m_openAtLogin, &QCheckBox::toggled, this, [this](bool on) {
        if (m_model.setLaunchAtLogin(on))
            return;
        const QSignalBlocker quiet(m_openAtLogin);
        m_openAtLogin->setChecked(m_model.launchAtLogin());
    });
    column->addWidget(m_openAtLogin);

    column->addWidget(divider(this));
    auto* badges = new QHBoxLayout;
    auto* alpha = new QLabel(text::alpha, this);
    ViewStyle::setTextStyle(alpha, ViewStyle::Text::captionSemibold);
    alpha->setObjectName(QStringLiteral("alpha"));
    alpha->setToolTip(QString::fromUtf8(UpdateChecker::alphaNote.data(),
        static_cast<qsizetype>(UpdateChecker::alphaNote.size())));
    alpha->setContentsMargins(6, 1, 6, 1);
    badges->addWidget(alpha);
    auto* localOnly = label(text::localOnly, ViewStyle::Text::caption, this);
    localOnly->setObjectName(QStringLiteral("secondary"));
    badges->addWidget(localOnly, 1);
    column->addLayout(badges);
    auto* footer = new QHBoxLayout;
    auto* uninstall = new QPushButton(text::uninstall, this);
    uninstall->setToolTip(text::uninstallHelp);
    auto* quit = new QPushButton(text::quit, this);
    connect(uninstall, &QPushButton::clicked, this, [this] { m_actions.uninstall(); });
    connect(quit, &QPushButton::clicked, this, [this] { m_actions.quit(); });
    footer->addWidget(uninstall);
    footer->addStretch();
    footer->addWidget(quit);
    column->addLayout(footer);

    m_observation = m_model.observe([this](AppModel::Field) { showState(); });
    reload();
}

StatusView::~StatusView() = default;

StatusView::Notice* StatusView::addNotice(QVBoxLayout* layout, const QString& actionLabel, std::function<void()> action)
{
    auto notice = std::make_unique<Notice>();
    notice->row = new QWidget(this);
    auto* row = new QHBoxLayout(notice->row);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    notice->symbol = new SymbolView(ViewStyle::Symbol::exclamationTriangle, 16, notice->row);
    notice->message = label({}, ViewStyle::Text::callout, notice->row);
    notice->message->setObjectName(QStringLiteral("notice"));
    row->addWidget(notice->symbol, 0, Qt::AlignTop);
    row->addWidget(notice->message, 1);
    if (action) {
        auto* button = new QPushButton(actionLabel, notice->row);
        connect(button, &QPushButton::clicked, this, std::move(action));
        row->addWidget(button, 0, Qt::AlignTop);
    }
    layout->addWidget(notice->row);
    m_notices.push_back(std::move(notice));
    return m_notices.back().get();
}

QString StatusView::statusText(const AppModel& model)
{
    if (model.serverError())
        return text::notListening;
    if (model.updateStatus().isRequired())
        return text::updateNeeded;
    if (model.connectedDevice())
        return qs(*model.connectedDevice()) + text::connected;
    if (!model.pairings().empty())
        return text::waiting;
    return text::noPhone;
}

QString StatusView::statusDetail(const AppModel& model)
{
    if (model.serverError())
        return text::port + ' ' + QString::number(model.port()) + QStringLiteral(" is busy");
    if (!model.accessibilityGranted())
        return text::permissionNeeded;
    if (!model.connectedDevice())
        return text::openOnPhone;
    return text::readyOn + qs(model.localHost().host) + ':' + QString::number(model.port());
}

StatusView::Tone StatusView::statusTone(const AppModel& model)
{
    if (model.serverError() || !model.accessibilityGranted() || model.updateStatus().isRequired())
        return Tone::orange;
    return model.connectedDevice() ? Tone::green : Tone::secondary;
}

QString StatusView::lastUsed(const AppModel& model, const Pairing& pairing, double now)
{
    const auto& pairings = model.pairings();
    if (model.connectedDevice() && !pairings.empty() && pairings.front().id == pairing.id)
        return text::connectedAs + qs(*model.connectedDevice());
    if (!pairing.lastUsedAt)
        return text::notUsedYet;
    return text::lastUsed + relativeTime(now - *pairing.lastUsedAt);
}

QString StatusView::relativeTime(double secondsAgo)
{
    struct Unit {
        double seconds;
        const char* one;
        const char* many;
    };
    // Calendar-free lengths are close enough for "how long ago".
    static constexpr Unit units[] {
        {365.25 * 86400, "year", "years"},
        {30.44 * 86400, "month", "months"},
        {7 * 86400, "week", "weeks"},
        {86400, "day", "days"},
        {3600, "hour", "hours"},
        {60, "minute", "minutes"},
        {1, "second", "seconds"},
    };
    const double span = std::fabs(secondsAgo);
    for (const auto& unit : units) {
        if (span < unit.seconds)
            continue;
        const auto count = static_cast<long long>(span / unit.seconds);
        const QString amount = QString::number(count) + ' ' + QLatin1String(count == 1 ? unit.one : unit.many);
        return secondsAgo > 0 ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
    }
    return QStringLiteral("just now");
}

std::optional<std::uint16_t> StatusView::parsePort(const QString& value)
{
    if (value.isEmpty() || value.size() > 5)
        return std::nullopt;
    for (const QChar c : value)
        if (c < '0' || c > '9')
            return std::nullopt;
    const int number = value.toInt();
    if (number < 1024 || number > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(number);
}

void StatusView::applyPort()
{
    if (const auto port = parsePort(m_portField->text()))
        m_model.applyPort(*port);
}

void StatusView::reload()
{
    {
        const QSignalBlocker quiet(m_openAtLogin);
        const bool byService = m_model.loginHandledByService();
        m_openAtLogin->setChecked(byService || m_model.launchAtLogin());
        m_openAtLogin->setEnabled(!byService);
        m_openAtLogin->setText(byService ? text::openAtLoginByService : text::openAtLogin);
        m_openAtLogin->setToolTip(byService ? text::byServiceHelp : QString());
    }
    showState();
}

void StatusView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        showState();
}

void StatusView::showState()
{
    const QPalette& colors = palette();
    const QColor orange = ViewStyle::color(ViewStyle::Tint::orange, colors);
    const QColor secondary = ViewStyle::color(ViewStyle::Tint::secondary, colors);

    m_dot->setColor(ViewStyle::color(tint(statusTone(m_model)), colors));
    m_statusText->setText(statusText(m_model));
    m_statusDetail->setText(statusDetail(m_model));
    ViewStyle::setTint(m_statusDetail, secondary);
    for (auto* caption : findChildren<QLabel*>(QStringLiteral("secondary")))
        ViewStyle::setTint(caption, secondary);
    auto* alpha = findChild<QLabel*>(QStringLiteral("alpha"));
    alpha->setStyleSheet(QStringLiteral("QLabel { border: 1px solid %1; border-radius: 4px; }")
                             .arg(secondary.name(QColor::HexArgb)));
    ViewStyle::setTint(alpha, secondary);

    const auto showNotice = [&](Notice* notice, bool visible, ViewStyle::Symbol symbol, const QString& message) {
        notice->row->setVisible(visible);
        if (!visible)
            return;
        notice->symbol->setSymbol(symbol, orange);
        notice->message->setText(message);
    };
    const auto& status = m_model.updateStatus();
    const QString version = qs(status.version);
    showNotice(m_updateNotice, status.kind != UpdateStatus::Kind::upToDate, ViewStyle::Symbol::arrowDownCircle,
        status.isRequired() ? text::updateRequired.arg(version) : text::updateAvailable.arg(version));
    showNotice(m_termsNotice, m_model.termsNeeded(), ViewStyle::Symbol::docText, text::termsNeeded);
    showNotice(m_accessNotice, !m_model.accessibilityGranted(), ViewStyle::Symbol::handRaised, text::accessMissing);
    showNotice(m_addressNotice, !m_model.localHost().published, ViewStyle::Symbol::exclamationTriangle,
        QString::fromUtf8(AppModel::addressNotice.data(), static_cast<qsizetype>(AppModel::addressNotice.size())));
    const bool serverError = m_model.serverError().has_value();
    showNotice(m_serverNotice, serverError, ViewStyle::Symbol::exclamationTriangle,
        serverError ? qs(*m_model.serverError()) + text::portBusy : QString());
    const auto& saveProblem = m_model.saveProblem();
    showNotice(m_saveNotice, saveProblem.has_value(), ViewStyle::Symbol::exclamationTriangle,
        text::cannotSave.arg(qs(saveProblem.value_or(""))));
    for (std::size_t i = 0; i < m_keptNotices.size(); ++i) {
        const auto& kept = m_model.keptAside()[i];
        showNotice(m_keptNotices[i], true, ViewStyle::Symbol::exclamationTriangle,
            text::keptAside.arg(qs(kept.file.string()), qs(kept.aside.string())));
    }

    // The editor suggests the next port each time it appears.
    if (serverError && m_portEditor->isHidden())
        m_portField->setText(m_model.port() < 65535 ? QString::number(m_model.port() + 1) : QString());
    m_portEditor->setVisible(serverError);

    rebuildPhones();
}

void StatusView::rebuildPhones()
{
    // The old rows go later: this may run inside a click on one of them.
    while (auto* item = m_phones->takeAt(0)) {
        if (auto* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    const QColor secondary = ViewStyle::color(ViewStyle::Tint::secondary, palette());
    const auto& pairings = m_model.pairings();
    if (pairings.empty()) {
        auto* none = label(text::noPhones, ViewStyle::Text::callout, this);
        ViewStyle::setTint(none, secondary);
        m_phones->addWidget(none);
        return;
    }
    const double now = m_clock();
    for (const auto& pairing : pairings) {
        auto* row = new QWidget(this);
        row->setObjectName(QStringLiteral("phone"));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto* symbol = new SymbolView(ViewStyle::Symbol::iphone, 16, row);
        symbol->setSymbol(ViewStyle::Symbol::iphone, ViewStyle::color(ViewStyle::Tint::text, palette()));
        line->addWidget(symbol, 0, Qt::AlignVCenter);
        auto* names = new QVBoxLayout;
        names->setSpacing(0);
        names->addWidget(label(qs(pairing.name), ViewStyle::Text::body, row));
        auto* caption = label(lastUsed(m_model, pairing, now), ViewStyle::Text::caption, row);
        caption->setObjectName(QStringLiteral("lastUsed"));
        ViewStyle::setTint(caption, secondary);
        names->addWidget(caption);
        line->addLayout(names, 1);
        auto* remove = new QToolButton(row);
        remove->setText(text::remove);
        remove->setToolTip(text::removeHelp);
        remove->setAutoRaise(true);
        remove->setCursor(Qt::PointingHandCursor);
        ViewStyle::setTint(remove, palette().color(QPalette::Link));
        connect(remove, &QToolButton::clicked, this, [this, pairing] { m_model.remove(pairing); });
        line->addWidget(remove);
        m_phones->addWidget(row);
    }
}

} // namespace ferlow
