#include "FerlowCore/PrivateFile.h"

#include <cerrno>
#include <system_error>
#include <sys/stat.h>

#include "FerlowCore/AtomicFile.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what, const fs::path& path, int error)
{
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

bool isThere(const fs::path& path)
{
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

// Creates `folder` and its missing parents with mode 0700; folders that
// already exist keep theirs.
void createFolders(const fs::path& folder)
{
    fs::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // The umask may have narrowed the mode; make it exact.
            if (::chmod(partial.c_str(), 0700) != 0)
                fail("cannot set the folder mode", partial, errno);
        } else if (errno != EEXIST) {
            fail("cannot create the folder", partial, errno);
        }
    }
    std::error_code error;
    if (!fs::is_directory(folder, error))
        fail("not a folder", folder, ENOTDIR);
}

} // namespace

PrivateFile::PrivateFile(fs::path path) : m_path(std::move(path)) { }

std::optional<Bytes> PrivateFile::load()
{
    AtomicFile::removeLeftovers(m_path);
    auto data = AtomicFile::read(m_path);
    // Missing is the normal first start; a file that exists but cannot be
    // read is kept aside before anything replaces it.
    m_keepAsideBeforeSave = !data && isThere(m_path);
    return data;
}

void PrivateFile::markUndecodable(ByteView loaded)
{
    m_keepAsideBeforeSave = !loaded.empty();
}

void PrivateFile::save(ByteView data)
{
    const fs::path folder = m_path.has_parent_path() ? m_path.parent_path() : fs::path(".");
    createFolders(folder);
    // Wider modes from before are narrowed; a folder this user does not own
    // stays as it is.
    ::chmod(folder.c_str(), 0700);

    if (m_keepAsideBeforeSave) {
        AtomicFile::keepAside(m_path);
        if (isThere(m_path))
            fail("cannot move the unreadable file aside", m_path, EEXIST);
        m_keepAsideBeforeSave = false;
    }
    AtomicFile::write(m_path, data, 0600);
}

std::optional<KeptAside> PrivateFile::keepUnreadableAside()
{
    if (!m_keepAsideBeforeSave)
        return std::nullopt;
    auto aside = AtomicFile::keepAside(m_path);
    if (!aside)
        return std::nullopt;
    m_keepAsideBeforeSave = false;
    return KeptAside {m_path, std::move(*aside)};
}

std::string PrivateFile::describe(const std::exception& failure)
{
    if (const auto* error = dynamic_cast<const fs::filesystem_error*>(&failure))
        return error->path1().string() + ": " + error->code().message();
    return failure.what();
}

} // namespace ferlow
