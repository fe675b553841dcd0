#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowCore/ActionButton.h"
#include "FerlowCore/Pairing.h"
#include "FerlowCore/PairingStore.h"
#include "FerlowCore/ReleaseInfo.h"
#include "FerlowCore/UpdateStatus.h"
#include "FerlowHost/UpdateChecker.h"
#include "FerlowInput/ActionStore.h"
#include "FerlowInput/SystemShortcut.h"
#include "FerlowHost/IOQueue.h"
#include "Ferlow/MainContext.h"
#include "Ferlow/Platform.h"

namespace ferlow {

class Server;
class SessionController;
class Translator;

// The development and test hooks, read from the process environment once.
// An empty variable counts as unset.
struct AppEnvironment {
    std::optional<std::string> updateURL;             // FERLOW_UPDATE_URL, used when it is an http(s) URL
    std::optional<std::filesystem::path> devTrace;       // FERLOW_DEV_TRACE
    std::optional<std::filesystem::path> devPairingFile; // FERLOW_DEV_PAIRING_FILE
    std::optional<std::filesystem::path> padDir;         // FERLOW_PAD_DIR; also marks a development run
    bool testTerms = false;                              // FERLOW_TEST_TERMS, read only with FERLOW_PAD_DIR

    static AppEnvironment fromProcess();
};

// The one coordinator of the computer's side. It builds every long-lived
// part in a fixed order, starts the server and the timers, follows the front
// application and the desktop's settings, and publishes the state the views
// show. It lives on the main context: every method is called there, every
// field is read there, and observers are told there. What the phone needs is
// kept a second time on the I/O queue ("live" copies) and only written by
// tasks posted to it, so neither side ever locks.
class AppModel final {
public:
    // The published fields, for observers.
    enum class Field {
        connectedDevice,
        pairings,
        accessibilityGranted,
        serverError,
        port,
        actions,
        systemShortcuts,
        updateStatus,
        termsNeeded,
    };
    using Observer = std::function<void(Field)>;

    struct Options {
        std::string version = FERLOW_VERSION;
        UpdateChecker::Fetch fetch; // empty: download over HTTP(S)
        // Registers opening at login on the first run (not in development
        // runs). A daemon leaves this to its service manager.
        bool offerOpenAtLogin = true;
    };

    static constexpr std::string_view currentVersion = FERLOW_VERSION;
    static constexpr std::uint16_t defaultPort = 7311;
    // How often the permission and the desktop's settings are asked for
    // where the platform cannot say when they change.
    static constexpr double permissionPollInterval = 10.0;
    static constexpr double updateInterval = 21600; // six hours

    // What the pairing window and `ferlow --pair` show.
    struct PairingOffer {
        Pairing pairing;
        std::string url;
    };

    // Builds everything and reads the first state; starts nothing. `main`
    // and `io` must outlive the model.
    AppModel(MainContext& main, IOQueue& io, Platform platform, AppEnvironment environment, Options options);
    AppModel(MainContext& main, IOQueue& io, Platform platform, AppEnvironment environment)
        : AppModel(main, io, std::move(platform), std::move(environment), Options {})
    {
    }
    ~AppModel();

    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // The server (unless the terms must be agreed first), the session tick,
    // following the permission and the desktop's settings, the development
    // pairing file, the front application, opening at login, the update
    // checks.
    void start();
    // Ends every phone's session through the normal end of a session (so
    // whatever it held is released), stops the server and the timers. The
    // model stays readable; nothing restarts it.
    void stop();

    void refresh();
    // (Re)starts the server on `port`; a failure lands in serverError.
    void startServer();
    // Uses `port` from now on, for this run only (the command line's --port).
    void setPort(std::uint16_t port);
    // Uses `port` from now on, remembers it and restarts the server (the
    // status menu's port editor).
    void applyPort(std::uint16_t port);
    // The editor's one entry point for button changes: saved, annotated and
    // sent to the phone. A failed save still reaches the phone.
    void setActions(std::vector<ActionButton> buttons);
    // Reads the desktop's shortcuts afresh (the actions editor does so each
    // time it opens); the buttons are re-annotated by the next setActions.
    void reloadSystemShortcuts();
    // The clash the editor shows for one of `actions()`, kept or not.
    std::optional<std::string> conflict(const ActionButton& button) const;
    // Records agreement to the terms in force and starts the server if it is
    // not running.
    void agreeToTerms();
    // Revokes the pairing: its phone is told and let go.
    void remove(const Pairing& pairing);
    // A new pending pairing and the URL its QR code carries; absent when the
    // host name cannot form a URL or the random source failed.
    std::optional<PairingOffer> addPhone();
    // Revokes every phone, stops the server and removes what Ferlow keeps.
    // Returns the steps left for the user, empty when nothing is left. The
    // confirmation and the report belong to the caller, which then quits.
    std::vector<std::string> uninstall();

