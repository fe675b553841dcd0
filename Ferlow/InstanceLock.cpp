#include "Ferlow/InstanceLock.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace ferlow {

namespace {

int openLockFile(const std::filesystem::path& file, std::string& problem)
{
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        problem = "cannot open " + file.string() + ": " + std::strerror(errno);
    return fd;
}

// The gate, locked; -1 with the problem in words when it stayed shut.
int passGate(const std::filesystem::path& gate, std::string& problem)
{
    const int fd = openLockFile(gate, problem);
    if (fd < 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + InstanceLock::gateLimit;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline) {
            problem = errno == EWOULDBLOCK ? "another ferlow command is still busy with the files; try again"
                                           : "cannot lock " + gate.string() + ": " + std::strerror(errno);
            ::close(fd);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return fd;
}

} // namespace

InstanceLock::InstanceLock(const std::filesystem::path& file, const std::filesystem::path& gate, Role role)
{
    m_gate = passGate(gate, m_problem);
    if (m_gate < 0)
        return;
    m_fd = openLockFile(file, m_problem);
    const bool locked = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    const int lockError = errno;
    if (locked) {
        m_outcome = Outcome::acquired;
        if (role == Role::app) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(m_fd, 0) == 0)
                [[maybe_unused]] const auto written = ::pwrite(m_fd, pid.data(), pid.size(), 0);
            ::close(std::exchange(m_gate, -1));
        } else {
            ::close(std::exchange(m_fd, -1)); // the gate alone keeps apps out
        }
        return;
    }
    ::close(std::exchange(m_gate, -1));
    if (m_fd < 0)
        return;
    if (lockError != EWOULDBLOCK) {
        m_problem = "cannot lock " + file.string() + ": " + std::strerror(lockError);
        ::close(std::exchange(m_fd, -1));
        return;
    }
    m_outcome = Outcome::held;
    char text[32] = {};
    const auto length = ::pread(m_fd, text, sizeof text - 1, 0);
    pid_t pid = 0;
    if (length > 0 && std::from_chars(text, text + length, pid).ec == std::errc() && pid > 0)
        m_holder = pid;
    ::close(std::exchange(m_fd, -1));
}

InstanceLock::~InstanceLock() noexcept
{
    for (const int fd : {m_fd, m_gate})
        if (fd >= 0)
            ::close(fd);
}

} // namespace ferlow
