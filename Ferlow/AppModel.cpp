#include "Ferlow/AppModel.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Ferlow/TracingPoster.h"
#include "FerlowCore/AtomicFile.h"
#include "FerlowCore/LocalNetworkPolicy.h"
#include "FerlowCore/Terms.h"
#include "FerlowHost/SessionController.h"
#include "FerlowInput/AppShortcuts.h"
#include "FerlowInput/PointerState.h"
#include "FerlowInput/ShortcutConflicts.h"
#include "FerlowInput/Translator.h"
#include "FerlowServer/Server.h"

namespace ferlow {

namespace fs = std::filesystem;

// The phone's view of the computer, kept on the I/O queue.
struct AppModel::Live {
    std::vector<ActionButton> actions; // with conflict texts
    TrackpadPrefs prefs;
    std::optional<AppContext> context;
    UpdateStatus update;
    // Every WebSocket handed to the controller, so stop() can end them all.
    std::vector<std::weak_ptr<SocketConnection>> sockets;
};

namespace {

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

// Only absolute http and https addresses with a host are fetched.
bool isWebAddress(std::string_view address)
{
    std::string_view rest;
    if (address.starts_with("https://"))
        rest = address.substr(8);
    else if (address.starts_with("http://"))
        rest = address.substr(7);
    else
        return false;
    if (rest.empty() || rest.front() == '/')
        return false;
    return std::none_of(address.begin(), address.end(),
        [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; });
}

std::optional<std::int64_t> integerSetting(const SettingsStore& settings, std::string_view key)
{
    const auto value = settings.get(key);
    if (!value || !value->is_number_integer())
        return std::nullopt;
    if (value->is_number_unsigned()) {
        const auto unsignedValue = value->get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX))
            return std::nullopt;
        return static_cast<std::int64_t>(unsignedValue);
    }
    return value->get<std::int64_t>();
}

// Arrival lines of the development trace go to their own private file, one
// line per write, so a crash loses nothing already traced.
std::function<void(const std::string&)> arrivalTrace(const fs::path& path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return {};
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (handle < 0)
        return {};
    ::fchmod(handle, 0600);
    const auto file = std::shared_ptr<int>(new int(handle), [](int* fd) {
        ::close(*fd);
        delete fd;
    });
    return [file](const std::string& line) {
        const std::string text = line + "\n";
        [[maybe_unused]] const auto written = ::write(*file, text.data(), text.size());
    };
}

} // namespace

AppEnvironment AppEnvironment::fromProcess()
{
    AppEnvironment environment;
    environment.updateURL = variable("FERLOW_UPDATE_URL");
    if (const auto trace = variable("FERLOW_DEV_TRACE"))
        environment.devTrace = fs::path(*trace);
    if (const auto file = variable("FERLOW_DEV_PAIRING_FILE"))
        environment.devPairingFile = fs::path(*file);
    if (const auto pad = variable("FERLOW_PAD_DIR"))
        environment.padDir = fs::path(*pad);
    environment.testTerms = variable("FERLOW_TEST_TERMS").has_value();
    return environment;
}

