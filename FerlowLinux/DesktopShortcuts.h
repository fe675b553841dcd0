#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowInput/SystemShortcut.h"
#include "FerlowLinux/KeyProfile.h"

namespace ferlow {

// Reads the desktop's own keyboard shortcuts and maps them back through the
// key profile to the macOS chords that would set them off, so that a button
// sending one of those is flagged ("Also used by Switch applications").
// GNOME's come from its keybinding settings through GSettings (only the
// schemas that exist), KDE's from kglobalshortcutsrc; other desktops offer
// nothing readable. Chords the profile sends to the desktop on purpose
// (Control-Up for the overview) are left out: reaching the desktop is what
// those buttons are for. Call on the main thread.
struct DesktopShortcuts {
    // One shortcut of the desktop: what it does, and its keys.
    struct Binding {
        std::string name;
        LinuxChord chord;
        bool operator==(const Binding&) const = default;
    };

    // The shortcuts in force on the profile's desktop, as macOS chords.
    static std::vector<SystemShortcut> read(const KeyProfile& profile);

    // Where GNOME's settings come from: the system's schemas and settings
    // store by default, or a schema folder and a key file (for tests).
    struct GnomeSource {
        std::filesystem::path schemaDirectory;
        std::filesystem::path keyfile;
    };
    static std::vector<Binding> gnomeBindings(const GnomeSource& source = {});

    // $XDG_CONFIG_HOME/kglobalshortcutsrc (~/.config when unset).
    static std::filesystem::path kdeFilePath();
    static std::vector<Binding> kdeBindings(std::string_view fileContent);

    // The macOS chords the profile turns into each binding's chord, except
    // those it sends to the desktop on purpose; one entry per chord, named
    // after the first binding that has it.
    static std::vector<SystemShortcut> map(const std::vector<Binding>& bindings, const KeyProfile& profile);

    // "<Control><Alt>Left", as GNOME stores accelerators.
    static std::optional<LinuxChord> parseGnomeAccelerator(std::string_view accelerator);
    // "Meta+Ctrl+Left", as KDE stores shortcuts.
    static std::optional<LinuxChord> parseKdeShortcut(std::string_view shortcut);
};

} // namespace ferlow
