#include "FerlowLinux/KeyProfile.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <span>
#include <stdexcept>

#include <linux/input-event-codes.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/ASCII.h"
#include "FerlowInput/SystemGestures.h"
#include "FerlowLinux/LinuxKeys.h"

namespace ferlow {

namespace {

// macOS virtual key code -> the evdev key in the same place on a PC
// keyboard (ANSI layout; code 10 is the ISO key left of Z).
struct MacKey {
    std::uint16_t mac;
    std::uint16_t evdev;
};
constexpr MacKey macKeys[] = {
    {0, KEY_A}, {1, KEY_S}, {2, KEY_D}, {3, KEY_F}, {4, KEY_H}, {5, KEY_G}, {6, KEY_Z}, {7, KEY_X}, {8, KEY_C},
    {9, KEY_V}, {10, KEY_102ND}, {11, KEY_B}, {12, KEY_Q}, {13, KEY_W}, {14, KEY_E}, {15, KEY_R}, {16, KEY_Y},
    {17, KEY_T}, {18, KEY_1}, {19, KEY_2}, {20, KEY_3}, {21, KEY_4}, {22, KEY_6}, {23, KEY_5}, {24, KEY_EQUAL},
    {25, KEY_9}, {26, KEY_7}, {27, KEY_MINUS}, {28, KEY_8}, {29, KEY_0}, {30, KEY_RIGHTBRACE}, {31, KEY_O},
    {32, KEY_U}, {33, KEY_LEFTBRACE}, {34, KEY_I}, {35, KEY_P}, {36, KEY_ENTER}, {37, KEY_L}, {38, KEY_J},
    {39, KEY_APOSTROPHE}, {40, KEY_K}, {41, KEY_SEMICOLON}, {42, KEY_BACKSLASH}, {43, KEY_COMMA},
    {44, KEY_SLASH}, {45, KEY_N}, {46, KEY_M}, {47, KEY_DOT}, {48, KEY_TAB}, {49, KEY_SPACE}, {50, KEY_GRAVE},
    {51, KEY_BACKSPACE}, {53, KEY_ESC}, {64, KEY_F17}, {65, KEY_KPDOT}, {67, KEY_KPASTERISK}, {69, KEY_KPPLUS},
    {71, KEY_NUMLOCK}, {72, KEY_VOLUMEUP}, {73, KEY_VOLUMEDOWN}, {74, KEY_MUTE}, {75, KEY_KPSLASH},
    {76, KEY_KPENTER}, {78, KEY_KPMINUS}, {79, KEY_F18}, {80, KEY_F19}, {81, KEY_KPEQUAL}, {82, KEY_KP0},
    {83, KEY_KP1}, {84, KEY_KP2}, {85, KEY_KP3}, {86, KEY_KP4}, {87, KEY_KP5}, {88, KEY_KP6}, {89, KEY_KP7},
    {90, KEY_F20}, {91, KEY_KP8}, {92, KEY_KP9}, {96, KEY_F5}, {97, KEY_F6}, {98, KEY_F7}, {99, KEY_F3},
    {100, KEY_F8}, {101, KEY_F9}, {103, KEY_F11}, {105, KEY_F13}, {106, KEY_F16}, {107, KEY_F14},
    {109, KEY_F10}, {111, KEY_F12}, {113, KEY_F15}, {114, KEY_INSERT}, {115, KEY_HOME}, {116, KEY_PAGEUP},
    {117, KEY_DELETE}, {118, KEY_F4}, {119, KEY_END}, {120, KEY_F2}, {121, KEY_PAGEDOWN}, {122, KEY_F1},
    {123, KEY_LEFT}, {124, KEY_RIGHT}, {125, KEY_DOWN}, {126, KEY_UP},
};

std::optional<std::uint16_t> macCodeOf(std::uint16_t evdev)
{
    for (const auto& key : macKeys)
        if (key.evdev == evdev)
            return key.mac;
    return std::nullopt;
}

// One line of a chord table: a macOS chord and its Linux chord, nullptr for
// nothing. Written in the user file's notation, so the tables read as the
// user would write an override.
struct Entry {
    std::string_view from;
    const char* to;
};

constexpr std::string_view launcherName = "launcher";

// Habits that differ between macOS and every PC desktop.
constexpr Entry common[] = {
    {"cmd+tab", "alt+tab"},
    {"cmd+shift+tab", "alt+shift+tab"},
    {"cmd+grave", "alt+grave"},
    {"cmd+shift+grave", "alt+shift+grave"},
    {"cmd+left", "home"},
    {"cmd+right", "end"},
    {"cmd+up", "ctrl+home"},
    {"cmd+down", "ctrl+end"},
    {"cmd+shift+left", "shift+home"},
    {"cmd+shift+right", "shift+end"},
    {"cmd+shift+up", "ctrl+shift+home"},
    {"cmd+shift+down", "ctrl+shift+end"},
    {"opt+left", "ctrl+left"},
    {"opt+right", "ctrl+right"},
    {"opt+shift+left", "ctrl+shift+left"},
    {"opt+shift+right", "ctrl+shift+right"},
    {"opt+backspace", "ctrl+backspace"},
    {"opt+delete", "ctrl+delete"},
    {"cmd+bracketleft", "alt+left"},
    {"cmd+bracketright", "alt+right"},
    {"cmd+shift+bracketleft", "ctrl+pageup"},
    {"cmd+shift+bracketright", "ctrl+pagedown"},
    {"cmd+ctrl+f", "f11"},
    {"cmd+ctrl+d", nullptr}, // Look Up has no counterpart; Ctrl+D would delete or log out
    {"cmd+shift+3", "print"},
    {"cmd+shift+4", "print"},
    {"cmd+shift+5", "print"},
};

// The desktop's own shortcuts for what macOS does with Spotlight, Mission
// Control, spaces, F11 (show desktop), hiding and locking, and the launcher.
constexpr Entry gnome[] = {
    {"cmd+space", "super+s"},
    {"ctrl+up", "super+s"},
    {"ctrl+down", "super+s"},
    {"ctrl+left", "ctrl+alt+left"},
    {"ctrl+right", "ctrl+alt+right"},
    {"f11", "super+d"},
    {"cmd+m", "super+h"},
    {"cmd+h", "super+h"},
    {"cmd+ctrl+q", "super+l"},
    {launcherName, "super+a"},
};
constexpr Entry kde[] = {
    {"cmd+space", "alt+space"},
    {"ctrl+up", "super+w"},
    {"ctrl+down", "ctrl+f7"},
    {"ctrl+left", "super+ctrl+left"},
    {"ctrl+right", "super+ctrl+right"},
    {"f11", "super+d"},
    {"cmd+m", "super+pagedown"},
    {"cmd+h", "super+pagedown"},
    {"cmd+ctrl+q", "super+l"},
    {launcherName, "alt+f1"},
};
constexpr Entry genericX11[] = {
    {"cmd+space", "alt+f2"},
    {"ctrl+up", nullptr},
    {"ctrl+down", nullptr},
    {"ctrl+left", "ctrl+alt+left"},
    {"ctrl+right", "ctrl+alt+right"},
    {"f11", "ctrl+alt+d"},
    {"cmd+m", "alt+f9"},
    {"cmd+h", "alt+f9"},
    {"cmd+ctrl+q", "ctrl+alt+l"},
    {launcherName, "alt+f1"},
};

// Applications whose Linux counterparts use other keys than their macOS
// originals, by the bundle identifiers of the per-app buttons.
constexpr std::string_view terminals[] = {"com.apple.Terminal", "com.googlecode.iterm2"};
constexpr std::string_view fileManagers[] = {"com.apple.finder"};
constexpr std::string_view videoPlayers[] = {
    "com.apple.TV", "com.apple.QuickTimePlayerX", "com.colliderli.iina", "org.videolan.vlc"};
constexpr std::string_view codeEditors[] = {"com.microsoft.VSCode", "com.todesktop.230313mzl4w4u92"};
constexpr std::string_view documentViewers[] = {"com.apple.Preview"};
constexpr std::string_view mail[] = {"com.apple.mail"};
constexpr std::string_view slides[] = {"com.apple.iWork.Keynote"};
constexpr std::string_view zoom[] = {"us.zoom.xos"};

// In a terminal Ctrl+C interrupts, Ctrl+Z suspends and Ctrl+S freezes the
// output: the terminal's own commands take Ctrl+Shift.
constexpr Entry terminalKeys[] = {
    {"cmd+c", "ctrl+shift+c"},
    {"cmd+v", "ctrl+shift+v"},
    {"cmd+x", nullptr},
    {"cmd+a", "ctrl+shift+a"},
    {"cmd+f", "ctrl+shift+f"},
    {"cmd+t", "ctrl+shift+t"},
    {"cmd+w", "ctrl+shift+w"},
    {"cmd+n", "ctrl+shift+n"},
    {"cmd+q", "ctrl+shift+q"},
    {"cmd+k", "ctrl+l"},
    {"cmd+z", nullptr},
    {"cmd+shift+z", nullptr},
    {"cmd+s", nullptr},
};
constexpr Entry konsoleKeys[] = {
    {"cmd+shift+bracketleft", "shift+left"},
    {"cmd+shift+bracketright", "shift+right"},
};
constexpr Entry fileManagerKeys[] = {
    {"cmd+up", "alt+up"},
    {"cmd+backspace", "delete"},
    {"cmd+d", nullptr}, // Files and Thunar: Ctrl+D bookmarks the folder
};
constexpr Entry dolphinKeys[] = {
    {"cmd+d", "ctrl+d"},
    {"cmd+i", "alt+enter"},
};
constexpr Entry otherFileManagerKeys[] = {
    {"cmd+i", "alt+enter"},
};
constexpr Entry videoKeys[] = {
    {"cmd+ctrl+f", "f"},
};
constexpr Entry codeEditorKeys[] = {
    {"ctrl+minus", "ctrl+alt+minus"},
};
constexpr Entry evinceKeys[] = {
    {"cmd+r", "ctrl+right"},
    {"cmd+shift+a", nullptr},
};
constexpr Entry okularKeys[] = {
    {"cmd+r", nullptr},
    {"cmd+shift+a", "f6"},
};
constexpr Entry mailKeys[] = {
    {"cmd+shift+f", "ctrl+l"},
    {"cmd+ctrl+a", "a"},
    {"backspace", "delete"},
    {"cmd+shift+n", "f5"},
};
constexpr Entry slideKeys[] = {
    {"cmd+opt+p", "f5"},
};
constexpr Entry zoomKeys[] = {
    {"cmd+shift+a", "alt+a"},
    {"cmd+shift+v", "alt+v"},
    {"cmd+shift+s", "alt+s"},
    {"cmd+w", "alt+q"},
};

using Desktop = KeyProfile::Desktop;

struct AppKeys {
    std::span<const std::string_view> apps;
    std::optional<Desktop> only; // absent: every desktop
    std::span<const Entry> entries;
};
// Entries for every desktop come first, so a desktop's own replace them.
const AppKeys appKeys[] = {
    {terminals, std::nullopt, terminalKeys},
    {terminals, Desktop::kde, konsoleKeys},
    {fileManagers, std::nullopt, fileManagerKeys},
    {fileManagers, Desktop::kde, dolphinKeys},
    {fileManagers, Desktop::genericX11, otherFileManagerKeys},
    {videoPlayers, std::nullopt, videoKeys},
    {codeEditors, std::nullopt, codeEditorKeys},
    {documentViewers, Desktop::gnome, evinceKeys},
    {documentViewers, Desktop::genericX11, evinceKeys},
    {documentViewers, Desktop::kde, okularKeys},
    {mail, std::nullopt, mailKeys},
    {slides, std::nullopt, slideKeys},
    {zoom, std::nullopt, zoomKeys},
};

std::vector<std::string_view> split(std::string_view text)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const auto plus = text.find('+', start);
        parts.push_back(text.substr(start, plus == std::string_view::npos ? std::string_view::npos : plus - start));
        if (plus == std::string_view::npos)
            return parts;
        start = plus + 1;
    }
}