AppModel::AppModel(MainContext& main, IOQueue& io, Platform platform, AppEnvironment environment, Options options)
    : m_main(main)
    , m_io(io)
    , m_platform(std::move(platform))
    , m_environment(std::move(environment))
    , m_options(std::move(options))
    , m_live(std::make_shared<Live>())
    , m_alive(std::make_shared<AppModel*>(this))
{
    // Built in this order, each part from the ones before it. First the
    // published state and the phone's first view of the desktop.
    m_accessibilityGranted = m_platform.permissions->isTrusted();
    m_permissionRequest = m_platform.permissions->request();
    m_localHost = m_platform.localHost;
    if (m_platform.systemShortcuts)
        m_systemShortcuts = m_platform.systemShortcuts();
    m_live->prefs = m_platform.trackpadPrefs ? m_platform.trackpadPrefs() : TrackpadPrefs::builtIn(true);

    // The stores. A file that could not be read is moved aside now rather
    // than at its first save, so the user hears at once where it went.
    m_store = std::make_shared<PairingStore>(m_platform.supportDirectory);
    m_actionStore = std::make_shared<ActionStore>(m_platform.supportDirectory);
    m_actions = m_actionStore->load();
    for (auto kept : {m_store->keepUnreadableAside(), m_actionStore->keepUnreadableAside(),
             m_platform.settings->keepUnreadableAside()})
        if (kept)
            m_keptAside.push_back(std::move(*kept));

    // Pairings change on both contexts; they are written on the I/O queue,
    // and the outcome is looked at on the main context.
    std::weak_ptr<AppModel*> alive = m_alive;
    MainContext* mainContext = &m_main;
    m_store->writeLater([store = std::weak_ptr(m_store), io = &m_io, alive, mainContext] {
        io->post([store, alive, mainContext] {
            const auto held = store.lock();
            if (!held)
                return;
            mainContext->post([alive, problem = held->flush()] {
                if (const auto model = alive.lock())
                    (*model)->saved(problem);
            });
        });
    });

    // Updates; their results cross to the main context and are dropped
    // once the model has stopped.
    const std::string updateURL = m_environment.updateURL && isWebAddress(*m_environment.updateURL)
        ? *m_environment.updateURL
        : std::string(UpdateChecker::defaultURL);
    m_updates = std::make_unique<UpdateChecker>(m_options.version, updateURL, *m_platform.settings,
        [alive, mainContext](std::function<void()> task) {
            mainContext->post([alive, task = std::move(task)] {
                const auto model = alive.lock();
                if (model && !(*model)->m_stopped)
                    task();
            });
        },
        m_options.fetch);
    m_updateStatus = m_updates->status();
    m_live->update = m_updateStatus;

    // Port: a stored 1-65535, else the default.
    const auto storedPort = integerSetting(*m_platform.settings, portKey);
    m_port = storedPort && *storedPort >= 1 && *storedPort <= 65535 ? static_cast<std::uint16_t>(*storedPort)
                                                                     : defaultPort;

    // Pointer and translator. Linux has no live dock swipes.
    auto layout = m_platform.layout ? m_platform.layout : [] { return DisplayLayout {}; };
    auto pointer = std::make_shared<PointerState>(m_platform.cursor ? m_platform.cursor() : Point {});
    auto cursor = m_platform.cursor ? m_platform.cursor : Translator::CursorSource([pointer] { return pointer->position; });
    m_translator = std::make_shared<Translator>(pointer, std::move(layout), std::move(cursor),
        MainContext::steadyNow, Translator::DockSwipes::emulated);

    // The buttons as the phone sees them.
    m_live->actions = annotated(m_actions);

    // The poster, traced in development runs.
    m_poster = m_platform.makePoster ? m_platform.makePoster() : nullptr;
    if (!m_poster) {
        struct Nothing final : EventPoster {
            void post(const std::vector<EventSpec>&) override { }
        };
        m_poster = std::make_shared<Nothing>();
    }
    if (m_environment.devTrace) {
        if (auto tracing = TracingPoster::make(m_poster, *m_environment.devTrace))
            m_poster = std::move(tracing);
    }

    // The controller; its suppliers run on the I/O queue.
    SessionController::Suppliers suppliers;
    suppliers.accessibility = [permissions = m_platform.permissions] { return permissions->isTrusted(); };
    const std::weak_ptr<Live> live = m_live;
    suppliers.actions = [live] {
        const auto held = live.lock();
        return held ? held->actions : std::vector<ActionButton> {};
    };
    suppliers.prefs = [live] {
        const auto held = live.lock();
        return held ? held->prefs : TrackpadPrefs {};
    };
    suppliers.context = [live] {
        const auto held = live.lock();
        return held ? held->context : std::nullopt;
    };
    suppliers.update = [live] {
        const auto held = live.lock();
        return held ? held->update : UpdateStatus::upToDate();
    };
    suppliers.typing = [typing = m_platform.typing] { return typing; };
    m_controller = std::make_shared<SessionController>(m_store, m_translator, m_poster, std::move(suppliers));
    // The phone that typed hears of characters the desktop could not type.
    if (m_platform.reportUntypedTo)
        m_io.post([reportTo = m_platform.reportUntypedTo, controller = std::weak_ptr(m_controller)] {
            reportTo([controller](const std::string& characters) {
                if (const auto held = controller.lock())
                    held->reportUntyped(characters);
            });
        });

    // Buttons of both kinds can be pressed.
    m_translator->setActions([live] {
        const auto held = live.lock();
        if (!held)
            return std::vector<ActionButton> {};
        auto all = held->actions;
        if (held->context)
            all.insert(all.end(), held->context->actions.begin(), held->context->actions.end());
        return all;
    });

    // Session changes refresh the list of phones.
    m_controller->onChange = [alive, mainContext] {
        mainContext->post([alive] {
            if (const auto model = alive.lock())
                (*model)->refresh();
        });
    };

    // Its wake-ups and tick come from the I/O queue from start() on.
    // Arrival times go beside the event trace.
    if (m_environment.devTrace) {
        fs::path arrivals = *m_environment.devTrace;
        arrivals += ".arrivals";
        if (auto trace = arrivalTrace(arrivals))
            m_controller->trace = std::move(trace);
    }

    // The terms gate.
    const auto release = m_updates->release();
    m_termsNeeded = asksForTerms()
        && Terms::needsAgreement(termsAccepted(), release ? release->terms : std::nullopt);

    refresh();
}

