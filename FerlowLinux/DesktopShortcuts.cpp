#include "FerlowLinux/DesktopShortcuts.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include "FerlowCore/ASCII.h"
#include "FerlowLinux/LinuxKeys.h"

namespace ferlow {

namespace {

const std::string gnomeUnnamed = "a GNOME shortcut";
const std::string kdeUnnamed = "a KDE shortcut";

// The schemas GNOME keeps its keyboard shortcuts in.
constexpr const char* gnomeSchemas[] = {
    "org.gnome.desktop.wm.keybindings",
    "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings",
    "org.gnome.mutter.wayland.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys",
};
constexpr const char* mediaKeysSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr const char* customBindingSchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";

void addAccelerator(std::vector<DesktopShortcuts::Binding>& out, const std::string& name, const char* text)
{
    if (const auto chord = DesktopShortcuts::parseGnomeAccelerator(text))
        out.push_back({name, *chord});
}

// Every accelerator of one settings object, string or list of strings,
// named by its key's summary.
void readKeys(GSettings* settings, GSettingsSchema* schema, std::vector<DesktopShortcuts::Binding>& out)
{
    g_auto(GStrv) keys = g_settings_schema_list_keys(schema);
    for (gchar** key = keys; key && *key; ++key) {
        g_autoptr(GSettingsSchemaKey) schemaKey = g_settings_schema_get_key(schema, *key);
        const char* summary = g_settings_schema_key_get_summary(schemaKey);
        std::string name = summary && *summary ? summary : gnomeUnnamed;
        if (name.starts_with("DEPRECATED"))
            continue;
        g_autoptr(GVariant) value = g_settings_get_value(settings, *key);
        const std::string_view type = g_variant_get_type_string(value);
        if (type == "as") {
            gsize count = 0;
            const gchar** strings = g_variant_get_strv(value, &count);
            for (gsize i = 0; i < count; ++i)
                addAccelerator(out, name, strings[i]);
            g_free(static_cast<gpointer>(strings));
        } else if (type == "s") {
            addAccelerator(out, name, g_variant_get_string(value, nullptr));
        }
    }
}

// The user's own shortcuts: a list of settings paths, each with a name and
// one binding.
void readCustomBindings(GSettingsSchemaSource* source, GSettingsBackend* backend, GSettings* mediaKeys,
    std::vector<DesktopShortcuts::Binding>& out)
{
    g_autoptr(GSettingsSchema) custom = g_settings_schema_source_lookup(source, customBindingSchema, TRUE);
    if (!custom || !g_settings_schema_has_key(custom, "binding"))
        return;
    g_auto(GStrv) paths = g_settings_get_strv(mediaKeys, "custom-keybindings");
    for (gchar** path = paths; path && *path; ++path) {
        // A relocatable schema needs a path of the form "/a/b/".
        const std::string_view p = *path;
        if (!p.starts_with('/') || !p.ends_with('/') || p.find("//") != std::string_view::npos)
            continue;
        g_autoptr(GSettings) settings = g_settings_new_full(custom, backend, *path);
        g_autofree gchar* name = g_settings_schema_has_key(custom, "name")
            ? g_settings_get_string(settings, "name")
            : nullptr;
        g_autofree gchar* binding = g_settings_get_string(settings, "binding");
        addAccelerator(out, name && *name ? name : gnomeUnnamed, binding);
    }
}

// KConfig's escapes inside one list element: "\," "\t" "\\" "\s".
std::string unescapeKConfig(std::string_view text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        result.push_back(next == 't' ? '\t' : next == 's' ? ' ' : next == 'n' ? '\n' : next);
    }
    return result;
}

// A KConfig list value split at its unescaped commas.
std::vector<std::string> kconfigList(std::string_view value)
{
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value[i] == '\\') {
            ++i;
            continue;
        }
        if (i == value.size() || value[i] == ',') {
            items.push_back(unescapeKConfig(value.substr(start, i - start)));
            start = i + 1;
        }
    }
    return items;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<LinuxChord> DesktopShortcuts::parseGnomeAccelerator(std::string_view accelerator)
{
    LinuxChord chord;
    while (accelerator.starts_with('<')) {
        const auto close = accelerator.find('>');
        if (close == std::string_view::npos)
            return std::nullopt;
        const auto modifier = lowerASCII(accelerator.substr(1, close - 1));
        if (modifier == "control" || modifier == "ctrl" || modifier == "ctl" || modifier == "primary")
            chord.modifiers |= LinuxChord::ctrl;
        else if (modifier == "alt" || modifier == "mod1")
            chord.modifiers |= LinuxChord::alt;
        else if (modifier == "shift" || modifier == "shft")
            chord.modifiers |= LinuxChord::shift;
        else if (modifier == "super" || modifier == "mod4")
            chord.modifiers |= LinuxChord::super;
        else
            return std::nullopt; // Hyper, Meta, Release: nothing Ferlow presses
        accelerator.remove_prefix(close + 1);
    }
    const auto* row = LinuxKeys::byKeysym(accelerator);
    if (!row)
        return std::nullopt;
    chord.key = row->evdev;
    return chord;
}

