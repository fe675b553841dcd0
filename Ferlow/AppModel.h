#pragma once

#include <array>
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
#include "FerlowServer/ServerError.h"
#include "Ferlow/MainContext.h"
#include "Ferlow/Platform.h"

namespace ferlow {

struct DesktopRules;
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
        permissionRequest,
        serverError,
        port,
        actions,
        systemShortcuts,
        updateStatus,
        termsNeeded,
        localHost,
        saveProblem,
    };
    using Observer = std::function<void(Field)>;

    struct Options {
        std::string version = FERLOW_VERSION;
        UpdateChecker::Fetch fetch; // empty: download over HTTP(S)
        // Registers opening at login on the first run (not in development
        // runs, nor from a build tree). A daemon leaves this to its service
        // manager.
        bool offerOpenAtLogin = true;
    };

    static constexpr std::string_view currentVersion = FERLOW_VERSION;
    static constexpr std::uint16_t defaultPort = 7311;
    // How often the permission and the desktop's settings are asked for
    // where the platform cannot say when they change.
    static constexpr double permissionPollInterval = 10.0;
    static constexpr double updateInterval = 21600; // six hours
    // While a save fails, every file that could not be saved is tried again
    // this often, and at once when another save works.
    static constexpr double saveRetryInterval = 30;
    // How long a front end that is ending waits for stop() to have let go of
    // every phone: a display server that stopped answering must not keep
    // the process from ending.
    static constexpr double stopPatience = 0.5;

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
    // model stays readable; nothing restarts it. Nothing here waits: the
    // sessions end on the I/O queue, and `stopped` (if given) runs on the
    // main context once they have.
    void stop(std::function<void()> stopped = {});

    void refresh();
    // (Re)starts the server on `port`, ending the old server's sessions
    // first. The listener opens on the I/O queue without the main context
    // waiting for it; serverRunning() or serverError tell the outcome once
    // it has come (see whenServerSettled).
    void startServer();
    // Runs `done` on the main context as soon as no server start is under
    // way: at once when none is, else when its outcome is published. A stop
    // drops what is still waiting.
    void whenServerSettled(std::function<void()> done);
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
    // What a button presses on this desktop, as the desktop writes it
    // ("Ctrl+Shift+T"); empty when the platform does not say; absent when
    // the button presses nothing here.
    std::optional<std::string> describe(const ActionKind& kind) const;
    // Records agreement to the terms in force and starts the server if it is
    // not running.
    void agreeToTerms();
    // Revokes the pairing: its phone is told and let go. `done` runs on the
    // main context once the phone has been told and the pairings file has
    // been written, with why that write failed, if it did.
    using SaveDone = std::function<void(const std::optional<std::string>& problem)>;
    void remove(const Pairing& pairing, SaveDone done = {});
    // The pairing `id` (absent once it is gone), on the main context, after
    // whatever changed it has been written, with why that failed, if it did.
    void lookupSaved(const std::string& id,
        std::function<void(const std::optional<Pairing>& pairing, const std::optional<std::string>& problem)> done);
    // A new pending pairing and the URL its QR code carries; absent when the
    // host cannot form a URL or the random source failed.
    std::optional<PairingOffer> addPhone();
    // The URL of `pairing` for where phones find this computer now, and the
    // port; absent when the host cannot form a URL.
    std::optional<std::string> pairingURL(const Pairing& pairing) const;
    // Revokes every phone, stops the server and removes what Ferlow keeps,
    // then hands `done` the steps left for the user (empty when nothing is
    // left), on the main context. The confirmation and the report belong to
    // the caller, which then quits.
    void uninstall(std::function<void(std::vector<std::string> steps)> done);

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
    // Where the desktop's own request for the permission stands, where it
    // asks one (the portal's dialog on Wayland).
    Permissions::Request permissionRequest() const { return m_permissionRequest; }
    bool desktopAsksPermission() const { return m_platform.permissions->desktopAsks(); }
    const std::optional<std::string>& serverError() const { return m_serverError; }
    std::uint16_t port() const { return m_port; }
    const std::vector<ActionButton>& actions() const { return m_actions; }
    const std::vector<SystemShortcut>& systemShortcuts() const { return m_systemShortcuts; }
    const UpdateStatus& updateStatus() const { return m_updateStatus; }
    bool termsNeeded() const { return m_termsNeeded; }
    const LocalHost& localHost() const { return m_localHost; }
    // Why Ferlow's files cannot be saved now; absent once every change is
    // on disk. The changes are kept meanwhile and the saves retried.
    const std::optional<std::string>& saveProblem() const { return m_saveProblem; }
    // Files found unreadable at start and moved aside (settled at construction).
    const std::vector<KeptAside>& keptAside() const { return m_keptAside; }

    // Calls `observer` on the main context after each change of a published
    // field, until the returned token goes.
    [[nodiscard]] std::shared_ptr<void> observe(Observer observer);
    std::function<void()> onTermsNeeded;                // newer terms arrived while running
    std::function<void(bool)> onAccessibilityChange;    // the permission came or went

    bool serverRunning() const { return m_server && m_listening; }
    // The port the server listens on; absent while it does not.
    std::optional<std::uint16_t> listeningPort() const;
    const std::string& inputBackend() const { return m_platform.inputBackend; }
    bool frontAppKnown() const { return m_platform.frontAppKnown; }
    const std::string& inputProblem() const { return m_platform.inputProblem; }
    std::filesystem::path padDirectory() const;
    // The address a phone opens, without a pairing: "http://desk.local:7311".
    std::string address() const;
    // What the views add while phones are given an address, not a name.
    static constexpr std::string_view addressNotice =
        "Phones reach this computer by its address. Install avahi-daemon so they can use its name.";
    PairingStore& store() { return *m_store; }
    UpdateChecker& updates() { return *m_updates; }
    Permissions& permissions() { return *m_platform.permissions; }
    SettingsStore& settings() { return *m_platform.settings; }
    bool launchAtLogin() const;
    // False when the desktop refused, or while the user service starts
    // Ferlow at login; the state then is launchAtLogin().
    bool setLaunchAtLogin(bool on);
    // The user service (systemd) starts Ferlow at login, and the login item
    // stays off.
    bool loginHandledByService() const;

    static constexpr std::string_view portKey = "port";
    static constexpr std::string_view termsAcceptedKey = "termsAccepted";
    static constexpr std::string_view openAtLoginOfferedKey = "openAtLoginOffered";

