#pragma once

// A real 64 KiB tmpfs to fill up (saves then fail with ENOSPC) and empty
// again, mounted in a mount namespace of this test process's own, which the
// `ferlow` processes it starts share and nothing outlives.

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>

namespace ferlow::test {

class SmallDisk {
public:
    explicit SmallDisk(std::filesystem::path path) : m_path(std::move(path))
    {
        static const bool privateMounts
            = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        std::filesystem::create_directories(m_path);
        m_mounted = privateMounts && ::mount("tmpfs", m_path.c_str(), "tmpfs", 0, "size=64k,mode=0700") == 0;
        if (!m_mounted)
            m_reason = std::string("this test may not mount a tmpfs: ") + std::strerror(errno);
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_path.c_str(), MNT_DETACH);
    }

    bool available() const { return m_mounted; }
    const std::string& reason() const { return m_reason; }

    void fill()
    {
        const int fd = ::open((m_path / ".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const std::string block(4096, 'x');
        while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) { }
        ::close(fd);
    }
    void empty() { std::filesystem::remove(m_path / ".filler"); }

private:
    std::filesystem::path m_path;
    bool m_mounted = false;
    std::string m_reason;
};

} // namespace ferlow::test