std::optional<MacChord> parseMacChord(std::string_view text)
{
    const std::string name = lowerASCII(text);
    const auto parts = split(name);
    MacChord chord;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto& part = parts[i];
        if (part == "cmd" || part == "command")
            chord.modifiers |= MacChord::command;
        else if (part == "ctrl" || part == "control")
            chord.modifiers |= MacChord::control;
        else if (part == "opt" || part == "option" || part == "alt")
            chord.modifiers |= MacChord::option;
        else if (part == "shift")
            chord.modifiers |= MacChord::shift;
        else
            return std::nullopt;
    }
    const auto* row = LinuxKeys::byName(parts.back());
    const auto code = row ? macCodeOf(row->evdev) : std::nullopt;
    if (!code)
        return std::nullopt;
    chord.code = *code;
    return chord;
}

void apply(std::span<const Entry> entries, std::map<MacChord, std::optional<LinuxChord>>& table,
    std::optional<LinuxChord>* launcher)
{
    for (const auto& entry : entries) {
        std::optional<LinuxChord> to;
        if (entry.to) {
            to = LinuxChord::parse(entry.to);
            if (!to)
                throw std::logic_error("built-in key table: " + std::string(entry.to));
        }
        if (entry.from == launcherName) {
            if (launcher)
                *launcher = to;
            continue;
        }
        const auto from = parseMacChord(entry.from);
        if (!from)
            throw std::logic_error("built-in key table: " + std::string(entry.from));
        table[*from] = to;
    }
}

