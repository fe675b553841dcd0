#include "FerlowTray/AppDelegate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <utility>

#include "FerlowTray/ActionsEditorView.h"
#include "Ferlow/AppModel.h"
#include "FerlowTray/OnboardingView.h"
#include "FerlowTray/PairingView.h"
#include "FerlowTray/TermsView.h"
#include "FerlowTray/TrayIcon.h"
#include "FerlowTray/ViewStyle.h"

namespace ferlow {

namespace {

namespace text {
const QString ferlow = QStringLiteral("Ferlow");
const QString addPhone = QStringLiteral("Add a Phone");
const QString customizeActions = QStringLiteral("Customize Actions");
const QString noTray = QStringLiteral(
    "Your desktop shows no tray icons, so Ferlow keeps this window open instead. Closing it quits Ferlow.");
const QString openFerlow = QStringLiteral("Open Ferlow");
const QString quit = QStringLiteral("Quit");
const QString noCode = QStringLiteral("Couldn\u2019t make a pairing code.");
const QString noCodeDetail = QStringLiteral(
    "A phone finds this computer by its host name, %1. Give the computer a host name of letters, digits "
    "and hyphens, then try again.");
const QString uninstallQuestion = QStringLiteral("Uninstall Ferlow?");
const QString uninstallDetail = QStringLiteral(
    "This removes your paired phones, your buttons and settings and Open at Login, then tells you what is left "
    "to remove by hand.");
const QString uninstall = QStringLiteral("Uninstall");
const QString cancel = QStringLiteral("Cancel");
const QString almost = QStringLiteral("Ferlow is almost uninstalled.");
const QString oneMoreStep = QStringLiteral("One more step for you:");
const QString uninstalled = QStringLiteral("Ferlow is uninstalled.");
const QString nothingLeft = QStringLiteral("Nothing of it is left on this computer.");
} // namespace text

constexpr int popoverGap = 4;

} // namespace

// A top-level window around one view. Its height follows the view unless it
// is resizable; `closing` may refuse a close or act on it.
class AppDelegate::Window final : public QWidget {
public:
    enum class Sizing { followsContent, resizable };

    Window(const QString& title, QWidget* view, Sizing sizing, Qt::WindowFlags flags = Qt::Window)
        : QWidget(nullptr, flags)
    {
        setWindowTitle(title);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
        if (sizing == Sizing::followsContent)
            layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    std::function<bool()> closing;
    bool closesOnEscape = false;

protected:
    // Reached by Escape wherever the focus is in the window, unless the
    // widget with the focus uses the key itself.
    void keyPressEvent(QKeyEvent* event) override
    {
        if (closesOnEscape && event->matches(QKeySequence::Cancel))
            close();
        else
            QWidget::keyPressEvent(event);
    }

    void closeEvent(QCloseEvent* event) override
    {
        if (closing && !closing())
            event->ignore();
        else
            QWidget::closeEvent(event);
    }

    // A frameless popup draws its own edge, so it stands apart from what is
    // under it.
    void paintEvent(QPaintEvent* event) override
    {
        QWidget::paintEvent(event);
        if (windowType() != Qt::Popup)
            return;
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

// The terms: no close button, above other windows, gone only by agreeing or
// quitting. Return agrees; Escape and the window manager's close do nothing.
class AppDelegate::TermsWindow final : public QDialog {
public:
    TermsWindow(std::function<void()> onAgree, std::function<void()> onQuit)
        : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint)
    {
        setWindowTitle(text::ferlow);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        // Made inside the dialog, so its default button is the dialog's.
        layout->addWidget(new TermsView(std::move(onAgree), std::move(onQuit), this));
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    bool mayClose = false;

    void reject() override { }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        // Not QDialog's own handling, which closes through reject().
        event->setAccepted(mayClose);
    }
};

AppDelegate::AppDelegate(AppModel& model, MainContext& main, Options options)
    : m_model(model), m_main(main), m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = PairingStore::systemClock;
}

AppDelegate::~AppDelegate()
{
    m_quitting = true;
    m_model.onAccessibilityChange = nullptr;
    m_model.onTermsNeeded = nullptr;
}

StatusView::Actions AppDelegate::statusActions()
{
    // Each first closes the popup, as the windows it opens take its place.
    const auto closingPopover = [this](void (AppDelegate::*action)()) {
        return [this, action] {
            if (m_tray)
                m_popover->hide();
            (this->*action)();
        };
    };
    return {
        .addPhone = closingPopover(&AppDelegate::showPairing),
        .showOnboarding = closingPopover(&AppDelegate::showOnboarding),
        .showActions = closingPopover(&AppDelegate::showActions),
        .uninstall = closingPopover(&AppDelegate::uninstall),
        .quit = [this] { quit(); },
    };
}

void AppDelegate::launch()
{
    // The tray icon and the status view it opens.
    auto* status = m_status = new StatusView(m_model, statusActions(), m_options.clock);
    if (m_options.trayAvailable) {
        m_popover = std::make_unique<Window>(
            QString(), status, Window::Sizing::followsContent, Qt::Popup | Qt::FramelessWindowHint);
        m_tray = std::make_unique<QSystemTrayIcon>();
        m_tray->setIcon(TrayIcon::icon(TrayIcon::glyphColor(m_options.currentDesktop, QApplication::palette())));
        m_tray->setToolTip(text::ferlow);
        // Some trays only ever open the menu, so it offers the popup too.
        m_trayMenu = std::make_unique<QMenu>();
        connect(m_trayMenu->addAction(text::openFerlow), &QAction::triggered, this, [this] { togglePopover(); });
        connect(m_trayMenu->addAction(text::quit), &QAction::triggered, this, [this] { quit(); });
        m_tray->setContextMenu(m_trayMenu.get());
        connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                togglePopover();
        });
        m_tray->show();
    } else {
        auto* panel = new QWidget;
        auto* column = new QVBoxLayout(panel);
        column->setContentsMargins(0, 14, 0, 0);
        auto* note = new QLabel(text::noTray, panel);
        note->setWordWrap(true);
        note->setContentsMargins(14, 0, 14, 0);
        note->setFixedWidth(StatusView::width);
        ViewStyle::setTextStyle(note, ViewStyle::Text::caption);
        ViewStyle::setTint(note, ViewStyle::color(ViewStyle::Tint::secondary, note->palette()));
        column->addWidget(note);
        column->addWidget(status);
        m_popover = std::make_unique<Window>(text::ferlow, panel, Window::Sizing::followsContent);
        m_popover->closing = [this] {
            if (!m_quitting)
                quit();
            return true;
        };
    }

