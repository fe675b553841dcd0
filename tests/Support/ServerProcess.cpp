#include "tests/Support/ServerProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ferlow::test {

ServerProcess::ServerProcess(std::vector<std::string> arguments, int patience)
{
    const std::string program = arguments.empty() ? "" : arguments.front();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_reason = "pipe failed";
        return;
    }
    // Only the write end is inherited, as the descriptor the server writes to.
    for (auto& argument : arguments)
        for (auto at = argument.find("{fd}"); at != std::string::npos; at = argument.find("{fd}"))
            argument.replace(at, 4, std::to_string(pipeFds[1]));
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], pipeFds[1]); // clears close-on-exec
    for (const int standard : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, standard, "/dev/null", standard ? O_WRONLY : O_RDONLY, 0);
    const int spawned = ::posix_spawnp(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);

    // When the server fails to start, the pipe closes before a line comes.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(patience);
    while (spawned == 0 && text.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiting {pipeFds[0], POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&waiting, 1, static_cast<int>(left.count())) : 0;
        char chunk[256];
        const ssize_t got = ready > 0 ? ::read(pipeFds[0], chunk, sizeof chunk) : 0;
        if (got > 0)
            text.append(chunk, static_cast<std::size_t>(got));
        else if (!(ready < 0 && errno == EINTR))
            break;
    }
    ::close(pipeFds[0]);
    if (spawned != 0) {
        m_pid = -1;
        m_reason = program + " could not be started: " + std::strerror(spawned);
    } else if (const auto end = text.find('\n'); end == std::string::npos || end == 0) {
        m_reason = program + " did not come up within " + std::to_string(patience) + " s";
    } else {
        m_line = text.substr(0, end);
    }
}

void ServerProcess::stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) { // up to 2 s, then no more courtesy
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
}

} // namespace ferlow::test
