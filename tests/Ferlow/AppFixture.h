#pragma once

// A real app model on a hand-run main context with a fake clock, a real I/O
// thread, a real server on loopback and real files in a temporary folder;
// fakes only where the model meets the desktop.

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "Ferlow/AppModel.h"
#include "Ferlow/MainContext.h"
#include "FerlowHost/MemorySettingsStore.h"
#include "FerlowLinux/KeyProfile.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/RecordingPoster.h"
#include "tests/Support/TestSupport.h"

namespace ferlow::test {

// Tasks wait until the test runs them, and timers fire only when the test
// moves the clock. Other threads may post at any time.
class ManualMainContext final : public MainContext {
public:
    double timerLateness = 0; // how late each timer fires, as on a busy main thread

    void post(Task task) override
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }

    std::unique_ptr<Timer> every(double interval, Task task) override
    {
        auto state = std::make_shared<TimerState>(TimerState {m_now + interval, interval, std::move(task)});
        m_timers.push_back(state);
        return std::make_unique<Handle>(state);
    }

    double now() const override { return m_now; }

    // Runs queued tasks, and those they queue, until none is left.
    void runPending()
    {
        for (;;) {
            std::unique_lock lock(m_mutex);
            if (m_tasks.empty())
                return;
            Task task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
    }

    // Moves the clock on, firing every timer that falls due on the way in
    // time order, with the queued tasks run after each.
    void advance(double seconds)
    {
        const double end = m_now + seconds;
        for (;;) {
            runPending();
            std::erase_if(m_timers, [](const auto& timer) { return timer->cancelled; });
            const auto next = std::min_element(
                m_timers.begin(), m_timers.end(), [](const auto& a, const auto& b) { return a->due < b->due; });
            if (next == m_timers.end() || (*next)->due + timerLateness > end)
                break;
            const auto timer = *next;
            m_now = timer->due + timerLateness;
            timer->due += timer->interval;
            timer->task();
        }
        m_now = end;
    }

    // Runs tasks as they arrive until `done` holds or patience runs out.
    template <typename Predicate> bool runUntil(Predicate done)
    {
        return eventually([&] { return runPending(), done(); });
    }

private:
    struct TimerState {
        double due, interval;
        Task task;
        bool cancelled = false;
    };
    struct Handle final : Timer {
        explicit Handle(std::shared_ptr<TimerState> timer) : state(std::move(timer)) { }
        ~Handle() override { state->cancelled = true; }
        std::shared_ptr<TimerState> state;
    };

    double m_now = 1000;
    std::vector<std::shared_ptr<TimerState>> m_timers;
    std::mutex m_mutex;
    std::deque<Task> m_tasks;
};

struct FakePermissions final : Permissions {
    bool isTrusted() const override { return trusted; }
    void prompt() override { ++prompts; }
    void openSettings() override { }
    Request request() const override { return requested; }
    bool desktopAsks() const override { return asks; }
    std::atomic<bool> trusted {true};
    std::atomic<Request> requested {Request::none};
    int prompts = 0;
    bool asks = false;
};

// A release document that asks for agreement to newer terms.
inline ReleaseInfo newerTerms()
{
    ReleaseInfo release;
    return release.terms = 2, release;
}

struct AppSetup {
    bool trusted = true;
    bool termsAgreed = true;
    std::string inputBackend = "uinput";
    Permissions::Request request = Permissions::Request::none;
    bool desktopAsks = false; // as the portal does on Wayland
    KeyProfile::Desktop desktop = KeyProfile::Desktop::gnome;
};

// A pretend desktop and its model; makeModel() makes others on it.
struct AppFixture {
    explicit AppFixture(AppSetup setup = {}) : inputBackend(setup.inputBackend), keys(std::make_shared<const KeyProfile>(setup.desktop))
    {
        writeFile(folder.path() / "pad" / "index.html", "<p>pad</p>");
        settings->set(AppModel::portKey, freePort());
        if (setup.termsAgreed)
            settings->set(AppModel::termsAcceptedKey, 1);
        permissions->trusted = setup.trusted;
        permissions->requested = setup.request;
        permissions->asks = setup.desktopAsks;
        model = makeModel();
    }

