#include "FerlowCore/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ferlow {

namespace fs = std::filesystem;

namespace {

// mkstemp(3) replaces these with letters and digits.
constexpr std::string_view temporarySuffix = "XXXXXX";

[[noreturn]] void fail(const char* what, const fs::path& path, int error)
{
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

struct Descriptor {
    int fd = -1;
    explicit Descriptor(int descriptor = -1) : fd(descriptor) { }
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) { }
    Descriptor& operator=(Descriptor&&) = delete;
};

fs::path folderOf(const fs::path& path)
{
    return path.has_parent_path() ? path.parent_path() : fs::path(".");
}

std::string temporaryPrefix(const fs::path& path)
{
    return "." + path.filename().string() + ".";
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Makes a rename or link in `folder` durable; without it a crash soon after
// a save could bring the old file back.
int syncFolder(const fs::path& folder)
{
    const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.fd < 0)
        return errno;
    // Some file systems cannot sync a folder; there is nothing more to do there.
    if (::fsync(directory.fd) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

// A new temporary file beside `path`, created and locked. Another process's
// removeLeftovers() may take an unlocked temporary file for a leftover in
// the instant between creating and locking it, so the lock only counts once
// the name is seen to still lead to this very file.
Descriptor createLocked(const fs::path& path, std::string& temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = (folderOf(path) / (temporaryPrefix(path) + std::string(temporarySuffix))).string();
        Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
        if (file.fd < 0)
            fail("cannot create a temporary file", path, errno);
        // File systems without locks do without: their leftovers are never removed.
        int status = 0;
        while ((status = ::flock(file.fd, LOCK_EX)) != 0 && errno == EINTR) { }
        const bool locked = status == 0;
        struct stat opened {}, named {};
        if (!locked || (::fstat(file.fd, &opened) == 0 && ::lstat(temporary.c_str(), &named) == 0 && sameFile(opened, named)))
            return file;
    }
    fail("cannot create a temporary file", path, EAGAIN);
}

bool isTemporaryName(std::string_view name, std::string_view prefix)
{
    if (name.size() != prefix.size() + temporarySuffix.size() || !name.starts_with(prefix))
        return false;
    for (const char c : name.substr(prefix.size()))
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

} // namespace

void AtomicFile::write(const fs::path& path, ByteView data, mode_t mode)
{
    std::string temporary;
    const Descriptor file = createLocked(path, temporary);

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
    // Renamed while still locked: until then the file is a write in progress.
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        cleanUp("cannot replace", errno);
    if (const int error = syncFolder(folderOf(path)))
        fail("cannot flush the folder", path, error);
}

std::optional<Bytes> AtomicFile::read(const fs::path& path)
{
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
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
        // Neither step can replace a file that appeared meanwhile: the
        // no-replace rename fails with EEXIST, and so does link on file
        // systems that cannot rename that way.
        bool moved = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0;
        if (!moved && (errno == EINVAL || errno == ENOSYS)) {
            moved = ::link(path.c_str(), aside.c_str()) == 0;
            if (moved)
                ::unlink(path.c_str());
        }
        if (moved) {
            syncFolder(folderOf(path));
            return aside;
        }
        if (errno != EEXIST)
            return std::nullopt;
    }
    return std::nullopt;
}

std::size_t AtomicFile::removeLeftovers(const fs::path& path)
{
    const std::string prefix = temporaryPrefix(path);
    const Descriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0)
        return 0;
    const int listed = ::dup(folder.fd);
    DIR* const entries = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!entries) {
        if (listed >= 0)
            ::close(listed);
        return 0;
    }
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(entries)) {
        if (!isTemporaryName(entry->d_name, prefix))
            continue;
        // O_NOFOLLOW: a link is never ours, and its target is never touched.
        // O_NONBLOCK: a FIFO under that name cannot hang the load.
        const Descriptor file(::openat(folder.fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {}, named {};
        if (file.fd < 0 || ::fstat(file.fd, &opened) != 0 || !S_ISREG(opened.st_mode))
            continue;
        // Held by a write that is still running (in this process or another,
        // such as `ferlow --pair` beside the app): not a leftover.
        if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0)
            continue;
        // Only the file we locked, not one that replaced it under that name.
        if (::fstatat(folder.fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named)
            && ::unlinkat(folder.fd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(entries);
    return removed;
}

} // namespace ferlow