    m_model.onAccessibilityChange = [this](bool granted) {
        if (!granted) {
            showOnboarding();
            return;
        }
        if (m_onboarding)
            m_onboarding->close();
        if (std::exchange(m_awaitingDesktop, false))
            continueStart();
    };
    // The desktop's answer to its own dialog: a refusal is said in the
    // onboarding, which offers to ask again.
    m_permissionObserver = m_model.observe([this](AppModel::Field field) {
        const auto request = m_model.permissionRequest();
        if (field == AppModel::Field::permissionRequest
            && (request == Permissions::Request::refused || request == Permissions::Request::ended)) {
            m_awaitingDesktop = false;
            showOnboarding();
        }
    });
    m_model.onTermsNeeded = [this] { showTerms(); };

    m_model.start();
    if (!m_options.trayAvailable)
        present(m_popover.get());
    if (m_model.termsNeeded())
        showTerms();
    else
        continueStart();
}

void AppDelegate::continueStart()
{
    if (!m_model.accessibilityGranted()) {
        // A consent the desktop remembers comes back by itself, without
        // a dialog; the onboarding shows only if it does not. After a
        // refusal it is the user who asks again.
        const auto request = m_model.permissionRequest();
        if (request == Permissions::Request::pending) {
            m_awaitingDesktop = true;
            return;
        }
        if (request == Permissions::Request::none)
            m_model.permissions().prompt();
        showOnboarding();
        return;
    }
    if (m_model.pairings().empty())
        showPairing();
}

void AppDelegate::togglePopover()
{
    if (!m_tray) {
        present(m_popover.get());
        return;
    }
    if (m_popover->isVisible()) {
        m_popover->hide();
        return;
    }
    m_model.refresh();
    m_status->reload();
    m_popover->adjustSize();

    // Under the icon, or above it on a panel at the bottom of the screen.
    const QRect icon = m_tray->geometry();
    const QPoint anchor = icon.isValid() && !icon.isEmpty() ? QPoint(icon.center().x(), icon.bottom()) : QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(anchor);
    const QRect area = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry();
    const QSize size = m_popover->size();
    const int rightmost = std::max(area.left(), area.right() - size.width());
    const int x = std::clamp(anchor.x() - size.width() / 2, area.left(), rightmost);
    int y = anchor.y() + popoverGap;
    if (y + size.height() > area.bottom())
        y = (icon.isValid() && !icon.isEmpty() ? icon.top() : anchor.y()) - popoverGap - size.height();
    m_popover->move(x, std::max(y, area.top()));
    m_popover->show();
    m_popover->activateWindow();
}

void AppDelegate::showStatus()
{
    if (!m_popover)
        return;
    if (!m_tray)
        present(m_popover.get());
    else if (!m_popover->isVisible())
        togglePopover();
}

void AppDelegate::present(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

namespace {

void centre(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen)
        window->move(screen->availableGeometry().center() - window->rect().center());
}

} // namespace

