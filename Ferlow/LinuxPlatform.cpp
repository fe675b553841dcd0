#include "Ferlow/LinuxPlatform.h"

#include <memory>

#include <glib.h>

#include "FerlowHost/Uninstaller.h"
#include "FerlowLinux/Autostart.h"
#include "FerlowLinux/ChordMapper.h"
#include "FerlowLinux/DesktopSettings.h"
#include "FerlowLinux/DesktopShortcuts.h"
#include "FerlowLinux/FrontAppWatcher.h"
#include "FerlowLinux/InputBackend.h"
#include "FerlowLinux/JsonSettingsStore.h"
#include "FerlowLinux/KeyProfile.h"
#include "FerlowLinux/LinuxPermissions.h"
#include "FerlowLinux/LocalHostWatcher.h"
#include "FerlowLinux/UserService.h"
#include "FerlowLinux/X11Displays.h"
#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

bool gone(const fs::path& path)
{
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::not_found;
}

// Where the portal's restore token is kept between runs.
constexpr std::string_view portalTokenKey = "portalRestoreToken";

// What the input line names.
std::string describe(const InputBackend& backend)
{
    if (backend.kind() == InputBackend::Kind::portal)
        return "the desktop\u2019s RemoteDesktop portal";
    return std::string(backend.name()) + (backend.typing().empty() ? "" : ", " + backend.typing());
}

// Why there is no backend, and what to do about it.
std::string problem(const InputBackend& backend)
{
    if (backend.kind() != InputBackend::Kind::none)
        return {};
    return "The pointer will not move (" + backend.reasons()
        + "). Use a Wayland desktop with a RemoteDesktop portal, log in to an X11 session, or let your user write "
          "/dev/uinput (a udev rule or the input group).";
}

Permissions::Request request(PortalPoster::State state)
{
    switch (state) {
    case PortalPoster::State::starting:
        return Permissions::Request::pending;
    case PortalPoster::State::refused:
        return Permissions::Request::refused;
    case PortalPoster::State::ended:
        return Permissions::Request::ended;
    case PortalPoster::State::idle:
    case PortalPoster::State::active:
        break;
    }
    return Permissions::Request::none;
}

// The user service that runs `ferlow --headless` at login, enabled by the
// user or, for everybody, by the administrator.
UserService loginService()
{
    return UserService("ferlow.service", {XdgPaths::configHome() / "systemd" / "user", "/etc/systemd/user"});
}

// Whether an installed Debian package holds `file`, so that removing the
// package removes it.
bool packaged(const fs::path& file)
{
    // dpkg-query only reads its database, so it neither waits on a lock nor
    // asks anything.
    const std::string path = file.string();
    const char* arguments[] = {"/usr/bin/dpkg-query", "--search", path.c_str(), nullptr};
    gint status = 0;
    return g_spawn_sync(nullptr, const_cast<gchar**>(arguments), nullptr,
               static_cast<GSpawnFlags>(G_SPAWN_STDOUT_TO_DEV_NULL | G_SPAWN_STDERR_TO_DEV_NULL), nullptr, nullptr,
               nullptr, nullptr, &status, nullptr)
        && g_spawn_check_wait_status(status, nullptr);
}

// A build tree serves build/pad from beside its Ferlow/ folder; an install
// has the pad in share/ferlow/pad under its prefix.
fs::path buildTreePad(const fs::path& program) { return program.parent_path().parent_path() / "pad"; }
fs::path installedPad(const fs::path& program) { return program.parent_path().parent_path() / "share" / "ferlow" / "pad"; }

} // namespace

fs::path LinuxPlatform::program()
{
    std::error_code error;
    auto path = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return "ferlow";
    // A package upgrade replaces the file while it runs, and the kernel then
    // names the old one "<path> (deleted)"; the path is the new program's.
    static constexpr std::string_view replaced = " (deleted)";
    if (auto name = path.string(); name.ends_with(replaced)) {
        name.resize(name.size() - replaced.size());
        path = name;
    }
    return path;
}

bool LinuxPlatform::installed()
{
    std::error_code error;
    const auto self = program();
    return !fs::is_directory(buildTreePad(self), error) && fs::is_directory(installedPad(self), error);
}

fs::path LinuxPlatform::bundledPadDirectory()
{
    const auto self = program();
    std::error_code error;
    return fs::is_directory(buildTreePad(self), error) ? buildTreePad(self) : installedPad(self);
}

