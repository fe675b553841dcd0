#include "FerlowLinux/UserService.h"

namespace ferlow {

namespace fs = std::filesystem;

UserService::UserService(std::string unit, std::vector<fs::path> folders)
    : m_unit(std::move(unit))
    , m_folders(std::move(folders))
{
}

bool UserService::masked() const
{
    // systemctl mask links the unit's name to /dev/null; systemd takes an
    // empty unit file the same way.
    for (const auto& folder : m_folders) {
        const auto path = folder / m_unit;
        std::error_code error;
        if (fs::read_symlink(path, error) == "/dev/null" || (fs::is_regular_file(path, error) && fs::is_empty(path, error)))
            return true;
    }
    return false;
}

bool UserService::isEnabled() const
{
    if (masked())
        return false;
    for (const auto& folder : m_folders) {
        std::error_code error;
        for (const auto& target : fs::directory_iterator(folder, error)) {
            const auto name = target.path().filename().string();
            if (!name.ends_with(".wants") && !name.ends_with(".requires"))
                continue;
            // Follows the link: one whose unit file is gone starts nothing.
            std::error_code missing;
            if (fs::is_regular_file(target.path() / m_unit, missing))
                return true;
        }
    }
    return false;
}

} // namespace ferlow