AppModel::~AppModel() { stop(); }

bool AppModel::asksForTerms() const { return !m_environment.padDir || m_environment.testTerms; }

DesktopRules AppModel::desktopRules() const
{
    DesktopRules rules {m_platform.reservedOwner, m_platform.reserved, {}};
    if (m_platform.describeKeys)
        rules.presses = [describe = &m_platform.describeKeys](const ActionKind& kind) {
            return (*describe)(kind, "").has_value();
        };
    return rules;
}

std::vector<ActionButton> AppModel::annotated(const std::vector<ActionButton>& buttons) const
{
    return ShortcutConflicts::annotate(buttons, m_systemShortcuts, desktopRules());
}

std::optional<std::string> AppModel::conflict(const ActionButton& button) const
{
    return ShortcutConflicts::find(button, m_actions, m_systemShortcuts, desktopRules());
}

std::optional<std::string> AppModel::describe(const ActionKind& kind) const
{
    return m_platform.describeKeys ? m_platform.describeKeys(kind, "") : std::string();
}

std::int64_t AppModel::termsAccepted() const
{
    return integerSetting(*m_platform.settings, termsAcceptedKey).value_or(0);
}

void AppModel::start()
{
    if (!m_termsNeeded)
        startServer();
    m_io.drive(m_controller);
    // Told of changes where the desktop can tell; asked only for the rest.
    const auto follow = [alive = std::weak_ptr(m_alive)](void (AppModel::*check)()) {
        return [alive, check] {
            if (const auto model = alive.lock())
                ((*model)->*check)();
        };
    };
    if (m_platform.observePermission)
        m_permissionObserver = m_platform.observePermission(follow(&AppModel::checkPermission));
    if (m_platform.observeTrackpadPrefs)
        m_prefsObserver = m_platform.observeTrackpadPrefs(follow(&AppModel::checkTrackpadPrefs));
    if (!m_permissionObserver || !m_prefsObserver)
        m_permissionTimer = m_main.every(permissionPollInterval, [this] {
            if (!m_permissionObserver)
                checkPermission();
            if (!m_prefsObserver)
                checkTrackpadPrefs();
        });
    if (m_platform.observeLocalHost)
        m_hostObserver = m_platform.observeLocalHost([alive = std::weak_ptr(m_alive)](const LocalHost& host) {
            const auto model = alive.lock();
            if (!model || (*model)->m_localHost == host)
                return;
            (*model)->m_localHost = host;
            (*model)->notify(Field::localHost);
        });
    writeDevPairingIfRequested();
    if (m_platform.observeFrontApp)
        m_frontObserver = m_platform.observeFrontApp([alive = std::weak_ptr(m_alive)] {
            if (const auto model = alive.lock())
                (*model)->frontAppChanged();
        });
    frontAppChanged();
    openAtLoginOnFirstRun();
    m_updates->onChange = [this](const UpdateStatus& status) { updateChanged(status); };
    m_updates->onRelease = [this](const ReleaseInfo& release) { releaseSeen(release); };
    m_updates->check();
    m_updateTimer = m_main.every(updateInterval, [this] { m_updates->check(); });
}

