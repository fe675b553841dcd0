#include "FerlowHost/Uninstaller.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

void attempt(const Uninstaller::Step& step)
{
    if (!step)
        return;
    try {
        step();
    } catch (...) {
    }
}

// What a platform step leaves to the user; one that throws has failed.
std::optional<std::string> attempt(const Uninstaller::PlatformStep& step)
{
    if (!step.perform)
        return std::nullopt;
    try {
        return step.perform();
    } catch (...) {
        return step.instruction;
    }
}

} // namespace

Uninstaller::Uninstaller(fs::path supportDirectory, Steps steps)
    : m_supportDirectory(std::move(supportDirectory))
    , m_steps(std::move(steps))
{
}

std::vector<std::string> Uninstaller::perform() const
{
    std::vector<std::string> left;

    attempt(m_steps.unregisterLogin);

    if (!removeSupportDirectory())
        left.push_back("Remove the folder " + m_supportDirectory.string() + ".");

    attempt(m_steps.removeDefaults);

    for (const auto* step : {&m_steps.revokePermission, &m_steps.removeApp}) {
        if (auto instruction = attempt(*step))
            left.push_back(std::move(*instruction));
    }
    return left;
}

bool Uninstaller::mayRemove(const fs::path& folder)
{
    const fs::path normal = folder.lexically_normal();
    return normal.is_absolute() && !normal.relative_path().empty();
}

// True when nothing is left at the folder's path.
bool Uninstaller::removeSupportDirectory() const
{
    // A folder that may not be removed is left to the user.
    if (mayRemove(m_supportDirectory)) {
        std::error_code ignored;
        fs::remove_all(m_supportDirectory.lexically_normal(), ignored);
    }
    // Anything but a definite "not there", a failed look included, counts as
    // still there: the user is better told once too often than not at all.
    std::error_code error;
    return fs::symlink_status(m_supportDirectory, error).type() == fs::file_type::not_found;
}

} // namespace ferlow