    std::unique_ptr<AppModel> makeModel(AppEnvironment environment = {}, bool offerOpenAtLogin = true)
    {
        const auto fetch = [this](const std::string&, UpdateChecker::Completion done) {
            ++requests;
            done(release.empty() ? std::nullopt : std::optional<Bytes>(toBytes(release)));
        };
        Platform p;
        p.settings = settings;
        p.permissions = permissions;
        p.makePoster = makePoster ? makePoster : [this]() -> std::shared_ptr<EventPoster> { return poster; };
        p.inputBackend = inputBackend;
        p.frontApp = [this] { return front; };
        p.setLoginItem = [this](bool on) { return loginItemWorks && (loginItem = on, true); };
        p.loginItemEnabled = [this] { return loginItem; };
        p.loginByService = [this] { return loginByService; };
        p.installed = installed;
        p.trackpadPrefs = [this] { return prefs; };
        if (desktopTells) {
            const auto follow = [](std::function<void()>& tell) {
                return [&tell](std::function<void()> changed) -> std::shared_ptr<void> {
                    tell = std::move(changed);
                    return std::make_shared<int>();
                };
            };
            p.observePermission = follow(permissionChanged);
            p.observeTrackpadPrefs = follow(prefsChanged);
        }
        p.systemShortcuts = [this] { return shortcuts; };
        p.describeKeys = [keys = keys](const ActionKind& kind, std::string_view app) { return keys->describe(kind, app); };
        p.supportDirectory = support;
        p.padDirectory = folder.path() / "pad";
        p.uninstall = [] { return std::vector<std::string> {}; };
        p.localHost = localHost;
        p.observeLocalHost = [this](std::function<void(const LocalHost&)> changed) {
            auto held = std::make_shared<std::function<void(const LocalHost&)>>(std::move(changed));
            localHostObserver = held;
            (*held)(localHost);
            return std::shared_ptr<void>(held);
        };
        return std::make_unique<AppModel>(main, io, p, std::move(environment), AppModel::Options {"1.0", fetch, offerOpenAtLogin});
    }

    // Phones find the computer elsewhere now, as the platform would say.
    void moveTo(LocalHost host)
    {
        localHost = std::move(host);
        if (const auto observer = localHostObserver.lock())
            (*observer)(localHost);
    }

    // Runs the main context until the model's server start has its outcome.
    bool serverSettled()
    {
        bool settled = false;
        model->whenServerSettled([&] { settled = true; });
        return main.runUntil([&] { return settled; });
    }
    bool start() { return model->start(), serverSettled(); }

    // A phone paired just now, connected and shown as connected; throws if not.
    std::unique_ptr<LoopbackPhone> connectPhone(const std::string& name = "Pixel")
    {
        auto phone = std::make_unique<LoopbackPhone>(*model->listeningPort(), model->store().createPending());
        if (!phone->connect(name).is<MacMessage::Ready>() || !main.runUntil([&] { return model->connectedDevice() == name; }))
            throw std::runtime_error("the phone did not connect");
        return phone;
    }

    // A phone that has paired and connected once, just now.
    Pairing usedPairing(const std::string& name)
    {
        const auto pairing = model->store().createPending();
        model->store().markUsed(pairing.id, name);
        model->refresh();
        return *model->store().lookup(pairing.id);
    }

    TemporaryDirectory folder;
    std::filesystem::path support = folder.path() / "data";
    std::shared_ptr<MemorySettingsStore> settings = std::make_shared<MemorySettingsStore>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::string inputBackend;
    std::function<std::shared_ptr<EventPoster>()> makePoster; // empty: `poster`
    std::vector<SystemShortcut> shortcuts;
    std::shared_ptr<const KeyProfile> keys;
    std::optional<FrontApp> front;
    TrackpadPrefs prefs = TrackpadPrefs::builtIn(true);
    LocalHost localHost {"desk.local", true};
    std::weak_ptr<std::function<void(const LocalHost&)>> localHostObserver;
    bool loginItem = false, loginItemWorks = true, loginByService = false, installed = true;
    bool desktopTells = true; // of changes to the permission and the settings, through these:
    std::function<void()> permissionChanged, prefsChanged;
    std::string release; // the update website's document; none when empty
    int requests = 0;
    ManualMainContext main;
    IOQueue io;
    std::unique_ptr<AppModel> model;
};

} // namespace ferlow::test
