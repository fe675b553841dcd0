#include "tests/Support/Xvfb.h"

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

Xvfb::Xvfb(const std::string& screen)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_reason = "pipe failed";
        return;
    }
    // Only the write end is inherited, as the number Xvfb writes to.
    const std::string fd = std::to_string(pipeFds[1]);
    const char* argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
        "+extension", "RANDR", "+extension", "XTEST", "-ac", nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], pipeFds[1]); // clears close-on-exec
    for (const int standard : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, standard, "/dev/null", standard ? O_WRONLY : O_RDONLY, 0);
    const int spawned = ::posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);

    // Xvfb writes the display number and a line feed once it accepts
    // clients; when it fails to start, the pipe closes first.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (spawned == 0 && number.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd waiting {pipeFds[0], POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&waiting, 1, static_cast<int>(left.count())) : 0;
        char chunk[16];
        const ssize_t got = ready > 0 ? ::read(pipeFds[0], chunk, sizeof chunk) : 0;
        if (got > 0)
            number.append(chunk, static_cast<std::size_t>(got));
        else if (!(ready < 0 && errno == EINTR))
            break;
    }
    ::close(pipeFds[0]);
    if (spawned != 0) {
        m_pid = -1;
        m_reason = std::string("Xvfb could not be started: ") + std::strerror(spawned);
    } else if (const auto end = number.find('\n'); end == std::string::npos || end == 0) {
        m_reason = "Xvfb did not report a display within 10 s";
    } else {
        m_display = ":" + number.substr(0, end);
    }
}

Xvfb::~Xvfb()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) { // up to 2 s, then no more courtesy
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            return;
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, &status, 0);
}

} // namespace ferlow::test
