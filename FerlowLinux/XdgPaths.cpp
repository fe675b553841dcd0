#include "FerlowLinux/XdgPaths.h"

#include <cstdlib>
#include <optional>
#include <pwd.h>
#include <unistd.h>

namespace ferlow {

namespace fs = std::filesystem;

namespace {

// A variable the XDG Base Directory rules accept: set, absolute.
std::optional<fs::path> absoluteVariable(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || *value != '/')
        return std::nullopt;
    return fs::path(value);
}

} // namespace

fs::path XdgPaths::home()
{
    if (const auto home = absoluteVariable("HOME"))
        return *home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir == '/')
        return entry->pw_dir;
    return "/";
}

fs::path XdgPaths::dataHome() { return absoluteVariable("XDG_DATA_HOME").value_or(home() / ".local" / "share"); }

fs::path XdgPaths::configHome() { return absoluteVariable("XDG_CONFIG_HOME").value_or(home() / ".config"); }

std::optional<fs::path> XdgPaths::runtimeHome() { return absoluteVariable("XDG_RUNTIME_DIR"); }

bool XdgPaths::makePrivateDirectory(const fs::path& folder)
{
    std::error_code error;
    fs::create_directories(folder, error);
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, error);
    return fs::is_directory(folder, error);
}

} // namespace ferlow
