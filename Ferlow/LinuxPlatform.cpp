#include "Ferlow/LinuxPlatform.h"

#include <memory>

#include "FerlowCore/LocalNetworkPolicy.h"
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

// What the input line says: the backend, and when there is none, why.
std::string describe(const InputBackend& backend)
{
    if (backend.kind() != InputBackend::Kind::none)
        return std::string(backend.name());
    return "none, so the pointer will not move (" + backend.reasons()
        + "). Let your user write /dev/uinput (a udev rule or the input group), or run Ferlow in an X11 session.";
}

} // namespace

fs::path LinuxPlatform::program()
{
    std::error_code error;
    const auto path = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path("ferlow") : path;
}

fs::path LinuxPlatform::bundledPadDirectory()
{
    const auto programs = program().parent_path();
    const fs::path candidates[] {programs.parent_path() / "pad", programs.parent_path() / "share" / "ferlow" / "pad"};
    std::error_code error;
    for (const auto& candidate : candidates)
        if (fs::is_directory(candidate, error))
            return candidate;
    return candidates[1];
}

Platform LinuxPlatform::make(MainContext& main, Tell tell)
{
    Platform platform;
    platform.settings = std::make_shared<JsonSettingsStore>(XdgPaths::configDirectory() / "settings.json");
    platform.supportDirectory = XdgPaths::supportDirectory();
    platform.padDirectory = bundledPadDirectory();
    platform.uninstall = uninstall;
    platform.localHostName = LocalNetworkPolicy::localHostName();

    // Input: the backend chosen now, behind the chord mapper that turns the
    // phone's key chords into this desktop's.
    auto loaded = KeyProfile::load(KeyProfile::currentDesktop(), KeyProfile::userFilePath());
    if (loaded.problem && tell)
        tell(*loaded.problem);
    InputBackend::Options options;
    options.order = InputBackend::sessionOrder();
    // Reported on the I/O queue, once; told on the main context. Losing the
    // backend is the one way the permission changes once it was chosen.
    const auto lossListener = std::make_shared<std::function<void()>>();
    options.onLoss = [&main, tell, lossListener](const std::string& message) {
        main.post([tell, message, lossListener] {
            if (tell)
                tell(message);
            if (*lossListener)
                (*lossListener)();
        });
    };
    const auto backend = std::make_shared<InputBackend>(InputBackend::choose(options));
    platform.inputBackend = describe(*backend);
    platform.permissions = std::make_shared<LinuxPermissions>(
        [backend] { return backend->canInject(); }, XdgPaths::supportDirectory() / "input-help.html");
    const auto mapper = std::make_shared<ChordMapper>(loaded.profile, backend->sink());
    platform.makePoster = [mapper] { return mapper; };
    platform.frontAppForInput = [mapper](const std::string& bundleID) { mapper->setFrontApp(bundleID); };
    platform.releaseInput = [mapper] { mapper->releaseAll(); };
    platform.systemShortcuts = [profile = loaded.profile] { return DesktopShortcuts::read(profile); };
    platform.reservedOwner = std::string(loaded.profile.desktopName());
    platform.reserved = loaded.profile.reserved();

    // Displays and pointer: read once here, then only on the I/O queue.
    const auto displays = std::make_shared<X11Displays>();
    platform.layout = [displays] { return displays->layout(); };
    platform.cursor = [displays] { return displays->cursor(); };

    // The front application: the watcher delivers each change on the main
    // context; the model reads the latest when told.
    const auto front = std::make_shared<std::optional<FrontApp>>();
    platform.frontApp = [front] { return *front; };
    platform.observeFrontApp = [&main, front](std::function<void()> changed) -> std::shared_ptr<void> {
        auto watcher = std::make_shared<FrontAppWatcher>([&main](FrontAppWatcher::Task task) { main.post(std::move(task)); },
            [front, changed = std::move(changed)](const FrontApp& app) {
                *front = app;
                changed();
            });
        if (!watcher->connected())
            return nullptr;
        return watcher;
    };

    platform.observePermission = [lossListener](std::function<void()> changed) -> std::shared_ptr<void> {
        *lossListener = std::move(changed);
        return std::shared_ptr<void>(lossListener.get(), [lossListener](void*) { *lossListener = nullptr; });
    };

    const auto settings = std::make_shared<DesktopSettings>(DesktopSettings::fromEnvironment());
    platform.trackpadPrefs = [settings] { return settings->trackpadPrefs(); };
    platform.observeTrackpadPrefs = [&main, settings](std::function<void()> changed) {
        return settings->watch([&main, changed = std::move(changed)] { main.post(changed); });
    };

    const auto autostart = std::make_shared<Autostart>(XdgPaths::autostartEntry(), program());
    platform.loginItemEnabled = [autostart] { return autostart->isEnabled(); };
    platform.setLoginItem = [autostart](bool on) { return on ? autostart->enable() : autostart->disable(); };
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
        std::error_code error;
        for (const auto& rule : fs::directory_iterator("/etc/udev/rules.d", error))
            if (rule.path().filename().string().find("ferlow") != std::string::npos)
                return "Remove the udev rule " + rule.path().string() + " (as root).";
        return std::nullopt;
    };
    steps.revokePermission.instruction = "Remove any udev rule for Ferlow from /etc/udev/rules.d (as root).";
    steps.removeApp.perform = []() -> std::optional<std::string> {
        const auto path = program().string();
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
    if (!gone(XdgPaths::configHome() / "systemd" / "user" / "default.target.wants" / "ferlow.service"))
        left.insert(left.empty() ? left.end() : left.end() - 1,
            "Turn off the service: systemctl --user disable --now ferlow.service");
    return left;
}

} // namespace ferlow