void AppModel::stop(std::function<void()> stopped)
{
    if (!m_stopped) {
        m_stopped = true;
        m_permissionTimer.reset();
        m_updateTimer.reset();
        m_saveRetry.reset();
        m_frontObserver.reset();
        m_hostObserver.reset();
        m_prefsObserver.reset();
        m_permissionObserver.reset();
        m_serverSettled.clear();
        // The last change to the pairings reaches the disk before the app goes.
        m_store->flush();
    }
    // Again when already stopped, so that `stopped` still comes after the
    // sessions' end (and after any save of the buttons queued before it).
    endSessions(std::move(stopped));
    dropServer();
}

void AppModel::refresh()
{
    auto used = m_store->all();
    std::erase_if(used, [](const Pairing& pairing) { return pairing.pending(); });
    std::stable_sort(used.begin(), used.end(),
        [](const Pairing& a, const Pairing& b) { return *a.lastUsedAt > *b.lastUsedAt; });
    if (used != m_pairings) {
        m_pairings = std::move(used);
        notify(Field::pairings);
    }

    m_io.post([controller = std::weak_ptr(m_controller), alive = std::weak_ptr(m_alive), main = &m_main] {
        const auto held = controller.lock();
        if (!held)
            return;
        main->post([alive, name = held->activeDeviceName()] {
            const auto model = alive.lock();
            if (!model || (*model)->m_connectedDevice == name)
                return;
            (*model)->m_connectedDevice = name;
            (*model)->notify(Field::connectedDevice);
        });
    });
}

void AppModel::endSessions(std::function<void()> then)
{
    m_io.post([live = m_live, release = m_platform.releaseInput, main = &m_main, then = std::move(then)] {
        // Closing a socket ends its session the way a phone leaving does:
        // what was queued plays, then everything the phone held is released.
        for (const auto& weak : live->sockets)
            if (const auto socket = weak.lock())
                socket->close();
        live->sockets.clear();
        try {
            if (release)
                release();
        } catch (...) {
            // A backend that failed here must not keep `then` from coming.
        }
        if (then)
            main->post(std::move(then));
    });
}

void AppModel::stopServer()
{
    if (!m_server)
        return;
    endSessions({});
    dropServer();
    settleServer();
}

// The server closes its listener on the I/O queue, after the sessions ended
// there and before any later start listens, so a restart on the same port
// finds it free. No phone gets in meanwhile: a discarded server accepts
// nothing more.
void AppModel::dropServer()
{
    m_server.reset();
    m_listening = false;
    ++m_serverAttempt;
}

void AppModel::settleServer()
{
    for (auto& done : std::exchange(m_serverSettled, {}))
        done();
}

void AppModel::setServerError(std::optional<std::string> error)
{
    if (error == m_serverError)
        return;
    m_serverError = std::move(error);
    notify(Field::serverError);
}

void AppModel::startServer()
{
    // Not stopServer(): whoever waits for the old start waits for this one.
    if (m_server) {
        endSessions({});
        dropServer();
    }
    const fs::path root = padDirectory();
    std::error_code error;
    if (!fs::is_directory(root, error)) {
        // A missing pad would otherwise answer every page with 404.
        setServerError("Couldn\u2019t start: there is no pad folder at " + root.string());
        settleServer();
        return;
    }

    m_server = std::make_unique<Server>(m_io.context(), m_port, StaticFiles(root), LocalNetworkPolicy::admits);
    m_server->setOnSocket(
        [controller = std::weak_ptr(m_controller), live = std::weak_ptr(m_live)](
            const std::shared_ptr<SocketConnection>& connection) {
            const auto heldController = controller.lock();
            const auto heldLive = live.lock();
            if (!heldController || !heldLive) {
                connection->close();
                return;
            }
            const auto handlers = heldController->accept(connection);
            connection->onMessage = [handlers](const WSFrame& frame) {
                if (frame.opcode == WSOpcode::text)
                    handlers.onText(asText(frame.payload));
                else
                    handlers.onBinary(frame.payload);
            };
            connection->onClose = handlers.onClose;
            std::erase_if(heldLive->sockets, [](const auto& weak) { return weak.expired(); });
            heldLive->sockets.push_back(connection);
        });
    m_server->start([alive = std::weak_ptr(m_alive), main = &m_main, attempt = ++m_serverAttempt](
                        std::optional<ServerError> failure) {
        main->post([alive, attempt, failure = std::move(failure)] {
            if (const auto model = alive.lock())
                (*model)->serverStarted(attempt, failure);
        });
    });
}

