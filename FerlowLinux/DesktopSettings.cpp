#include "FerlowLinux/DesktopSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gio/gio.h>

#include "FerlowCore/ASCII.h"

namespace ferlow {

namespace {

constexpr const char* touchpadSchema = "org.gnome.desktop.peripherals.touchpad";
constexpr const char* naturalScrollKey = "natural-scroll";
// kcminputrc is a few kilobytes; anything far larger is not one.
constexpr std::streamsize kdeFileLimit = 1 << 20;

std::string_view trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// KConfig's spellings of a boolean.
std::optional<bool> kconfigBool(std::string_view value)
{
    const std::string v = lowerASCII(value);
    if (v == "true" || v == "on" || v == "yes" || v == "1")
        return true;
    if (v == "false" || v == "off" || v == "no" || v == "0")
        return false;
    return std::nullopt;
}

// "[Libinput][1267][12850][ELAN0501:00 04F3:3060 Touchpad]" -> its parts.
std::vector<std::string_view> groupParts(std::string_view header)
{
    std::vector<std::string_view> parts;
    while (header.size() >= 2 && header.front() == '[') {
        const auto close = header.find(']');
        if (close == std::string_view::npos)
            break;
        parts.push_back(header.substr(1, close - 1));
        header.remove_prefix(close + 1);
    }
    return parts;
}

// KWin keeps libinput settings per device under [Libinput][vendor][product]
// [name]; a touchpad is told apart from a mouse only by its name.
bool isTouchpadGroup(const std::vector<std::string_view>& parts)
{
    if (parts.size() < 2 || parts.front() != "Libinput")
        return false;
    const std::string name = lowerASCII(parts.back());
    return name.find("touchpad") != std::string::npos || name.find("trackpad") != std::string::npos;
}

// The first touchpad's NaturalScroll in a kcminputrc.
std::optional<bool> touchpadNaturalScroll(std::string_view text)
{
    bool inTouchpad = false;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inTouchpad = isTouchpadGroup(groupParts(line));
            continue;
        }
        const auto equals = line.find('=');
        if (!inTouchpad || equals == std::string_view::npos)
            continue;
        // "Key[$i]" (immutable) and "Key[de]" (localised) are the same key.
        std::string_view key = trimmed(line.substr(0, equals));
        key = trimmed(key.substr(0, key.find('[')));
        if (key != "NaturalScroll")
            continue;
        if (const auto value = kconfigBool(trimmed(line.substr(equals + 1))))
            return value;
    }
    return std::nullopt;
}

} // namespace

struct DesktopSettings::Gnome {
    explicit Gnome(GSettings* s) : settings(s) { }
    ~Gnome() { g_object_unref(settings); }
    Gnome(const Gnome&) = delete;
    Gnome& operator=(const Gnome&) = delete;

    // g_settings_new() aborts the process for a schema or key that is not
    // installed, so both are looked up first.
    static std::unique_ptr<Gnome> open()
    {
        GSettingsSchemaSource* source = g_settings_schema_source_get_default(); // not ours to free
        if (!source)
            return nullptr;
        GSettingsSchema* schema = g_settings_schema_source_lookup(source, touchpadSchema, TRUE);
        if (!schema)
            return nullptr;
        bool usable = false;
        if (g_settings_schema_has_key(schema, naturalScrollKey)) {
            GSettingsSchemaKey* key = g_settings_schema_get_key(schema, naturalScrollKey);
            gchar* type = g_variant_type_dup_string(g_settings_schema_key_get_value_type(key));
            usable = std::string_view(type) == "b";
            g_free(type);
            g_settings_schema_key_unref(key);
        }
        GSettings* settings = usable ? g_settings_new_full(schema, nullptr, nullptr) : nullptr;
        g_settings_schema_unref(schema);
        return settings ? std::make_unique<Gnome>(settings) : nullptr;
    }

    bool naturalScroll() const { return g_settings_get_boolean(settings, naturalScrollKey) != FALSE; }

    GSettings* settings;
};

bool DesktopSettings::FileStamp::operator==(const FileStamp& o) const
{
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec
        && modified.tv_nsec == o.modified.tv_nsec;
}

DesktopSettings::Desktop DesktopSettings::desktopFrom(std::string_view xdgCurrentDesktop)
{
    // A colon-separated list, most specific first ("ubuntu:GNOME").
    while (!xdgCurrentDesktop.empty()) {
        const auto colon = xdgCurrentDesktop.find(':');
        if (lowerASCII(xdgCurrentDesktop.substr(0, colon)) == "kde")
            return Desktop::kde;
        xdgCurrentDesktop.remove_prefix(colon == std::string_view::npos ? xdgCurrentDesktop.size() : colon + 1);
    }
    return Desktop::other;
}

DesktopSettings DesktopSettings::fromEnvironment()
{
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    std::filesystem::path config;
    // XDG Base Directory: a relative XDG_CONFIG_HOME is invalid and ignored.
    if (const char* home = std::getenv("XDG_CONFIG_HOME"); home && home[0] == '/')
        config = home;
    else if (const char* user = std::getenv("HOME"); user && user[0] == '/')
        config = std::filesystem::path(user) / ".config";
    return DesktopSettings(desktopFrom(desktop ? desktop : ""), config.empty() ? config : config / "kcminputrc");
}

DesktopSettings::DesktopSettings(Desktop desktop, std::filesystem::path kdeInputConfig)
    : m_desktop(desktop), m_kdeInputConfig(std::move(kdeInputConfig))
{
    if (m_desktop != Desktop::kde)
        m_gnome = Gnome::open();
}

DesktopSettings::~DesktopSettings() = default;
DesktopSettings::DesktopSettings(DesktopSettings&&) noexcept = default;
DesktopSettings& DesktopSettings::operator=(DesktopSettings&&) noexcept = default;

TrackpadPrefs DesktopSettings::trackpadPrefs()
{
    bool natural = true;
    if (m_desktop == Desktop::kde)
        natural = kdeNaturalScroll().value_or(false);
    else if (m_gnome)
        natural = m_gnome->naturalScroll();
    else
        natural = kdeNaturalScroll().value_or(true);
    return TrackpadPrefs::builtIn(natural);
}

std::optional<bool> DesktopSettings::kdeNaturalScroll()
{
    struct stat info {};
    if (m_kdeInputConfig.empty() || ::stat(m_kdeInputConfig.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        m_kdeStamp.reset();
        m_kdeValue.reset();
        return std::nullopt;
    }
    const FileStamp stamp {info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    if (m_kdeStamp == stamp)
        return m_kdeValue;

    std::ifstream in(m_kdeInputConfig, std::ios::binary);
    const std::streamsize wanted = std::min<std::streamsize>(info.st_size, kdeFileLimit);
    std::string text(static_cast<std::size_t>(wanted), '\0');
    in.read(text.data(), wanted);
    text.resize(static_cast<std::size_t>(in.gcount()));
    m_kdeStamp = stamp;
    m_kdeValue = touchpadNaturalScroll(text);
    return m_kdeValue;
}

} // namespace ferlow
