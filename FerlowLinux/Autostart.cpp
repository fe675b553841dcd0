#include "FerlowLinux/Autostart.h"

#include <sstream>

#include "FerlowCore/AtomicFile.h"

namespace ferlow {

namespace fs = std::filesystem;

namespace {

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return std::string(text.substr(first, last - first + 1));
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
    const auto bytes = AtomicFile::read(m_entry);
    if (!bytes)
        return false;
    std::istringstream lines(std::string(asText(*bytes)));
    bool inMainGroup = false;
    for (std::string line; std::getline(lines, line);) {
        line = trimmed(line);
        if (line.starts_with('['))
            inMainGroup = line == "[Desktop Entry]";
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos)
            continue;
        const auto key = trimmed(std::string_view(line).substr(0, equals));
        const auto value = trimmed(std::string_view(line).substr(equals + 1));
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
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
