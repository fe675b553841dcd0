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

void attempt(const Uninstaller::Step& step)
{
    if (!step)
        return;
    try {
        step();
    } catch (...) {
    }
}

// What a platform step leaves to the user; one that throws has failed.
std::optional<std::string> attempt(const Uninstaller::PlatformStep& step)
{
    if (!step.perform)
        return std::nullopt;
    try {
        return step.perform();
    } catch (...) {
        return step.instruction;
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

Uninstaller::Uninstaller(fs::path supportDirectory, Steps steps)
    : m_supportDirectory(std::move(supportDirectory))
    , m_steps(std::move(steps))
{
}

std::vector<std::string> Uninstaller::perform() const
{
    std::vector<std::string> left;

    attempt(m_steps.unregisterLogin);

    if (!removeSupportDirectory())
        left.push_back("Remove the folder " + m_supportDirectory.string() + ".");

    attempt(m_steps.removeDefaults);

    for (const auto* step : {&m_steps.revokePermission, &m_steps.removeApp}) {
        if (auto instruction = attempt(*step))
            left.push_back(std::move(*instruction));
    }
    return left;
}

Uninstaller::PlatformStep Uninstaller::toolStep(std::string path, std::vector<std::string> arguments,
    std::string instruction)
{
    PlatformStep step;
    step.instruction = instruction;
    step.perform = [path = std::move(path), arguments = std::move(arguments),
                       instruction = std::move(instruction)]() -> std::optional<std::string> {
        if (runTool(path, arguments) == 0)
            return std::nullopt;
        return instruction;
    };
    return step;
}

// True when nothing is left at the folder's path.
bool Uninstaller::mayRemove(const fs::path& folder)
{
    const fs::path normal = folder.lexically_normal();
    return normal.is_absolute() && !normal.relative_path().empty();
}

bool Uninstaller::removeSupportDirectory() const
{
    // A folder that may not be removed is left to the user.
    if (mayRemove(m_supportDirectory)) {
        std::error_code ignored;
        fs::remove_all(m_supportDirectory.lexically_normal(), ignored);
    }
    // Anything but a definite "not there", a failed look included, counts as
    // still there: the user is better told once too often than not at all.
    std::error_code error;
    return fs::symlink_status(m_supportDirectory, error).type() == fs::file_type::not_found;
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