void AppModel::serverStarted(std::uint64_t attempt, const std::optional<ServerError>& failure)
{
    if (attempt != m_serverAttempt || !m_server || m_stopped)
        return; // a server stopped or replaced since
    if (failure) {
        m_server.reset();
        setServerError(failure->kind() == ServerError::Kind::portInUse
                ? "Port " + std::to_string(m_port) + " is busy"
                : "Couldn\u2019t start: " + failure->description());
    } else {
        m_listening = true;
        setServerError(std::nullopt);
    }
    settleServer();
}

void AppModel::whenServerSettled(std::function<void()> done)
{
    if (m_server && !m_listening && !m_stopped)
        m_serverSettled.push_back(std::move(done));
    else
        done();
}

void AppModel::setPort(std::uint16_t port)
{
    if (port == m_port)
        return;
    m_port = port;
    notify(Field::port);
}

void AppModel::applyPort(std::uint16_t port)
{
    setPort(port);
    m_platform.settings->set(portKey, port);
    saved(m_platform.settings->saveProblem());
    startServer();
}

void AppModel::setActions(std::vector<ActionButton> buttons)
{
    m_actions = std::move(buttons);
    notify(Field::actions);
    // The phone gets the new buttons first, whether or not they can be saved.
    m_io.post([live = m_live, controller = m_controller,
                  buttons = annotated(m_actions)]() mutable {
        live->actions = std::move(buttons);
        controller->broadcastActions();
    });
    saveActions();
}

void AppModel::saveActions()
{
    m_io.post([store = m_actionStore, buttons = m_actions, main = &m_main, alive = std::weak_ptr(m_alive)] {
        std::optional<std::string> problem;
        try {
            store->save(buttons);
        } catch (const std::exception& failure) {
            problem = PrivateFile::describe(failure);
        }
        main->post([alive, problem] {
            if (const auto model = alive.lock()) {
                (*model)->m_actionsProblem = problem;
                (*model)->saved(problem);
            }
        });
    });
}

std::array<std::optional<std::string>, 3> AppModel::saveProblems()
{
    return {m_store->saveProblem(), m_actionsProblem, m_platform.settings->saveProblem()};
}

void AppModel::saved(const std::optional<std::string>& problem)
{
    // A save worked while another file could not be saved: the disk may well
    // be back, so that one tries again now rather than at the next retry.
    const auto problems = saveProblems();
    const bool failing = std::any_of(problems.begin(), problems.end(), [](const auto& p) { return p.has_value(); });
    if (!problem && failing && !m_stopped)
        retryFailedSaves();
    publishSaveProblem();
}

void AppModel::publishSaveProblem()
{
    std::optional<std::string> first;
    for (auto& problem : saveProblems())
        if (!first)
            first = std::move(problem);
    if (!first)
        m_saveRetry.reset();
    else if (!m_saveRetry && !m_stopped)
        m_saveRetry = m_main.every(saveRetryInterval, [this] {
            retryFailedSaves();
            // Not from inside the timer's own run: it may end the timer.
            m_main.post([alive = std::weak_ptr(m_alive)] {
                if (const auto model = alive.lock())
                    (*model)->publishSaveProblem();
            });
        });
    if (first != m_saveProblem) {
        m_saveProblem = std::move(first);
        notify(Field::saveProblem);
    }
}