private:
    struct Live;

    std::int64_t termsAccepted() const;
    DesktopRules desktopRules() const;
    std::vector<ActionButton> annotated(const std::vector<ActionButton>& buttons) const;
    void notify(Field field);
    void setServerError(std::optional<std::string> error);
    // Closes every phone's socket on the I/O queue, so each session ends as
    // it does when the phone leaves, then lets go of any input still held;
    // `then` (if given) runs on the main context afterwards.
    void endSessions(std::function<void()> then);
    void stopServer();
    // Writes the buttons on the I/O queue; the outcome comes back here.
    void saveActions();
    // After a save, with why it failed (nothing when it worked): a save that
    // worked has the files that failed tried again at once.
    void saved(const std::optional<std::string>& problem);
    // Publishes the first problem of the three files, and runs the retry
    // timer while there is one.
    void publishSaveProblem();
    void retryFailedSaves();
    std::array<std::optional<std::string>, 3> saveProblems(); // pairings, buttons, settings
    void dropServer();
    void settleServer();
    void serverStarted(std::uint64_t attempt, const std::optional<ServerError>& failure);

    MainContext& m_main;
    IOQueue& m_io;
    Platform m_platform;
    AppEnvironment m_environment;
    Options m_options;

    std::optional<std::string> m_connectedDevice;
    std::vector<Pairing> m_pairings;
    bool m_accessibilityGranted = false;
    Permissions::Request m_permissionRequest = Permissions::Request::none;
    std::optional<std::string> m_serverError;
    std::uint16_t m_port = defaultPort;
    std::vector<ActionButton> m_actions;
    std::vector<SystemShortcut> m_systemShortcuts;
    UpdateStatus m_updateStatus;
    bool m_termsNeeded = false;
    LocalHost m_localHost;
    std::optional<std::string> m_saveProblem;
    std::vector<KeptAside> m_keptAside;

    std::shared_ptr<Live> m_live; // read and written on the I/O queue only
    std::shared_ptr<PairingStore> m_store;
    std::shared_ptr<ActionStore> m_actionStore; // written on the I/O queue
    std::optional<std::string> m_actionsProblem;  // of the last buttons save
    std::unique_ptr<MainContext::Timer> m_saveRetry;
    std::unique_ptr<UpdateChecker> m_updates;
    std::shared_ptr<Translator> m_translator;
    std::shared_ptr<EventPoster> m_poster;
    std::shared_ptr<SessionController> m_controller;
    std::unique_ptr<Server> m_server;
    bool m_listening = false;
    std::uint64_t m_serverAttempt = 0; // tells a start's late outcome from the current one's
    std::vector<std::function<void()>> m_serverSettled; // while a start is under way

    std::unique_ptr<MainContext::Timer> m_permissionTimer;
    std::unique_ptr<MainContext::Timer> m_updateTimer;
    std::shared_ptr<void> m_frontObserver;
    std::shared_ptr<void> m_hostObserver;
    std::shared_ptr<void> m_prefsObserver;
    std::shared_ptr<void> m_permissionObserver;
    std::vector<std::weak_ptr<Observer>> m_observers;
    bool m_stopped = false;
    std::shared_ptr<AppModel*> m_alive; // tasks posted to the main context hold it weakly
};

} // namespace ferlow
