#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ferlow {

// Removes the app from the computer: login item, data folder, settings,
// input permission and the app itself, in that order. Every step runs even
// when an earlier one failed; what could not be done comes back as
// instructions for the user. Everything beyond removing the data folder is
// an injected step, so the sequence runs without touching the system, and
// each platform brings its own steps and words.
class Uninstaller final {
public:
    using Step = std::function<void()>;

    // A step only the platform knows how to take. `perform` does it and
    // returns what is left for the user to do by hand, or nothing when it is
    // done; `instruction` is what the user is told when `perform` throws. An
    // empty `perform` means the platform has nothing to do here.
    struct PlatformStep {
        std::function<std::optional<std::string>()> perform;
        std::string instruction;
    };

    struct Steps {
        Step unregisterLogin;          // the login item (an autostart entry)
        Step removeDefaults;           // the stored settings
        PlatformStep revokePermission; // the permission to post input
        PlatformStep removeApp;        // the app itself
    };

    Uninstaller(std::filesystem::path supportDirectory, Steps steps);

    // Runs on the caller's thread and blocks while the steps run. Returns
    // the steps left to the user, in order; empty when everything was
    // removed. Throws nothing: an injected step that throws counts as failed.
    std::vector<std::string> perform() const;

    const std::filesystem::path& supportDirectory() const { return m_supportDirectory; }

    // Whether perform() may delete `folder`: an absolute path other than the
    // root. A relative one would be resolved against whatever the working
    // folder happens to be, and the root is never anybody's data folder.
    static bool mayRemove(const std::filesystem::path& folder);

private:
    bool removeSupportDirectory() const;

    std::filesystem::path m_supportDirectory;
    Steps m_steps;
};

} // namespace ferlow