void AppModel::retryFailedSaves()
{
    m_store->retrySave();
    if (m_actionsProblem)
        saveActions();
    m_platform.settings->retrySave();
}

void AppModel::reloadSystemShortcuts()
{
    if (!m_platform.systemShortcuts)
        return;
    auto shortcuts = m_platform.systemShortcuts();
    if (shortcuts == m_systemShortcuts)
        return;
    m_systemShortcuts = std::move(shortcuts);
    notify(Field::systemShortcuts);
}

void AppModel::checkPermission()
{
    if (const auto request = m_platform.permissions->request(); request != m_permissionRequest) {
        m_permissionRequest = request;
        notify(Field::permissionRequest);
    }
    const bool granted = m_platform.permissions->isTrusted();
    if (granted == m_accessibilityGranted)
        return;
    m_accessibilityGranted = granted;
    notify(Field::accessibilityGranted);
    m_io.post([controller = m_controller, granted] { controller->broadcastAccessibility(granted); });
    if (onAccessibilityChange)
        onAccessibilityChange(granted);
}

void AppModel::checkTrackpadPrefs()
{
    if (!m_platform.trackpadPrefs)
        return;
    m_io.post([live = m_live, controller = m_controller, prefs = m_platform.trackpadPrefs()] {
        if (prefs == live->prefs)
            return;
        live->prefs = prefs;
        controller->broadcastPrefs();
    });
}

void AppModel::frontAppChanged()
{
    const auto app = m_platform.frontApp ? m_platform.frontApp() : std::nullopt;
    if (!app)
        return;
    // Ferlow's own windows do not change what the phone offers.
    if (app->bundleID == FrontApp::ownBundleID)
        return;
    std::optional<AppContext> context;
    if (app->bundleID)
        context = AppShortcuts::context(*app->bundleID, app->name.empty() ? "App" : app->name);
    // The app's own buttons have no clashes to show, but may press nothing
    // in this app on this desktop.
    if (context && m_platform.describeKeys)
        for (auto& button : context->actions)
            if (!m_platform.describeKeys(button.kind, *app->bundleID))
                button.conflict = std::string(ShortcutConflicts::notAvailable);
    m_io.post([live = m_live, controller = m_controller, context = std::move(context),
                  forInput = m_platform.frontAppForInput, bundleID = app->bundleID.value_or("")]() mutable {
        if (forInput)
            forInput(bundleID);
        if (context == live->context)
            return;
        live->context = std::move(context);
        controller->broadcastContext();
    });
}

void AppModel::updateChanged(const UpdateStatus& status)
{
    if (status != m_updateStatus) {
        m_updateStatus = status;
        notify(Field::updateStatus);
    }
    m_io.post([live = m_live, controller = m_controller, status] {
        live->update = status;
        controller->broadcastUpdate();
    });
}

void AppModel::releaseSeen(const ReleaseInfo& release)
{
    saved(m_platform.settings->saveProblem()); // the checker has just kept the document
    if (!asksForTerms() || m_termsNeeded)
        return;
    if (termsAccepted() >= Terms::required(release.terms))
        return;
    m_termsNeeded = true;
    notify(Field::termsNeeded);
    stopServer();
    if (onTermsNeeded)
        onTermsNeeded();
}

void AppModel::agreeToTerms()
{
    const auto release = m_updates->release();
    m_platform.settings->set(termsAcceptedKey, Terms::required(release ? release->terms : std::nullopt));
    saved(m_platform.settings->saveProblem());
    if (m_termsNeeded) {
        m_termsNeeded = false;
        notify(Field::termsNeeded);
    }
    if (!m_server)
        startServer();
}

void AppModel::remove(const Pairing& pairing, SaveDone done)
{
    m_io.post([controller = m_controller, store = m_store, id = pairing.id, main = &m_main,
                  alive = std::weak_ptr(m_alive), done = std::move(done)]() mutable {
        controller->revoke(id);
        main->post([alive, problem = store->flush(), done = std::move(done)] {
            const auto model = alive.lock();
            if (!model)
                return;
            (*model)->refresh();
            (*model)->saved(problem);
            if (done)
                done(problem);
        });
    });
}

