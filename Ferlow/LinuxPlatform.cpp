#include "Ferlow/LinuxPlatform.h"

#include <memory>

#include "FerlowCore/LocalNetworkPolicy.h"
#include "FerlowLinux/Autostart.h"
#include "FerlowLinux/DesktopSettings.h"
#include "FerlowLinux/FrontAppWatcher.h"
#include "FerlowLinux/JsonSettingsStore.h"
#include "FerlowLinux/LinuxPermissions.h"
#include "FerlowLinux/X11Displays.h"
#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

// Until a real backend is chosen: input is accepted and dropped.
struct NoInput final : EventPoster {
    void post(const std::vector<EventSpec>&) override { }
};

// Removes a folder with everything in it; true when nothing is left.
bool removeFolder(const fs::path& folder)
{
    std::error_code error;
    fs::remove_all(folder, error);
    return fs::symlink_status(folder, error).type() == fs::file_type::not_found;
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

Platform LinuxPlatform::make(MainContext& main)
{
    Platform platform;
    platform.settings = std::make_shared<JsonSettingsStore>(XdgPaths::configDirectory() / "settings.json");
    auto input = std::make_shared<NoInput>();
    platform.permissions = std::make_shared<LinuxPermissions>(
        [] { return true; }, XdgPaths::supportDirectory() / "input-help.html");
    platform.makePoster = [input] { return input; };
    platform.inputBackend = "none";
    const auto autostart = std::make_shared<Autostart>(XdgPaths::autostartEntry(), program());
    platform.loginItemEnabled = [autostart] { return autostart->isEnabled(); };
    platform.setLoginItem = [autostart](bool on) { return on ? autostart->enable() : autostart->disable(); };

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

    const auto settings = std::make_shared<DesktopSettings>(DesktopSettings::fromEnvironment());
    platform.trackpadPrefs = [settings] { return settings->trackpadPrefs(); };
    platform.systemShortcuts = [] { return std::vector<SystemShortcut> {}; };
    platform.supportDirectory = XdgPaths::supportDirectory();
    platform.padDirectory = bundledPadDirectory();
    platform.uninstall = uninstall;
    platform.localHostName = LocalNetworkPolicy::localHostName();
    return platform;
}

std::vector<std::string> LinuxPlatform::uninstall()
{
    std::vector<std::string> left;
    const Autostart autostart(XdgPaths::autostartEntry(), program());
    if (!autostart.disable())
        left.push_back("Remove the file " + autostart.entry().string() + ".");
    for (const auto& folder : {XdgPaths::supportDirectory(), XdgPaths::configDirectory()})
        if (!removeFolder(folder))
            left.push_back("Remove the folder " + folder.string() + ".");

    // What only the administrator, or the user's service manager, undoes.
    std::error_code error;
    for (const auto& rule : fs::directory_iterator("/etc/udev/rules.d", error)) {
        if (rule.path().filename().string().find("ferlow") != std::string::npos)
            left.push_back("Remove the udev rule " + rule.path().string() + " (as root).");
    }
    if (fs::exists(XdgPaths::configHome() / "systemd" / "user" / "default.target.wants" / "ferlow.service", error))
        left.emplace_back("Turn off the service: systemctl --user disable --now ferlow.service");
    const auto path = program().string();
    if (path.starts_with("/usr/") && !path.starts_with("/usr/local/"))
        left.emplace_back("Remove the ferlow package with your package manager.");
    else
        left.push_back("Delete the program " + path + ".");
    return left;
}

} // namespace ferlow
