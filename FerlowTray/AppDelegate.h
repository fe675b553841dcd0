#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

#include "FerlowTray/PairingView.h"
#include "FerlowTray/ShortcutRecorder.h"
#include "FerlowTray/StatusView.h"

class QDialog;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace ferlow {

class AppModel;
class MainContext;

// The tray app around the model: the tray icon and its status popup, and
// the four windows (onboarding, pairing, actions, terms), each made when
// first needed and kept for the next time, except the pairing window, which
// is new for every pairing. At launch and when the permission or the terms
// change it decides which window the user needs.
class AppDelegate final : public QObject {
public:
    struct Options {
        // Without a system tray the status view opens as an ordinary window
        // at launch, and closing it quits, so Ferlow is never invisible.
        bool trayAvailable = true;
        std::string currentDesktop; // $XDG_CURRENT_DESKTOP, for the tray icon's colour
        ShortcutRecorder::Translate translate;
        StatusView::WallClock clock;
        PairingView::QRModules qrModules;
        // Ends the app.
        std::function<void()> quit;
    };

    AppDelegate(AppModel& model, MainContext& main, Options options);
    ~AppDelegate() override;

    // Starts the model and shows what the user needs first: the terms, then
    // the onboarding while input is not allowed, then pairing while no phone
    // is paired.
    void launch();
    void continueStart();

    void togglePopover();
    // Opens the status popup (or window) unless it is open already: a
    // second launch of the app asks for it.
    void showStatus();
    void showPairing();
    void showActions();
    void showOnboarding();
    void showTerms();
    // Asks, removes everything, says what is left, quits.
    void uninstall();
    void quit();
    // Shows a problem the user should hear about: a tray notification, or
    // a message window without a tray.
    void tell(const std::string& problem);
    // Records agreement to the terms, closes their window and goes on with
    // the start (the terms window's button, or `ferlow --agree-terms`).
    void agree();

    // The windows as they are now; null until first made.
    QWidget* statusWindow() const;
    QWidget* onboardingWindow() const;
    QWidget* pairingWindow() const;
    QWidget* actionsWindow() const;
    QDialog* termsWindow() const;

private:
    class Window;
    class TermsWindow;

    void present(QWidget* window);
    StatusView::Actions statusActions();

    AppModel& m_model;
    MainContext& m_main;
    Options m_options;
    bool m_quitting = false;
    // The start waits for a consent the desktop remembers to come back.
    bool m_awaitingDesktop = false;
    std::shared_ptr<void> m_permissionObserver;

    std::unique_ptr<Window> m_popover; // the status view: a popup under the icon, or a window
    StatusView* m_status = nullptr;
    std::unique_ptr<Window> m_onboarding;
    std::unique_ptr<Window> m_pairing;
    std::unique_ptr<Window> m_actions;
    std::unique_ptr<TermsWindow> m_terms;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};

} // namespace ferlow
