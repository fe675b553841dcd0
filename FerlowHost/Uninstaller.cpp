#include "FerlowHost/Uninstaller.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace ferlow {

namespace fs = std::filesystem;

namespace {

// Runs an injected step; one that throws has failed, and the sequence goes on.
template<typename Result, typename Function, typename... Arguments>
Result attempt(Result failed, const Function& function, const Arguments&... arguments)
{
    try {
        return function(arguments...);
    } catch (...) {
        return failed;
    }
}

void attempt(const Uninstaller::Step& step)
{
    try {
        step();
    } catch (...) {
    }
}

std::int32_t exitStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status); // the shell's convention
    return -1;
}

} // namespace

Uninstaller::Uninstaller(fs::path supportDirectory, fs::path appURL, std::string bundleID,
    Run run, Recycle recycle, Step unregisterLogin, Step removeDefaults)
    : m_supportDirectory(std::move(supportDirectory))
    , m_appURL(std::move(appURL))
    , m_bundleID(std::move(bundleID))
    , m_run(std::move(run))
    , m_recycle(std::move(recycle))
    , m_unregisterLogin(std::move(unregisterLogin))
    , m_removeDefaults(std::move(removeDefaults))
{
    if (!m_run)
        m_run = [](const std::string& path, const std::vector<std::string>& arguments) { return runTool(path, arguments); };
}

std::vector<std::string> Uninstaller::perform() const
{
    std::vector<std::string> left;

    attempt(m_unregisterLogin);

    if (!removeSupportDirectory())
        left.push_back("Remove the folder " + m_supportDirectory.string() + ".");

    attempt(m_removeDefaults);

    const std::vector<std::string> arguments{"reset", "Accessibility", m_bundleID};
    if (attempt<std::int32_t>(-1, m_run, std::string(accessibilityTool), arguments) != 0)
        left.emplace_back(accessibilityStep);

    if (isInApplications()) {
        if (!attempt(false, m_recycle, m_appURL))
            left.emplace_back("Move Ferlow from Applications to the Trash.");
    } else {
        left.emplace_back("Move the Ferlow app to the Trash.");
    }
    return left;
}

// True when nothing is left at the folder's path.
bool Uninstaller::removeSupportDirectory() const
{
    // A relative path would be resolved against whatever the working folder
    // happens to be, and the root is never anybody's data folder: neither is
    // removed, and the user is told about the folder instead.
    const fs::path folder = m_supportDirectory.lexically_normal();
    if (folder.is_absolute() && !folder.relative_path().empty()) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // Anything but a definite "not there", a failed look included, counts as
    // still there: the user is better told once too often than not at all.
    std::error_code error;
    return fs::symlink_status(m_supportDirectory, error).type() == fs::file_type::not_found;
}

// Installed apps sit in an "Applications" folder, the system's or the
// user's own; one on another volume (a mounted disk image) is left alone.
bool Uninstaller::isInApplications() const
{
    if (m_appURL.native().starts_with("/Volumes/"))
        return false;
    for (const auto& component : m_appURL) {
        if (component == "Applications")
            return true;
    }
    return false;
}

std::int32_t Uninstaller::runTool(const std::string& path, const std::vector<std::string>& arguments,
    std::chrono::milliseconds limit)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    // A tool that waited for input would hold the caller forever; one that
    // writes would write into whatever the app's own output is.
    const bool redirected = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0
        && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0
        && posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0) == 0;

    std::vector<std::string> strings;
    strings.reserve(arguments.size() + 1);
    strings.push_back(path);
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(strings.size() + 1);
    for (auto& string : strings)
        argv.push_back(string.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = redirected ? posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) : -1;
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;

    // POSIX has no waitpid with a time-out: poll, starting fast because
    // most tools are done within a few milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto pause = std::chrono::milliseconds(1);
    int status = 0;
    for (;;) {
        const pid_t reaped = waitpid(pid, &status, WNOHANG);
        if (reaped == pid)
            return exitStatus(status);
        if (reaped == -1 && errno != EINTR)
            return -1; // someone else reaped it: its status is lost
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) == -1) {
        if (errno != EINTR)
            return -1;
    }
    return exitStatus(status);
}

} // namespace ferlow
