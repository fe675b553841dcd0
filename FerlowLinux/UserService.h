#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ferlow {

// A systemd user unit, and whether systemd starts it when the user logs in.
// `systemctl --user enable` (or `--global enable`) links the unit into the
// .wants folder of the target its [Install] section names; reading those
// links asks nothing of systemd, so the answer is also right (no) where no
// systemd runs.
class UserService final {
public:
    // `unit` is the unit's file name ("ferlow.service"); `folders` are the
    // unit folders that may enable it, the user's own first.
    UserService(std::string unit, std::vector<std::filesystem::path> folders);

    // Linked into some target's .wants or .requires folder, the link leads
    // to a unit file that is still there (not one its package took away),
    // and the unit is not masked.
    bool isEnabled() const;

    const std::string& unit() const { return m_unit; }

private:
    bool masked() const;

    std::string m_unit;
    std::vector<std::filesystem::path> m_folders;
};

} // namespace ferlow