    // Steps that start() schedules; callable on their own.
    void checkPermission();
    void checkTrackpadPrefs();
    void frontAppChanged();
    void updateChanged(const UpdateStatus& status);
    void releaseSeen(const ReleaseInfo& release);
    void writeDevPairingIfRequested();
    void openAtLoginOnFirstRun();
    // False in a development run (FERLOW_PAD_DIR) unless FERLOW_TEST_TERMS.
    bool asksForTerms() const;

    // Published fields.
    const std::optional<std::string>& connectedDevice() const { return m_connectedDevice; }
    const std::vector<Pairing>& pairings() const { return m_pairings; }
    bool accessibilityGranted() const { return m_accessibilityGranted; }
    const std::optional<std::string>& serverError() const { return m_serverError; }
    std::uint16_t port() const { return m_port; }
    const std::vector<ActionButton>& actions() const { return m_actions; }
    const std::vector<SystemShortcut>& systemShortcuts() const { return m_systemShortcuts; }
    const UpdateStatus& updateStatus() const { return m_updateStatus; }
    bool termsNeeded() const { return m_termsNeeded; }

    // Calls `observer` on the main context after each change of a published
    // field, until the returned token goes.
    [[nodiscard]] std::shared_ptr<void> observe(Observer observer);
    std::function<void()> onTermsNeeded;                // newer terms arrived while running
    std::function<void(bool)> onAccessibilityChange;    // the permission came or went

    bool serverRunning() const { return m_server != nullptr; }
    // The port the server listens on; absent while it does not.
    std::optional<std::uint16_t> listeningPort() const;
    const std::string& localHostName() const { return m_platform.localHostName; }
    const std::string& inputBackend() const { return m_platform.inputBackend; }
    std::filesystem::path padDirectory() const;
    // The address a phone opens, without a pairing.
    std::string address() const;
    PairingStore& store() { return *m_store; }
    UpdateChecker& updates() { return *m_updates; }
    Permissions& permissions() { return *m_platform.permissions; }
    bool launchAtLogin() const;
    // False when the desktop refused; the state then is launchAtLogin().
    bool setLaunchAtLogin(bool on);

    static constexpr std::string_view portKey = "port";
    static constexpr std::string_view termsAcceptedKey = "termsAccepted";
    static constexpr std::string_view openAtLoginOfferedKey = "openAtLoginOffered";

private:
    struct Live;

    std::int64_t termsAccepted() const;
    std::vector<ActionButton> annotated(const std::vector<ActionButton>& buttons) const;
    void notify(Field field);
    void stopServer();
    // Runs `task` on the I/O queue and waits for it, boundedly.
    void callOnQueue(std::function<void()> task);

    MainContext& m_main;
    IOQueue& m_io;
    Platform m_platform;
    AppEnvironment m_environment;
    Options m_options;

    std::optional<std::string> m_connectedDevice;
    std::vector<Pairing> m_pairings;
    bool m_accessibilityGranted = false;
    std::optional<std::string> m_serverError;
    std::uint16_t m_port = defaultPort;
    std::vector<ActionButton> m_actions;
    std::vector<SystemShortcut> m_systemShortcuts;
    UpdateStatus m_updateStatus;
    bool m_termsNeeded = false;

    std::shared_ptr<Live> m_live; // read and written on the I/O queue only
    std::shared_ptr<PairingStore> m_store;
    std::unique_ptr<ActionStore> m_actionStore;
    std::unique_ptr<UpdateChecker> m_updates;
    std::shared_ptr<Translator> m_translator;
    std::shared_ptr<EventPoster> m_poster;
    std::shared_ptr<SessionController> m_controller;
    std::unique_ptr<Server> m_server;

    std::unique_ptr<MainContext::Timer> m_permissionTimer;
    std::unique_ptr<MainContext::Timer> m_updateTimer;
    std::shared_ptr<void> m_frontObserver;
    std::shared_ptr<void> m_prefsObserver;
    std::shared_ptr<void> m_permissionObserver;
    std::vector<std::weak_ptr<Observer>> m_observers;
    bool m_stopped = false;
    std::shared_ptr<AppModel*> m_alive; // tasks posted to the main context hold it weakly
};

} // namespace ferlow