std::span<const Entry> desktopEntries(Desktop desktop)
{
    switch (desktop) {
    case Desktop::gnome:
        return gnome;
    case Desktop::kde:
        return kde;
    case Desktop::genericX11:
        return genericX11;
    }
    return genericX11;
}

// The user file's mistakes, each one sentence.
struct FileProblem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr std::uintmax_t maxUserFileSize = 1 << 20;

std::optional<LinuxChord> userTarget(const std::string& from, const nlohmann::json& value)
{
    if (value.is_null())
        return std::nullopt;
    if (!value.is_string())
        throw FileProblem("the value of \"" + from + "\" must be a key chord such as \"ctrl+l\", or null");
    const auto& text = value.get_ref<const std::string&>();
    auto chord = LinuxChord::parse(text);
    if (!chord)
        throw FileProblem("\"" + text + "\" is not a Linux key chord (modifiers ctrl, alt, shift, super and one key)");
    return chord;
}

void readUserTable(const nlohmann::json& object, const std::string& where,
    std::map<MacChord, std::optional<LinuxChord>>& table, std::optional<LinuxChord>* launcher)
{
    if (!object.is_object())
        throw FileProblem(where + " must be an object");
    for (const auto& [from, value] : object.items()) {
        const auto to = userTarget(from, value);
        if (launcher && lowerASCII(from) == launcherName) {
            *launcher = to;
            continue;
        }
        const auto mac = parseMacChord(from);
        if (!mac)
            throw FileProblem("\"" + from + "\" in " + where
                + " is not a macOS key chord (modifiers cmd, ctrl, opt, shift and one key)");
        table[*mac] = to;
    }
}

} // namespace

