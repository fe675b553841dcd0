#include "FerlowLinux/DesktopSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gio/gio.h>
#include <glib-unix.h>

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

// Following the setting: a GLib main context of its own, run by its own
// thread, so that it works the same under the tray's event loop and the
// daemon's. GSettings signals in the context that was the thread's default
// when the object was made, so the watching object is made with this one.
namespace {

class SettingsWatch final {
public:
    explicit SettingsWatch(std::function<void()> changed)
        : m_changed(std::move(changed)), m_context(g_main_context_new()), m_loop(g_main_loop_new(m_context, FALSE))
    {
    }

    ~SettingsWatch()
    {
        if (m_thread.joinable()) {
            // Quit from within the loop: a quit made before the thread has
            // entered it would be lost, and the join would wait for ever.
            GSource* stop = g_idle_source_new();
            g_source_set_callback(stop, [](gpointer loop) {
                g_main_loop_quit(static_cast<GMainLoop*>(loop));
                return gboolean(G_SOURCE_REMOVE);
            }, m_loop, nullptr);
            g_source_attach(stop, m_context);
            g_source_unref(stop);
            m_thread.join();
        }
        if (m_settings) {
            g_signal_handlers_disconnect_by_data(m_settings, this);
            g_object_unref(m_settings);
        }
        if (m_source) {
            g_source_destroy(m_source);
            g_source_unref(m_source);
        }
        if (m_inotify >= 0)
            ::close(m_inotify);
        g_main_loop_unref(m_loop);
        g_main_context_unref(m_context);
    }

    SettingsWatch(const SettingsWatch&) = delete;
    SettingsWatch& operator=(const SettingsWatch&) = delete;

    // `make` builds the GSettings object to follow; it runs with this
    // watch's context as the thread's default.
    template <typename Make> bool followGnome(Make make)
    {
        g_main_context_push_thread_default(m_context);
        m_settings = make();
        g_main_context_pop_thread_default(m_context);
        if (!m_settings)
            return false;
        const std::string signal = std::string("changed::") + naturalScrollKey;
        g_signal_connect(m_settings, signal.c_str(), G_CALLBACK(+[](GSettings*, gchar*, gpointer self) {
            static_cast<SettingsWatch*>(self)->m_changed();
        }), this);
        return true;
    }

    bool followFile(const std::filesystem::path& file)
    {
        m_fileName = file.filename().string();
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify < 0 || m_fileName.empty()
            || ::inotify_add_watch(m_inotify, file.parent_path().c_str(),
                   IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE) < 0)
            return false;
        m_source = g_unix_fd_source_new(m_inotify, G_IO_IN);
        const GUnixFDSourceFunc ready = [](gint, GIOCondition, gpointer self) {
            static_cast<SettingsWatch*>(self)->readEvents();
            return gboolean(G_SOURCE_CONTINUE);
        };
        g_source_set_callback(m_source, G_SOURCE_FUNC(ready), this, nullptr);
        g_source_attach(m_source, m_context);
        return true;
    }

    void start()
    {
        m_thread = std::thread([this] {
            g_main_context_push_thread_default(m_context);
            g_main_loop_run(m_loop);
            g_main_context_pop_thread_default(m_context);
        });
    }

private:
    void readEvents()
    {
        alignas(inotify_event) char buffer[4096];
        bool ours = false;
        for (ssize_t length; (length = ::read(m_inotify, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                ours = ours || (event->len > 0 && m_fileName == event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (ours)
            m_changed();
    }

    std::function<void()> m_changed;
    GMainContext* m_context;
    GMainLoop* m_loop;
    GSettings* m_settings = nullptr;
    int m_inotify = -1;
    GSource* m_source = nullptr;
    std::string m_fileName;
    std::thread m_thread;
};

} // namespace

std::shared_ptr<void> DesktopSettings::watch(std::function<void()> changed) const
{
    auto watch = std::make_shared<SettingsWatch>(std::move(changed));
    const bool following = m_gnome ? watch->followGnome([] {
        auto gnome = Gnome::open();
        return gnome ? static_cast<GSettings*>(g_object_ref(gnome->settings)) : nullptr;
    })
                                   : !m_kdeInputConfig.empty() && watch->followFile(m_kdeInputConfig);
    if (!following)
        return nullptr;
    watch->start();
    return watch;
}

} // namespace ferlow
