#pragma once

#include <filesystem>
#include <string>

namespace ferlow {

// Opening at login through an XDG Autostart entry (a desktop entry in the
// user's autostart folder), which every freedesktop.org session honours.
class Autostart final {
public:
    // `entry` is where the desktop entry lives; `program` what it starts.
    Autostart(std::filesystem::path entry, std::filesystem::path program);

    // The entry exists and is not switched off (Hidden=true, or GNOME's
    // X-GNOME-Autostart-enabled=false).
    bool isEnabled() const;
    // Whether the entry starts `program` (and not another copy of Ferlow).
    bool startsProgram() const;
    // Writes the entry (0644, atomically, replacing one that was switched
    // off). False when it could not be written.
    bool enable() const;
    // Removes the entry. False when it is still there.
    bool disable() const;

    // The entry's text.
    std::string entryText() const;
    // `program` as one argument of an Exec key: quoted, with the characters
    // the Desktop Entry format reserves escaped, when it needs it.
    static std::string execArgument(const std::string& program);

    const std::filesystem::path& entry() const { return m_entry; }

private:
    std::filesystem::path m_entry;
    std::filesystem::path m_program;
};

} // namespace ferlow
