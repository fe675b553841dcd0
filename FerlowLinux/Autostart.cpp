#include "FerlowLinux/Autostart.h"

#include <glib.h>

#include "FerlowCore/AtomicFile.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

// Reads the entry as the desktop does; false when there is none or it does
// not parse (and so starts nothing).
bool load(GKeyFile* file, const fs::path& entry)
{
    return g_key_file_load_from_file(file, entry.c_str(), G_KEY_FILE_NONE, nullptr);
}

bool keyIs(GKeyFile* file, const char* key, bool value)
{
    g_autoptr(GError) error = nullptr;
    const bool read = g_key_file_get_boolean(file, G_KEY_FILE_DESKTOP_GROUP, key, &error);
    return !error && read == value;
}

} // namespace

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
    // GLib writes the values with the format's own escapes, below the Exec
    // key's quoting.
    g_autoptr(GKeyFile) file = g_key_file_new();
    const auto set = [file](const char* key, const std::string& value) {
        g_key_file_set_string(file, G_KEY_FILE_DESKTOP_GROUP, key, value.c_str());
    };
    set(G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
    set(G_KEY_FILE_DESKTOP_KEY_NAME, "Ferlow");
    set(G_KEY_FILE_DESKTOP_KEY_COMMENT, "Use your phone as a trackpad and remote for this computer");
    set(G_KEY_FILE_DESKTOP_KEY_EXEC, execArgument(m_program.string()));
    set(G_KEY_FILE_DESKTOP_KEY_ICON, "ferlow");
    g_key_file_set_boolean(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_TERMINAL, false);
    g_key_file_set_boolean(file, G_KEY_FILE_DESKTOP_GROUP, "X-GNOME-Autostart-enabled", true);
    gsize length = 0;
    g_autofree gchar* text = g_key_file_to_data(file, &length, nullptr);
    return std::string(text, length);
}

bool Autostart::isEnabled() const
{
    g_autoptr(GKeyFile) file = g_key_file_new();
    return load(file, m_entry) && !keyIs(file, G_KEY_FILE_DESKTOP_KEY_HIDDEN, true)
        && !keyIs(file, "X-GNOME-Autostart-enabled", false);
}

bool Autostart::startsProgram() const
{
    g_autoptr(GKeyFile) file = g_key_file_new();
    g_autofree gchar* exec = load(file, m_entry)
        ? g_key_file_get_string(file, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr)
        : nullptr;
    return exec && exec == execArgument(m_program.string());
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
