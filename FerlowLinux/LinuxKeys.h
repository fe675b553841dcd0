#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace ferlow {

// The Linux keys Ferlow can press, each by its evdev code with four names:
// Ferlow's own (lower case, used in keys.json and in messages: "a",
// "pageup", "ctrl", "playpause"), the X keysym name (also the key part of a
// GTK accelerator: "Page_Up", "XF86AudioPlay"), the Qt portable name KDE
// writes in its shortcut files ("PgUp", "Media Play"; empty where KDE has
// none) and the label people read on screen ("Page Up", "Play/Pause"). A
// key that is not listed here is never posted.
struct LinuxKeys {
    struct Row {
        std::uint16_t evdev;
        std::string_view name;
        std::string_view keysym;
        std::string_view qt;
        std::string_view label;
    };

    static std::span<const Row> all();

    static const Row* byCode(std::uint16_t evdev);
    static const Row* byName(std::string_view name);      // Ferlow's name, any case
    static const Row* byKeysym(std::string_view keysym);  // exact, plus the aliases GNOME writes
    static const Row* byQtName(std::string_view qt);      // any case
};

} // namespace ferlow