std::string LinuxChord::description() const
{
    std::string text;
    const std::pair<Modifier, const char*> names[] = {{ctrl, "ctrl+"}, {alt, "alt+"}, {shift, "shift+"}, {super, "super+"}};
    for (const auto& [bit, name] : names)
        if (modifiers & bit)
            text += name;
    const auto* row = LinuxKeys::byCode(key);
    return text + (row ? std::string(row->name) : "key" + std::to_string(key));
}

std::optional<LinuxChord> LinuxChord::parse(std::string_view text)
{
    const std::string name = lowerASCII(text);
    const auto parts = split(name);
    LinuxChord chord;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto& part = parts[i];
        if (part == "ctrl")
            chord.modifiers |= ctrl;
        else if (part == "alt")
            chord.modifiers |= alt;
        else if (part == "shift")
            chord.modifiers |= shift;
        else if (part == "super")
            chord.modifiers |= super;
        else
            return std::nullopt;
    }
    const auto* row = LinuxKeys::byName(parts.back());
    if (!row)
        return std::nullopt;
    chord.key = row->evdev;
    return chord;
}

KeyProfile::Desktop KeyProfile::desktopFrom(std::string_view xdgCurrentDesktop)
{
    // Desktops built on GNOME Shell name it too ("ubuntu:GNOME",
    // "Pop:GNOME"); Plasma says "KDE".
    std::size_t start = 0;
    while (start <= xdgCurrentDesktop.size()) {
        auto end = xdgCurrentDesktop.find(':', start);
        if (end == std::string_view::npos)
            end = xdgCurrentDesktop.size();
        const auto name = lowerASCII(xdgCurrentDesktop.substr(start, end - start));
        if (name == "gnome")
            return Desktop::gnome;
        if (name == "kde")
            return Desktop::kde;
        start = end + 1;
    }
    return Desktop::genericX11;
}

