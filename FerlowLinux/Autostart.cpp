#include "FerlowLinux/Autostart.h"

#include <glib.h>

#include "FerlowCore/AtomicFile.h"

namespace ferlow {

namespace fs = std::filesystem;

Autostart::Autostart(fs::path entry, fs::path program) : m_entry(std::move(entry)), m_program(std::move(program)) { }

std::string Autostart::execArgument(const std::string& program)
{
    // The freedesktop.org Desktop Entry format, "The Exec key": an argument with a
    // reserved character is quoted, and inside quotes ", `, $ and \ are
    // escaped with a backslash. A literal % is written %%.
    static constexpr std::string_view reserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string escaped;
    bool quote = false;
    for (const char c : program) {
        if (reserved.find(c) != std::string_view::npos)
            quote = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            escaped += '\\';
        if (c == '%')
            escaped += '%';
        escaped += c;
    }
    return quote ? "\"" + escaped + "\"" : escaped;
}

std::string Autostart::entryText() const
{
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Ferlow\n"
           "Comment=Use your phone as a trackpad and remote for this computer\n"
           "Exec=" + execArgument(m_program.string()) + "\n"
           "Icon=ferlow\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool Autostart::isEnabled() const
{
    // A desktop entry is a GLib key file; one GLib cannot read is one the
    // session will not start either.
    g_autoptr(GKeyFile) file = g_key_file_new();
    if (!g_key_file_load_from_file(file, m_entry.c_str(), G_KEY_FILE_NONE, nullptr))
        return false;
    const auto says = [&](const char* key, gboolean value) {
        g_autoptr(GError) error = nullptr;
        const gboolean found = g_key_file_get_boolean(file, G_KEY_FILE_DESKTOP_GROUP, key, &error);
        return !error && found == value;
    };
    return !says(G_KEY_FILE_DESKTOP_KEY_HIDDEN, TRUE) && !says("X-GNOME-Autostart-enabled", FALSE);
}

bool Autostart::enable() const
{
    std::error_code error;
    fs::create_directories(m_entry.parent_path(), error);
    try {
        AtomicFile::write(m_entry, asBytes(entryText()), 0644);
        return true;
    } catch (const fs::filesystem_error&) {
        return false;
    }
}

bool Autostart::disable() const
{
    std::error_code error;
    fs::remove(m_entry, error);
    return fs::symlink_status(m_entry, error).type() == fs::file_type::not_found;
}

} // namespace ferlow
