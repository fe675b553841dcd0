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
#include <vector>

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
    std::vector<std::string> args {"Xvfb", "-displayfd", fd, "-screen", "0", screen, "-nolisten", "tcp",
        "-noreset", "+extension", "RANDR", "+extension", "XTEST", "-ac"};
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], pipeFds[1]); // clears close-on-exec
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = ::posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        m_pid = -1;
        ::close(pipeFds[0]);
        m_reason = std::string("Xvfb could not be started: ") + std::strerror(spawned);
        return;
    }

    // Xvfb writes the display number and a line feed once it accepts clients.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (number.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd waiting {pipeFds[0], POLLIN, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char chunk[16];
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        number.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(pipeFds[0]);
    const auto end = number.find('\n');
    if (end == std::string::npos || end == 0) {
        m_reason = "Xvfb did not report a display within 10 s";
        return;
    }
    m_display = ":" + number.substr(0, end);
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
