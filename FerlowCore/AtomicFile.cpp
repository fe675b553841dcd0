#include "FerlowCore/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace ferlow {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error)
{
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

void AtomicFile::write(const fs::path& path, ByteView data, mode_t mode)
{
    std::string temporary = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    Descriptor file;
    file.fd = ::mkstemp(temporary.data());
    if (file.fd < 0)
        fail("cannot create a temporary file", path, errno);

    const auto cleanUp = [&](const char* what, int error) {
        ::unlink(temporary.c_str());
        fail(what, path, error);
    };
    if (::fchmod(file.fd, mode) != 0)
        cleanUp("cannot set the file mode", errno);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(file.fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            cleanUp("cannot write", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(file.fd) != 0)
        cleanUp("cannot flush", errno);
    if (::close(file.fd) != 0) {
        file.fd = -1;
        cleanUp("cannot close", errno);
    }
    file.fd = -1;
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        cleanUp("cannot replace", errno);
}

std::optional<Bytes> AtomicFile::read(const fs::path& path)
{
    Descriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file.fd < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    Bytes data;
    std::uint8_t buffer[16384];
    for (;;) {
        const ssize_t n = ::read(file.fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        data.insert(data.end(), buffer, buffer + n);
    }
    return data;
}

std::optional<fs::path> AtomicFile::keepAside(const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(path, error)))
        return std::nullopt;
    for (int attempt = 1; attempt < 1000; ++attempt) {
        fs::path aside = path;
        aside += attempt == 1 ? std::string(".unreadable") : ".unreadable-" + std::to_string(attempt);
        if (fs::exists(fs::symlink_status(aside, error)))
            continue;
        // link + unlink never replaces an existing file, unlike rename.
        if (::link(path.c_str(), aside.c_str()) == 0) {
            ::unlink(path.c_str());
            return aside;
        }
        if (errno == EEXIST)
            continue;
        if (::rename(path.c_str(), aside.c_str()) == 0)
            return aside;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace ferlow