void AppModel::lookupSaved(const std::string& id,
    std::function<void(const std::optional<Pairing>&, const std::optional<std::string>&)> done)
{
    m_io.post([store = m_store, id, main = &m_main, alive = std::weak_ptr(m_alive), done = std::move(done)]() mutable {
        // Looked up before the flush: a use that shows here is in what is written.
        auto pairing = store->lookup(id);
        main->post([alive, pairing = std::move(pairing), problem = store->flush(), done = std::move(done)] {
            if (alive.lock())
                done(pairing, problem);
        });
    });
}

std::optional<AppModel::PairingOffer> AppModel::addPhone()
{
    try {
        Pairing pairing = m_store->createPending();
        auto url = pairingURL(pairing);
        if (!url)
            return std::nullopt;
        return PairingOffer {std::move(pairing), std::move(*url)};
    } catch (const RandomSourceError&) {
        return std::nullopt;
    }
}

void AppModel::writeDevPairingIfRequested()
{
    if (!m_environment.devPairingFile)
        return;
    try {
        const auto offer = addPhone();
        if (offer)
            AtomicFile::write(*m_environment.devPairingFile, asBytes(offer->url), 0600);
    } catch (const std::exception&) {
        // A development aid; the run goes on without it.
    }
}

void AppModel::openAtLoginOnFirstRun()
{
    if (m_environment.padDir)
        return;
    // An entry left from before the service was enabled would start Ferlow
    // a second time at login.
    if (loginHandledByService()) {
        if (launchAtLogin())
            setLaunchAtLogin(false);
        return;
    }
    if (!m_options.offerOpenAtLogin || !m_platform.installed)
        return;
    const auto offered = m_platform.settings->get(openAtLoginOfferedKey);
    if (offered && offered->is_boolean() && offered->get<bool>())
        return;
    m_platform.settings->set(openAtLoginOfferedKey, true);
    saved(m_platform.settings->saveProblem());
    if (m_platform.setLoginItem)
        m_platform.setLoginItem(true); // a refusal is not worth a word; the status menu shows the state
}

void AppModel::uninstall(std::function<void(std::vector<std::string>)> done)
{
    std::vector<std::string> ids;
    for (const auto& pairing : m_store->all())
        ids.push_back(pairing.id);
    m_io.post([controller = m_controller, ids] {
        for (const auto& id : ids)
            controller->revoke(id);
    });
    // The files go once every phone has been told and let go.
    stop([remove = m_platform.uninstall, done = std::move(done)] {
        done(remove ? remove() : std::vector<std::string> {});
    });
}

std::optional<std::uint16_t> AppModel::listeningPort() const
{
    return serverRunning() ? m_server->boundPort() : std::nullopt;
}

fs::path AppModel::padDirectory() const
{
    return m_environment.padDir ? *m_environment.padDir : m_platform.padDirectory;
}

std::optional<std::string> AppModel::pairingURL(const Pairing& pairing) const
{
    return ferlow::pairingURL(m_localHost.host, m_port, pairing);
}

std::string AppModel::address() const { return padAddress(m_localHost.host, m_port); }

bool AppModel::launchAtLogin() const { return m_platform.loginItemEnabled && m_platform.loginItemEnabled(); }

bool AppModel::setLaunchAtLogin(bool on)
{
    if (on && loginHandledByService())
        return false;
    return m_platform.setLoginItem && m_platform.setLoginItem(on);
}

bool AppModel::loginHandledByService() const { return m_platform.loginByService && m_platform.loginByService(); }

std::shared_ptr<void> AppModel::observe(Observer observer)
{
    auto held = std::make_shared<Observer>(std::move(observer));
    std::erase_if(m_observers, [](const auto& weak) { return weak.expired(); });
    m_observers.push_back(held);
    return held;
}

void AppModel::notify(Field field)
{
    // A copy: an observer may subscribe or unsubscribe while being told.
    const auto observers = m_observers;
    for (const auto& weak : observers)
        if (const auto observer = weak.lock())
            (*observer)(field);
}

} // namespace ferlow
