#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ferlow {

// Removes the app from the computer: login item, data folder, settings,
// input permission and the app itself, in that order. Every step runs even
// when an earlier one failed; what could not be done comes back as
// instructions for the user. Everything beyond removing the data folder is
// an injected function, so the sequence runs without touching the system.
class Uninstaller final {
public:
    using Run = std::function<std::int32_t(const std::string& path, const std::vector<std::string>& arguments)>;
    using Recycle = std::function<bool(const std::filesystem::path& item)>;
    using Step = std::function<void()>;

    static constexpr std::string_view accessibilityStep =
        "Remove Ferlow from System Settings \u203A Privacy & Security \u203A Accessibility.";
    static constexpr std::string_view accessibilityTool = "/usr/bin/tccutil";
    // How long runTool lets a tool run before it kills it.
    static constexpr std::chrono::milliseconds toolLimit{30000};

    // An empty `run` means runTool.
    Uninstaller(std::filesystem::path supportDirectory, std::filesystem::path appURL, std::string bundleID,
        Run run, Recycle recycle, Step unregisterLogin, Step removeDefaults);

    // Runs on the caller's thread and blocks while the tool runs. Returns the
    // steps left to the user, in order; empty when everything was removed.
    // Throws nothing: an injected function that throws counts as failed.
    std::vector<std::string> perform() const;

    // Starts the executable at `path` with `arguments`, its input, output and
    // errors on the null device, and waits for it to exit. Returns its exit
    // status, 128 + the signal number when a signal ended it (a tool still
    // running after `limit` is killed), or -1 when it could not be started.
    static std::int32_t runTool(const std::string& path, const std::vector<std::string>& arguments,
        std::chrono::milliseconds limit = toolLimit);

    const std::filesystem::path& supportDirectory() const { return m_supportDirectory; }
    const std::filesystem::path& appURL() const { return m_appURL; }
    const std::string& bundleID() const { return m_bundleID; }

private:
    bool removeSupportDirectory() const;
    bool isInApplications() const;

    std::filesystem::path m_supportDirectory;
    std::filesystem::path m_appURL;
    std::string m_bundleID;
    Run m_run;
    Recycle m_recycle;
    Step m_unregisterLogin;
    Step m_removeDefaults;
};

} // namespace ferlow