Platform LinuxPlatform::make(MainContext& main, IOQueue& io, Tell tell)
{
    Platform platform;
    const auto settings = std::make_shared<JsonSettingsStore>(XdgPaths::configDirectory() / "settings.json");
    platform.settings = settings;
    platform.supportDirectory = XdgPaths::supportDirectory();
    platform.padDirectory = bundledPadDirectory();
    platform.uninstall = uninstall;

    // Where phones find this computer: the watcher answers on its own
    // thread; the latest answer is kept here, on the main context.
    struct Following {
        LocalHost current;
        std::weak_ptr<std::function<void(const LocalHost&)>> changed;
    };
    const auto following = std::make_shared<Following>();
    const auto hostWatcher = std::make_shared<LocalHostWatcher>(
        [&main](LocalHostWatcher::Task task) { main.post(std::move(task)); },
        [following](const LocalHost& host) {
            following->current = host;
            if (const auto changed = following->changed.lock())
                (*changed)(host);
        });
    following->current = platform.localHost = hostWatcher->first();
    platform.observeLocalHost = [hostWatcher, following](std::function<void(const LocalHost&)> changed) {
        auto held = std::make_shared<std::function<void(const LocalHost&)>>(std::move(changed));
        following->changed = held;
        (*held)(following->current);
        return std::shared_ptr<void>(std::move(held));
    };

    // Input: the backend chosen now, behind the chord mapper that turns the
    // phone's key chords into this desktop's.
    auto loaded = KeyProfile::load(KeyProfile::currentDesktop(), KeyProfile::userFilePath());
    if (loaded.problem && tell)
        tell(*loaded.problem);
    const auto session = InputBackend::session();
    InputBackend::Options options;
    options.session = session;
    // Reported on the I/O queue or the portal's thread, once; told on the
    // main context. Losing the backend, and the portal's answer, are how the
    // permission changes once a backend was chosen: whoever follows it is
    // told then.
    const auto permissionListener = std::make_shared<std::function<void()>>();
    const auto permissionChanged = [&main, permissionListener] {
        main.post([permissionListener] {
            if (*permissionListener)
                (*permissionListener)();
        });
    };
    const auto told = [&main, tell, permissionChanged](const std::string& message) {
        if (tell)
            main.post([tell, message] { tell(message); });
        permissionChanged();
    };
    options.onLoss = told;
    // The portal's consent is remembered through the token of its last
    // start, which the next start hands back.
    if (const auto token = settings->get(portalTokenKey); token && token->is_string())
        options.portal.restoreToken = token->get<std::string>();
    const bool remembered = !options.portal.restoreToken.empty();
    options.portal.onToken = [&main, settings](const std::string& token) {
        main.post([settings, token] {
            if (token.empty())
                settings->remove(portalTokenKey);
            else
                settings->set(portalTokenKey, token);
        });
    };
    options.portal.onChange = [told, permissionChanged](PortalPoster::State state, const std::string& why) {
        if (state == PortalPoster::State::refused || state == PortalPoster::State::ended)
            told(why);
        else
            permissionChanged();
    };
    options.defer = [&io](std::chrono::milliseconds delay, std::function<void()> task) { io.after(delay, std::move(task)); };
    // Whoever listens for untyped characters is named later, on the I/O queue.
    const auto untyped = std::make_shared<std::function<void(const std::string&)>>();
    options.untyped = [untyped](const std::string& characters) {
        if (*untyped)
            (*untyped)(characters);
    };
    const auto backend = std::make_shared<InputBackend>(InputBackend::choose(std::move(options)));
    platform.inputBackend = describe(*backend);
    platform.inputProblem = problem(*backend);
    platform.typing = backend->canType();
    platform.reportUntypedTo = [untyped](std::function<void(const std::string&)> report) { *untyped = std::move(report); };
    LinuxPermissions::DesktopRequest desktop;
    if (const auto portal = backend->portal()) {
        desktop.ask = [portal] { portal->start(); };
        desktop.state = [portal] { return request(portal->state()); };
        // A consent given before comes back without a dialog; the first
        // one is asked for where the user can see why (the onboarding, or
        // the daemon's start).
        if (remembered)
            portal->start();
    }
    platform.permissions = std::make_shared<LinuxPermissions>([backend] { return backend->canInject(); },
        XdgPaths::supportDirectory() / "input-help.html", LinuxPermissions::Open {}, std::move(desktop));
    const auto mapper = std::make_shared<ChordMapper>(loaded.profile, backend->sink());
    platform.makePoster = [mapper] { return mapper; };
    platform.frontAppForInput = [mapper](const std::string& bundleID) { mapper->setFrontApp(bundleID); };
    platform.releaseInput = [mapper] { mapper->releaseAll(); };
    platform.systemShortcuts = [profile = loaded.profile] { return DesktopShortcuts::read(profile); };
    platform.reservedOwner = std::string(loaded.profile.desktopName());
    platform.reserved = loaded.profile.reserved();
    platform.describeKeys = [profile = std::make_shared<const KeyProfile>(loaded.profile)](
                                const ActionKind& kind, std::string_view app) { return profile->describe(kind, app); };

    // Displays and pointer: read once here, then only on the I/O queue.
    const auto displays = std::make_shared<X11Displays>();
    platform.layout = [displays] { return displays->layout(); };
    platform.cursor = [displays] { return displays->cursor(); };

    // The front application: the watcher delivers each change on the main
    // context; the model reads the latest when told. Under Wayland, X shows
    // only XWayland's windows, so it would name the wrong application.
    platform.frontAppKnown = session != InputBackend::Session::wayland;
    if (platform.frontAppKnown) {
        const auto front = std::make_shared<std::optional<FrontApp>>();
        platform.frontApp = [front] { return *front; };
        platform.observeFrontApp = [&main, front](std::function<void()> changed) -> std::shared_ptr<void> {
            auto watcher = std::make_shared<FrontAppWatcher>(
                [&main](FrontAppWatcher::Task task) { main.post(std::move(task)); },
                [front, changed = std::move(changed)](const FrontApp& app) {
                    *front = app;
                    changed();
                });
            if (!watcher->connected())
                return nullptr;
            return watcher;
        };
    }

    platform.observePermission = [permissionListener](std::function<void()> changed) -> std::shared_ptr<void> {
        *permissionListener = std::move(changed);
        return std::shared_ptr<void>(permissionListener.get(), [permissionListener](void*) { *permissionListener = nullptr; });
    };

    const auto desktopSettings = std::make_shared<DesktopSettings>(DesktopSettings::fromEnvironment());
    platform.trackpadPrefs = [desktopSettings] { return desktopSettings->trackpadPrefs(); };
    platform.observeTrackpadPrefs = [&main, desktopSettings](std::function<void()> changed) {
        return desktopSettings->watch([&main, changed = std::move(changed)] { main.post(changed); });
    };

    platform.installed = installed();
    const auto autostart = std::make_shared<Autostart>(XdgPaths::autostartEntry(), program());
    // An entry that another copy of Ferlow wrote (a build tree, an earlier
    // install) is made to start this one, the installed program.
    if (platform.installed && autostart->isEnabled() && !autostart->startsProgram())
        autostart->enable();
    platform.loginItemEnabled = [autostart] { return autostart->isEnabled(); };
    platform.setLoginItem = [autostart](bool on) { return on ? autostart->enable() : autostart->disable(); };
    platform.loginByService = [] { return loginService().isEnabled(); };
    return platform;
}