std::optional<LinuxChord> DesktopShortcuts::parseKdeShortcut(std::string_view shortcut)
{
    LinuxChord chord;
    while (true) {
        const auto plus = shortcut.find('+');
        if (plus == std::string_view::npos || plus + 1 == shortcut.size())
            break;
        const auto modifier = lowerASCII(shortcut.substr(0, plus));
        if (modifier == "ctrl")
            chord.modifiers |= LinuxChord::ctrl;
        else if (modifier == "alt")
            chord.modifiers |= LinuxChord::alt;
        else if (modifier == "shift")
            chord.modifiers |= LinuxChord::shift;
        else if (modifier == "meta")
            chord.modifiers |= LinuxChord::super;
        else
            return std::nullopt; // "Num" (keypad) and multi-key sequences
        shortcut.remove_prefix(plus + 1);
    }
    const auto* row = LinuxKeys::byQtName(shortcut);
    if (!row)
        return std::nullopt;
    chord.key = row->evdev;
    return chord;
}

std::vector<DesktopShortcuts::Binding> DesktopShortcuts::gnomeBindings(const GnomeSource& source)
{
    g_autoptr(GSettingsSchemaSource) schemas = nullptr;
    if (source.schemaDirectory.empty()) {
        if (GSettingsSchemaSource* shared = g_settings_schema_source_get_default())
            schemas = g_settings_schema_source_ref(shared);
    } else {
        schemas = g_settings_schema_source_new_from_directory(source.schemaDirectory.c_str(), nullptr, FALSE, nullptr);
    }
    if (!schemas)
        return {};
    g_autoptr(GSettingsBackend) backend
        = source.keyfile.empty() ? nullptr : g_keyfile_settings_backend_new(source.keyfile.c_str(), "/", nullptr);

    std::vector<Binding> bindings;
    for (const char* id : gnomeSchemas) {
        g_autoptr(GSettingsSchema) schema = g_settings_schema_source_lookup(schemas, id, TRUE);
        if (!schema)
            continue;
        g_autoptr(GSettings) settings = g_settings_new_full(schema, backend, nullptr);
        readKeys(settings, schema, bindings);
        if (std::string_view(id) == mediaKeysSchema && g_settings_schema_has_key(schema, "custom-keybindings"))
            readCustomBindings(schemas, backend, settings, bindings);
    }
    return bindings;
}

std::filesystem::path DesktopShortcuts::kdeFilePath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::filesystem::path(config) / "kglobalshortcutsrc";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/") / ".config" / "kglobalshortcutsrc";
}

std::vector<DesktopShortcuts::Binding> DesktopShortcuts::kdeBindings(std::string_view content)
{
    // Each entry is "Action=active,default,Friendly name", the active keys
    // tab-separated or "none". Groups of launchable applications
    // ("[services][...]") hold only the keys.
    std::vector<Binding> bindings;
    bool servicesGroup = false;
    while (!content.empty()) {
        const auto end = content.find('\n');
        const auto line = trimmed(content.substr(0, end));
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (line.empty() || line.starts_with('#'))
            continue;
        if (line.starts_with('[')) {
            servicesGroup = line.starts_with("[services]");
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || line.starts_with("_k_friendly_name"))
            continue;
        const auto items = kconfigList(line.substr(equals + 1));
        if (items.empty())
            continue;
        const std::string name = !servicesGroup && items.size() >= 3 && !items[2].empty() ? items[2] : kdeUnnamed;
        std::string_view active = items[0];
        while (!active.empty()) {
            const auto tab = active.find('\t');
            if (const auto chord = parseKdeShortcut(trimmed(active.substr(0, tab))))
                bindings.push_back({name, *chord});
            active.remove_prefix(tab == std::string_view::npos ? active.size() : tab + 1);
        }
    }
    return bindings;
}

std::vector<SystemShortcut> DesktopShortcuts::map(const std::vector<Binding>& bindings, const KeyProfile& profile)
{
    std::vector<SystemShortcut> shortcuts;
    for (const auto& binding : bindings) {
        for (const auto& mac : profile.macChords(binding.chord)) {
            if (profile.isDeliberate(mac))
                continue;
            const bool known = std::any_of(shortcuts.begin(), shortcuts.end(),
                [&](const SystemShortcut& s) { return s.keyCode == mac.code && s.modifiers == mac.modifiers; });
            if (!known)
                shortcuts.push_back({binding.name, mac.code, mac.modifiers});
        }
    }
    return shortcuts;
}

std::vector<SystemShortcut> DesktopShortcuts::read(const KeyProfile& profile)
{
    switch (profile.desktop()) {
    case KeyProfile::Desktop::gnome:
        return map(gnomeBindings(), profile);
    case KeyProfile::Desktop::kde: {
        // A few kilobytes normally; a file far larger is not KDE's.
        constexpr std::uintmax_t limit = 4 << 20;
        const auto path = kdeFilePath();
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        if (error || size > limit)
            return {};
        std::ifstream in(path, std::ios::binary);
        std::string content(static_cast<std::size_t>(size), '\0');
        in.read(content.data(), static_cast<std::streamsize>(size));
        content.resize(static_cast<std::size_t>(in.gcount()));
        return map(kdeBindings(content), profile);
    }
    case KeyProfile::Desktop::genericX11:
        return {};
    }
    return {};
}

} // namespace ferlow
