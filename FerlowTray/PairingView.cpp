#include "FerlowTray/PairingView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "Ferlow/AppModel.h"
#include "Ferlow/PairingCountdown.h"
#include "FerlowTray/QRCodeView.h"
#include "FerlowTray/ViewStyle.h"

namespace ferlow {

namespace {

namespace text {
const QString scan = QStringLiteral("Scan with your phone\u2019s camera");
const QString copyLink = QStringLiteral("Copy Link");
const QString sameWifi = QStringLiteral("Phone and computer need to be on the same Wi-Fi.");
const QString codeWorksFor = QStringLiteral("Code works for %1:%2");
const QString pairedWith = QStringLiteral("Paired with ");
const QString usePad = QStringLiteral("Use the pad on your phone to move the pointer.");
const QString done = QStringLiteral("Done");
const QString expired = QStringLiteral("This code has expired");
const QString newCode = QStringLiteral("New Code");
const QString close = QStringLiteral("Close");
} // namespace text

// Plain text always: the title names the phone as the phone calls itself.
QLabel* centred(const QString& content, ViewStyle::Text style, QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    label->setTextFormat(Qt::PlainText);
    ViewStyle::setTextStyle(label, style);
    label->setAlignment(Qt::AlignHCenter);
    label->setWordWrap(true);
    return label;
}

QVBoxLayout* page(QWidget* widget)
{
    auto* column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    return column;
}

} // namespace

PairingView::PairingView(AppModel& model, MainContext& main, Pairing pairing, QRModules qrModules,
    std::function<void()> onDone, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_main(main)
    , m_pairing(std::move(pairing))
    , m_qrModules(std::move(qrModules))
    , m_created(main.now())
    , m_now(m_created)
{
    setFixedWidth(width);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 28, 28, 28);

    m_waiting = new QWidget(this);
    auto* waiting = page(m_waiting);
    waiting->addWidget(centred(text::scan, ViewStyle::Text::title3, m_waiting));
    m_code = new QRCodeView({}, m_waiting);
    waiting->addWidget(m_code, 0, Qt::AlignHCenter);
    // The address without its secret, to read or type; the button copies
    // the whole link.
    auto* link = new QVBoxLayout;
    link->setSpacing(6);
    m_address = centred({}, ViewStyle::Text::body, m_waiting);
    m_address->setObjectName(QStringLiteral("address"));
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    link->addWidget(m_address);
    auto* copy = new QPushButton(text::copyLink, m_waiting);
    copy->setObjectName(QStringLiteral("copyLink"));
    link->addWidget(copy, 0, Qt::AlignHCenter);
    m_addressNotice = centred(QString::fromUtf8(AppModel::addressNotice.data(),
                                  static_cast<qsizetype>(AppModel::addressNotice.size())),
        ViewStyle::Text::caption, m_waiting);
    m_addressNotice->setObjectName(QStringLiteral("addressNotice"));
    ViewStyle::setTint(m_addressNotice, ViewStyle::color(ViewStyle::Tint::secondary, palette()));
    link->addWidget(m_addressNotice);
    waiting->addLayout(link);
    waiting->addWidget(centred(text::sameWifi, ViewStyle::Text::callout, m_waiting));
    m_countdown = centred({}, ViewStyle::Text::caption, m_waiting);
    m_countdown->setObjectName(QStringLiteral("countdown"));
    waiting->addWidget(m_countdown);
    column->addWidget(m_waiting);

    m_paired = new QWidget(this);
    auto* paired = page(m_paired);
    auto* tick = new SymbolView(ViewStyle::Symbol::checkmarkCircle, 44, m_paired);
    tick->setSymbol(ViewStyle::Symbol::checkmarkCircle, ViewStyle::color(ViewStyle::Tint::green, palette()));
    paired->addWidget(tick, 0, Qt::AlignHCenter);
    m_pairedTitle = centred({}, ViewStyle::Text::title3, m_paired);
    m_pairedTitle->setObjectName(QStringLiteral("pairedTitle"));
    paired->addWidget(m_pairedTitle);
    paired->addWidget(centred(text::usePad, ViewStyle::Text::body, m_paired));
    auto* doneButton = new QPushButton(text::done, m_paired);
    doneButton->setDefault(true);
    paired->addWidget(doneButton, 0, Qt::AlignHCenter);
    column->addWidget(m_paired);

    m_expired = new QWidget(this);
    auto* expired = page(m_expired);
    expired->addWidget(centred(text::expired, ViewStyle::Text::title3, m_expired));
    auto* buttons = new QHBoxLayout;
    auto* newCodeButton = new QPushButton(text::newCode, m_expired);
    newCodeButton->setObjectName(QStringLiteral("newCode"));
    newCodeButton->setDefault(true);
    auto* closeButton = new QPushButton(text::close, m_expired);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    buttons->addWidget(newCodeButton);
    buttons->addStretch();
    expired->addLayout(buttons);
    column->addWidget(m_expired);

    connect(copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_url); });
    connect(doneButton, &QPushButton::clicked, this, onDone);
    connect(closeButton, &QPushButton::clicked, this, onDone);
    connect(newCodeButton, &QPushButton::clicked, this, [this] { newCode(); });
    m_observation = m_model.observe([this](AppModel::Field field) {
        if (field == AppModel::Field::pairings)
            showState();
        else if (field == AppModel::Field::port || field == AppModel::Field::localHost)
            showCode();
    });
    m_tick = m_main.every(1.0, [this] {
        m_now = m_main.now();
        showState();
    });
    showCode();
    showState();
}

PairingView::~PairingView() = default;

QString PairingView::countdown(long long secondsLeft)
{
    const long long left = std::max(secondsLeft, 0LL);
    return text::codeWorksFor.arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
}

PairingView::State PairingView::state() const
{
    for (const auto& pairing : m_model.pairings())
        if (pairing.id == m_pairing.id)
            return State::paired;
    return PairingCountdown::secondsLeft(m_now - m_created) == 0 ? State::expired : State::waiting;
}

void PairingView::newCode()
{
    auto offer = m_model.addPhone();
    if (!offer)
        return;
    m_pairing = std::move(offer->pairing);
    m_created = m_now = m_main.now();
    showCode();
    showState();
}

void PairingView::showCode()
{
    m_url = QString::fromStdString(m_model.pairingURL(m_pairing).value_or(std::string()));
    m_code->setModules(m_url.isEmpty() || !m_qrModules ? QImage() : m_qrModules(m_url));
    m_address->setText(QString::fromStdString(m_model.address()));
    m_addressNotice->setVisible(!m_model.localHost().published);
}

void PairingView::showState()
{
    const State now = state();
    m_waiting->setVisible(now == State::waiting);
    m_paired->setVisible(now == State::paired);
    m_expired->setVisible(now == State::expired);
    if (now == State::paired) {
        for (const auto& pairing : m_model.pairings())
            if (pairing.id == m_pairing.id)
                m_pairedTitle->setText(text::pairedWith + QString::fromStdString(pairing.name));
    }
    m_countdown->setText(countdown(PairingCountdown::secondsLeft(m_now - m_created)));
}

} // namespace ferlow
