#include "Ferlow/InstanceLock.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace ferlow {

InstanceLock::InstanceLock(const std::filesystem::path& file)
{
    m_fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) {
        m_problem = "cannot open " + file.string() + ": " + std::strerror(errno);
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_outcome = Outcome::acquired;
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(m_fd, 0) == 0)
            [[maybe_unused]] const auto written = ::pwrite(m_fd, pid.data(), pid.size(), 0);
        return;
    }
    if (errno != EWOULDBLOCK) {
        m_problem = "cannot lock " + file.string() + ": " + std::strerror(errno);
        return;
    }
    m_outcome = Outcome::held;
    char text[32] = {};
    const auto length = ::pread(m_fd, text, sizeof text - 1, 0);
    pid_t pid = 0;
    if (length > 0 && std::from_chars(text, text + length, pid).ec == std::errc() && pid > 0)
        m_holder = pid;
    ::close(m_fd);
    m_fd = -1;
}

InstanceLock::~InstanceLock() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace ferlow
