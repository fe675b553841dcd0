#pragma once

#include <filesystem>
#include <optional>

namespace ferlow {

// Where Ferlow keeps its files, after the XDG Base Directory rules:
// a variable that is unset, empty or not an absolute path is ignored and the
// default it names under the home folder is used.
struct XdgPaths {
    // $HOME, else the password database's home folder, else "/".
    static std::filesystem::path home();
    // $XDG_DATA_HOME, else ~/.local/share.
    static std::filesystem::path dataHome();
    // $XDG_CONFIG_HOME, else ~/.config.
    static std::filesystem::path configHome();
    // $XDG_RUNTIME_DIR; the rules name no default for it.
    static std::optional<std::filesystem::path> runtimeHome();

    // The pairings and buttons: dataHome()/Ferlow.
    static std::filesystem::path supportDirectory() { return dataHome() / "Ferlow"; }
    // settings.json and keys.json: configHome()/Ferlow.
    static std::filesystem::path configDirectory() { return configHome() / "Ferlow"; }
    // The XDG Autostart entry that opens Ferlow at login.
    static std::filesystem::path autostartEntry() { return configHome() / "autostart" / "ferlow.desktop"; }

    // Creates `folder` (and its parents) if needed and makes it owner-only
    // (0700). False when it is not a folder afterwards.
    static bool makePrivateDirectory(const std::filesystem::path& folder);
};

} // namespace ferlow