KeyProfile::Desktop KeyProfile::currentDesktop()
{
    const char* value = std::getenv("XDG_CURRENT_DESKTOP");
    return desktopFrom(value ? value : "");
}

std::filesystem::path KeyProfile::userFilePath()
{
    // The XDG base directory rules: a relative $XDG_CONFIG_HOME is
    // invalid and ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home ? home : "/") / ".config";
    }
    return base / "Ferlow" / "keys.json";
}

KeyProfile::KeyProfile(Desktop desktop)
    : m_desktop(desktop)
{
    apply(common, m_chords, nullptr);
    apply(desktopEntries(desktop), m_chords, &m_launcher);
    for (const auto& keys : appKeys) {
        if (keys.only && *keys.only != desktop)
            continue;
        for (const auto app : keys.apps)
            apply(keys.entries, m_apps[std::string(app)], nullptr);
    }
}

KeyProfile::Loaded KeyProfile::load(Desktop desktop, const std::filesystem::path& userFile)
{
    Loaded loaded {KeyProfile(desktop), std::nullopt};
    std::error_code error;
    const auto status = std::filesystem::status(userFile, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return loaded;

    KeyProfile custom(desktop);
    try {
        if (error)
            throw FileProblem("cannot be read (" + error.message() + ")");
        if (status.type() != std::filesystem::file_type::regular)
            throw FileProblem("is not a regular file");
        if (std::filesystem::file_size(userFile, error) > maxUserFileSize)
            throw FileProblem("is larger than 1 MiB");
        std::ifstream in(userFile, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in && !in.eof())
            throw FileProblem(std::string("cannot be read (") + std::strerror(errno) + ")");

        nlohmann::json json;
        try {
            json = nlohmann::json::parse(text);
        } catch (const nlohmann::json::parse_error& e) {
            // nlohmann prefixes its messages with "[json.exception...] ".
            std::string what = e.what();
            const auto bracket = what.find("] ");
            throw FileProblem("is not valid JSON: " + (bracket == std::string::npos ? what : what.substr(bracket + 2)));
        }
        if (!json.is_object())
            throw FileProblem("must hold a JSON object with \"chords\" and \"apps\"");
        for (const auto& [member, value] : json.items()) {
            if (member == "chords") {
                readUserTable(value, "\"chords\"", custom.m_userChords, &custom.m_launcher);
            } else if (member == "apps") {
                if (!value.is_object())
                    throw FileProblem("\"apps\" must be an object of bundle identifiers");
                for (const auto& [app, table] : value.items())
                    readUserTable(table, "\"apps\" \"" + app + "\"", custom.m_userApps[app], nullptr);
            } else {
                throw FileProblem("has an unknown member \"" + member + "\" (only \"chords\" and \"apps\" are read)");
            }
        }
    } catch (const FileProblem& problem) {
        loaded.problem = userFile.string() + " " + problem.what() + "; the built-in keys are used instead.";
        return loaded;
    }
    loaded.profile = std::move(custom);
    return loaded;
}

std::string_view KeyProfile::desktopName() const
{
    switch (m_desktop) {
    case Desktop::gnome:
        return "GNOME";
    case Desktop::kde:
        return "KDE";
    case Desktop::genericX11:
        return "the desktop";
    }
    return "the desktop";
}

std::optional<std::optional<LinuxChord>> KeyProfile::find(const Table& table, MacChord mac)
{
    const auto found = table.find(mac);
    if (found == table.end())
        return std::nullopt;
    return found->second;
}

std::optional<std::optional<LinuxChord>> KeyProfile::lookup(MacChord mac, std::string_view app) const
{
    if (!app.empty()) {
        if (const auto user = m_userApps.find(app); user != m_userApps.end())
            if (auto found = find(user->second, mac))
                return found;
    }
    if (auto found = find(m_userChords, mac))
        return found;
    if (!app.empty()) {
        if (const auto builtIn = m_apps.find(app); builtIn != m_apps.end())
            if (auto found = find(builtIn->second, mac))
                return found;
    }
    return find(m_chords, mac);
}

std::optional<LinuxChord> KeyProfile::chord(MacChord mac, std::string_view app) const
{
    mac.modifiers &= SystemShortcut::modifierMask;
    if (auto listed = lookup(mac, app))
        return *listed;
    const auto key = linuxKey(mac.code);
    if (!key)
        return std::nullopt;
    LinuxChord chord {0, *key};
    if (mac.modifiers & (MacChord::command | MacChord::control))
        chord.modifiers |= LinuxChord::ctrl;
    if (mac.modifiers & MacChord::option)
        chord.modifiers |= LinuxChord::alt;
    if (mac.modifiers & MacChord::shift)
        chord.modifiers |= LinuxChord::shift;
    return chord;
}

std::optional<LinuxChord> KeyProfile::presses(const ActionKind& kind, std::string_view app) const
{
    if (const auto* key = kind.as<ActionKind::Key>())
        return chord({key->code, key->modifiers}, app);
    if (const auto* media = kind.as<ActionKind::Media>()) {
        const auto key = mediaKey(nxCode(media->key));
        return key ? std::optional<LinuxChord>({0, *key}) : std::nullopt;
    }
    if (kind.as<ActionKind::AppSwitcher>())
        return chord({48, MacChord::command}, app); // the translator opens the switcher with Command-Tab
    if (const auto* gesture = kind.as<ActionKind::Gesture>()) {
        // A gesture is one launch, or one key under held modifiers.
        for (const auto& spec : SystemGestures::specs(gesture->gesture)) {
            if (spec.as<EventSpec::Launch>())
                return launcher();
            const auto* key = spec.as<EventSpec::Key>();
            if (key && key->down && !macModifierBit(key->code))
                return chord({key->code, key->flags}, app);
        }
    }
    return std::nullopt;
}

std::string KeyProfile::describe(LinuxChord chord) const
{
    const std::string_view super = m_desktop == Desktop::kde ? "Meta" : "Super";
    std::string text;
    const std::pair<std::uint8_t, std::string_view> names[] = {
        {LinuxChord::ctrl, "Ctrl"}, {LinuxChord::alt, "Alt"}, {LinuxChord::shift, "Shift"}, {LinuxChord::super, super}};
    for (const auto& [bit, name] : names)
        if (chord.modifiers & bit)
            (text += name) += '+';
    if (chord.key == KEY_LEFTMETA)
        return text += super;
    const auto* row = LinuxKeys::byCode(chord.key);
    return text += row ? std::string(row->label) : "Key " + std::to_string(chord.key);
}

std::optional<std::string> KeyProfile::describe(const ActionKind& kind, std::string_view app) const
{
    if (kind.as<ActionKind::Mouse>())
        return std::string();
    const auto sent = presses(kind, app);
    return sent ? std::optional(describe(*sent)) : std::nullopt;
}

std::vector<MacChord> KeyProfile::macChords(LinuxChord target) const
{
    std::vector<MacChord> candidates;
    const auto code = macCodeOf(target.key);
    if (code && !(target.modifiers & LinuxChord::super)) {
        std::uint64_t rest = 0;
        if (target.modifiers & LinuxChord::alt)
            rest |= MacChord::option;
        if (target.modifiers & LinuxChord::shift)
            rest |= MacChord::shift;
        if (target.modifiers & LinuxChord::ctrl) {
            for (const auto ctrl : {MacChord::command, MacChord::control, MacChord::command | MacChord::control})
                candidates.push_back({*code, rest | ctrl});
        } else {
            candidates.push_back({*code, rest});
        }
    }
    for (const auto* table : {&m_userChords, &m_chords})
        for (const auto& [mac, to] : *table)
            if (to == target)
                candidates.push_back(mac);

    std::vector<MacChord> result;
    for (const auto& mac : candidates)
        if (chord(mac) == target && std::find(result.begin(), result.end(), mac) == result.end())
            result.push_back(mac);
    return result;
}

bool KeyProfile::isDeliberate(MacChord mac) const
{
    mac.modifiers &= SystemShortcut::modifierMask;
    return m_userChords.contains(mac) || m_chords.contains(mac);
}

std::vector<SystemShortcut::Combination> KeyProfile::reserved() const
{
    std::vector<SystemShortcut::Combination> result(SystemShortcut::reserved.begin(), SystemShortcut::reserved.end());
    constexpr std::uint8_t ctrlAlt = LinuxChord::ctrl | LinuxChord::alt;
    std::vector<LinuxChord> kept {{ctrlAlt, KEY_DELETE}};
    for (const int f : {KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F5, KEY_F6, KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12})
        kept.push_back({ctrlAlt, static_cast<std::uint16_t>(f)});
    for (const auto& chord : kept)
        for (const auto& mac : macChords(chord))
            result.push_back({mac.code, mac.modifiers});
    return result;
}

std::optional<std::uint16_t> KeyProfile::linuxKey(std::uint16_t macCode)
{
    for (const auto& key : macKeys)
        if (key.mac == macCode)
            return key.evdev;
    return std::nullopt;
}

std::optional<std::uint64_t> KeyProfile::macModifierBit(std::uint16_t macCode)
{
    switch (macCode) {
    case 54:
    case 55:
        return MacChord::command;
    case 56:
    case 60:
        return MacChord::shift;
    case 57:
        return 0x10000; // Caps Lock
    case 58:
    case 61:
        return MacChord::option;
    case 59:
    case 62:
        return MacChord::control;
    case 63:
        return 0x800000; // fn
    default:
        return std::nullopt;
    }
}

std::optional<std::uint16_t> KeyProfile::mediaKey(std::int32_t nxCode)
{
    switch (nxCode) {
    case 0:
        return KEY_VOLUMEUP;
    case 1:
        return KEY_VOLUMEDOWN;
    case 2:
        return KEY_BRIGHTNESSUP;
    case 3:
        return KEY_BRIGHTNESSDOWN;
    case 7:
        return KEY_MUTE;
    case 16:
        return KEY_PLAYPAUSE;
    case 17:
        return KEY_NEXTSONG;
    case 18:
        return KEY_PREVIOUSSONG;
    default:
        return std::nullopt;
    }
}

} // namespace ferlow