std::vector<std::string> LinuxPlatform::uninstall()
{
    const Autostart autostart(XdgPaths::autostartEntry(), program());
    const auto settings = XdgPaths::configDirectory();
    Uninstaller::Steps steps;
    steps.unregisterLogin = [&] { autostart.disable(); };
    steps.removeDefaults = [&] {
        std::error_code ignored;
        fs::remove_all(settings, ignored);
    };
    // Writing /dev/uinput is granted by a udev rule or a group the
    // administrator set up; only they can take it back.
    steps.revokePermission.perform = []() -> std::optional<std::string> {
        if (packaged("/usr/lib/udev/rules.d/70-ferlow-uinput.rules"))
            return "Remove the ferlow-uinput package, which lets your programs write /dev/uinput: sudo apt remove ferlow-uinput";
        std::error_code error;
        for (const auto& rule : fs::directory_iterator("/etc/udev/rules.d", error))
            if (rule.path().filename().string().find("ferlow") != std::string::npos)
                return "Remove the udev rule " + rule.path().string() + " (as root).";
        return std::nullopt;
    };
    steps.revokePermission.instruction = "Remove any udev rule for Ferlow from /etc/udev/rules.d (as root).";
    steps.removeApp.perform = []() -> std::optional<std::string> {
        const auto path = program().string();
        // Removing the package leaves the user's files, as Debian packages do;
        // this uninstall has taken those already.
        if (packaged(path))
            return "Remove the ferlow package: sudo apt remove ferlow";
        if (path.starts_with("/usr/") && !path.starts_with("/usr/local/"))
            return "Remove the ferlow package with your package manager.";
        return "Delete the program " + path + ".";
    };
    steps.removeApp.instruction = "Delete the ferlow program.";

    auto left = Uninstaller(XdgPaths::supportDirectory(), std::move(steps)).perform();
    // The steps above report nothing themselves; what they left behind is
    // the user's to remove.
    if (!gone(settings))
        left.insert(left.begin(), "Remove the folder " + settings.string() + ".");
    if (!gone(autostart.entry()))
        left.insert(left.begin(), "Remove the file " + autostart.entry().string() + ".");
    if (loginService().isEnabled())
        left.insert(left.empty() ? left.end() : left.end() - 1,
            "Turn off the service: systemctl --user disable --now ferlow.service");
    return left;
}

} // namespace ferlow