void AppDelegate::showOnboarding()
{
    if (!m_onboarding) {
        m_onboarding =
            std::make_unique<Window>(text::ferlow, new OnboardingView(m_model), Window::Sizing::followsContent);
        m_onboarding->adjustSize();
        centre(m_onboarding.get());
    }
    present(m_onboarding.get());
}

void AppDelegate::showPairing()
{
    const auto offer = m_model.addPhone();
    if (!offer) {
        auto* box = new QMessageBox(QMessageBox::Warning, text::ferlow, text::noCode);
        box->setInformativeText(text::noCodeDetail.arg(QString::fromStdString(m_model.localHost().host)));
        box->setAttribute(Qt::WA_DeleteOnClose);
        present(box);
        return;
    }
    // A closed pairing window goes, so its countdown stops. It goes later:
    // this may run inside one of its own events.
    if (m_pairing) {
        m_pairing->hide();
        m_pairing.release()->deleteLater();
    }
    auto* view = new PairingView(m_model, m_main, offer->pairing, m_options.qrModules, [this] {
        if (m_pairing)
            m_pairing->close();
    });
    m_pairing = std::make_unique<Window>(text::addPhone, view, Window::Sizing::followsContent);
    m_pairing->closesOnEscape = true;
    m_pairing->closing = [this, window = m_pairing.get()] {
        if (m_pairing.get() == window)
            m_pairing.release()->deleteLater();
        return true;
    };
    m_pairing->adjustSize();
    centre(m_pairing.get());
    present(m_pairing.get());
}

void AppDelegate::showActions()
{
    if (!m_actions) {
        auto* view = new ActionsEditorView(m_model, m_options.translate);
        m_actions = std::make_unique<Window>(text::customizeActions, view, Window::Sizing::resizable);
        m_actions->resize(640, 600);
        centre(m_actions.get());
    }
    present(m_actions.get());
}

void AppDelegate::showTerms()
{
    if (m_tray)
        m_popover->hide();
    if (!m_terms) {
        m_terms = std::make_unique<TermsWindow>([this] { agree(); }, [this] { quit(); });
        m_terms->adjustSize();
        centre(m_terms.get());
    }
    present(m_terms.get());
}

void AppDelegate::agree()
{
    const bool waiting = m_model.termsNeeded();
    m_model.agreeToTerms();
    if (m_terms) {
        m_terms->mayClose = true;
        m_terms->close();
        m_terms->mayClose = false;
    }
    if (waiting)
        continueStart();
}

void AppDelegate::tell(const std::string& problem)
{
    const QString text = QString::fromStdString(problem);
    if (m_tray) {
        m_tray->showMessage(text::ferlow, text, QSystemTrayIcon::Warning);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, text::ferlow, text);
    box->setAttribute(Qt::WA_DeleteOnClose);
    present(box);
}

QWidget* AppDelegate::statusWindow() const { return m_popover.get(); }
QWidget* AppDelegate::onboardingWindow() const { return m_onboarding.get(); }
QWidget* AppDelegate::pairingWindow() const { return m_pairing.get(); }
QWidget* AppDelegate::actionsWindow() const { return m_actions.get(); }

QDialog* AppDelegate::termsWindow() const { return m_terms.get(); }

void AppDelegate::uninstall()
{
    QMessageBox question(QMessageBox::Warning, text::uninstallQuestion, text::uninstallQuestion);
    question.setInformativeText(text::uninstallDetail);
    question.setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* confirm = question.addButton(text::uninstall, QMessageBox::DestructiveRole);
    auto* cancel = question.addButton(text::cancel, QMessageBox::RejectRole);
    // Return and Escape both keep Ferlow: removing everything takes a
    // deliberate click, and the destructive button never becomes the
    // default, not even when it has the focus.
    confirm->setAutoDefault(false);
    question.setDefaultButton(cancel);
    question.setEscapeButton(cancel);
    question.exec();
    if (question.clickedButton() != confirm)
        return;

    m_model.uninstall([this](const std::vector<std::string>& steps) {
        QMessageBox report(QMessageBox::Information, text::ferlow, steps.empty() ? text::uninstalled : text::almost);
        QString detail = text::nothingLeft;
        if (!steps.empty()) {
            detail = text::oneMoreStep;
            for (const auto& step : steps)
                detail += QStringLiteral("\n\u2022 ") + QString::fromStdString(step);
        }
        report.setInformativeText(detail);
        report.setWindowFlag(Qt::WindowStaysOnTopHint);
        report.exec();
        quit();
    });
}

void AppDelegate::quit()
{
    m_quitting = true;
    if (m_terms)
        m_terms->mayClose = true;
    if (m_options.quit)
        m_options.quit();
}

} // namespace ferlow
