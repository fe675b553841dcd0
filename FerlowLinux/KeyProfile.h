#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowCore/ActionKind.h"
#include "FerlowInput/SystemShortcut.h"

namespace ferlow {

// A macOS key combination as buttons and the wire carry it: a virtual key
// code and the shift/control/option/command bits (SystemShortcut's mask).
struct MacChord {
    std::uint16_t code = 0;
    std::uint64_t modifiers = 0;

    static constexpr std::uint64_t shift = 0x20000, control = 0x40000, option = 0x80000, command = 0x100000;

    auto operator<=>(const MacChord&) const = default;
};

// A Linux key combination: modifiers held around one key (an evdev code).
// A lone modifier key is a key without modifiers: "super" taps Super.
struct LinuxChord {
    enum Modifier : std::uint8_t { ctrl = 1, alt = 2, shift = 4, super = 8 };

    std::uint8_t modifiers = 0;
    std::uint16_t key = 0;

    // "ctrl+alt+left": modifiers in the order ctrl, alt, shift, super.
    std::string description() const;
    // The same notation, names in any case; absent for anything else.
    static std::optional<LinuxChord> parse(std::string_view text);

    auto operator<=>(const LinuxChord&) const = default;
};

// How the macOS-level keys of Ferlow's buttons and gestures become keys on
// one Linux desktop. A macOS chord is looked up in, first to last:
//   1. the user file's section for the application in front,
//   2. the user file's "chords",
//   3. the built-in table for the application in front,
//   4. the built-in table of the desktop (text navigation, window and
//      workspace shortcuts, the launcher),
// and otherwise becomes the key in the same place on a PC keyboard with
// Command and Control as Ctrl, Option as Alt and Shift as Shift. A table may
// map a chord to nothing: it is then not sent at all.
//
// The user file, $XDG_CONFIG_HOME/Ferlow/keys.json, replaces single chords;
// every member is optional:
//   {
//     "chords": { "cmd+space": "alt+f2", "ctrl+up": null, "launcher": "super+a" },
//     "apps":   { "com.apple.Terminal": { "cmd+k": "ctrl+shift+k" } }
//   }
// A key on the left is macOS modifiers ("cmd", "ctrl", "opt", "shift") and
// one key, named like the Linux key in the same place ("cmd+backspace" is
// Command-Delete); "launcher" stands for opening the apps launcher. A value
// is Linux modifiers ("ctrl", "alt", "shift", "super") and one key ("super",
// "ctrl+alt+left", "playpause"; the names of LinuxKeys), or null for nothing.
// Names ignore case. "apps" is keyed by the bundle identifiers the per-app
// buttons use. A file with any mistake is ignored as a whole.
class KeyProfile final {
public:
    enum class Desktop { gnome, kde, genericX11 };

    // From $XDG_CURRENT_DESKTOP, a colon-separated list ("ubuntu:GNOME").
    static Desktop desktopFrom(std::string_view xdgCurrentDesktop);
    static Desktop currentDesktop();
    // $XDG_CONFIG_HOME/Ferlow/keys.json, ~/.config when the variable is unset.
    static std::filesystem::path userFilePath();

    // The built-in profile.
    explicit KeyProfile(Desktop desktop);

    // The built-in profile with the user file over it. A missing file is no
    // problem; any other failure leaves the built-in profile and one message
    // naming the file and what is wrong, for the caller to show.
    struct Loaded;
    static Loaded load(Desktop desktop, const std::filesystem::path& userFile);

    Desktop desktop() const { return m_desktop; }
    // "GNOME", "KDE", or "the desktop" for any other.
    std::string_view desktopName() const;

    // The Linux chord for a macOS chord, with `app` the bundle identifier of
    // the application in front; absent when nothing is to be sent (a chord
    // mapped to nothing, or a key code no PC key stands for).
    std::optional<LinuxChord> chord(MacChord mac, std::string_view app = {}) const;
    // What opening the apps launcher presses; absent where the desktop has
    // no launcher shortcut.
    std::optional<LinuxChord> launcher() const { return m_launcher; }

    // The one chord the chord mapper posts for a button of `kind` with `app`
    // in front: a key button's, a gesture's, the app switcher's, a media
    // key's key. Absent when the button presses nothing here, and for mouse
    // buttons, which press no key.
    std::optional<LinuxChord> presses(const ActionKind& kind, std::string_view app = {}) const;
    // A chord as this desktop writes it: "Ctrl+Shift+T", "Alt+Tab",
    // "Super+S" ("Meta+W" on KDE, whose settings call the key Meta).
    std::string describe(LinuxChord chord) const;
    // What a button of `kind` presses here, written as above; empty for a
    // mouse button; absent when it presses nothing on this desktop.
    std::optional<std::string> describe(const ActionKind& kind, std::string_view app = {}) const;

    // The macOS chords that this profile turns into `target` when no
    // application overrides apply: plain ones first (Command before
    // Control), then the tables' own. The shortcut recorder and the desktop
    // shortcut reader map Linux keys back through this.
    std::vector<MacChord> macChords(LinuxChord target) const;
    // Whether the tables name this chord on purpose (a chord meant to reach
    // the desktop, such as Control-Up for the overview).
    bool isDeliberate(MacChord mac) const;
    // The macOS chords whose Linux chord the desktop or the system always
    // keeps: the macOS list, plus Ctrl+Alt+Delete and the Ctrl+Alt+F1–F12
    // console switches.
    std::vector<SystemShortcut::Combination> reserved() const;

    // The PC key in the place of a macOS key code; absent for modifier keys
    // and codes no key has.
    static std::optional<std::uint16_t> linuxKey(std::uint16_t macCode);
    // The modifier bit of a macOS modifier key (Command, Shift, Caps Lock,
    // Option, Control, either side, and fn), absent for other keys.
    static std::optional<std::uint64_t> macModifierBit(std::uint16_t macCode);
    // The evdev key of a media key number (MediaKey's nxCode).
    static std::optional<std::uint16_t> mediaKey(std::int32_t nxCode);

private:
    using Table = std::map<MacChord, std::optional<LinuxChord>>;

    static std::optional<std::optional<LinuxChord>> find(const Table& table, MacChord mac);
    std::optional<std::optional<LinuxChord>> lookup(MacChord mac, std::string_view app) const;

    Desktop m_desktop;
    Table m_chords;                                       // built-in, common and desktop
    std::map<std::string, Table, std::less<>> m_apps;     // built-in, by bundle identifier
    Table m_userChords;
    std::map<std::string, Table, std::less<>> m_userApps;
    std::optional<LinuxChord> m_launcher;
};

struct KeyProfile::Loaded {
    KeyProfile profile;
    std::optional<std::string> problem;
};

} // namespace ferlow
