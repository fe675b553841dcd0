#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FerlowLinux/TypingKeymap.h"

namespace ferlow {

// A keyboard layout compiled with xkbcommon, for typing through a device
// that sends key positions (uinput): which key, with which modifier keys
// held, types each character in the layout's first group. The desktop
// turns the positions back into characters with its own layout, so the
// text comes out right when that is this one.
class KeyboardLayout final {
public:
    // A layout by its XKB names, as localectl and setxkbmap give them
    // ("pc105", "de", "nodeadkeys"); an empty field takes xkbcommon's
    // default (rules "evdev", model "pc105", layout "us").
    struct Names {
        std::string rules, model, layout, variant, options;
        bool operator==(const Names&) const = default;
    };

    struct Stroke {
        std::uint16_t key = 0;                // evdev code
        std::vector<std::uint16_t> modifiers; // evdev codes held around it
        bool operator==(const Stroke&) const = default;
    };

    // The layout of the system's keyboards: the XKB_DEFAULT_RULES, _MODEL,
    // _LAYOUT, _VARIANT and _OPTIONS variables where any is set, else the
    // X11 keyboard of systemd-localed (what `localectl status` shows), else
    // nothing (the defaults).
    static Names systemNames();

    // Null when xkbcommon cannot compile `names`, with the reason in `why`.
    static std::shared_ptr<const KeyboardLayout> compile(const Names& names, std::string* why = nullptr);

    std::optional<Stroke> find(char32_t character) const;
    // Every key a stroke may press, modifier keys included.
    const std::vector<std::uint16_t>& keys() const { return m_keys; }
    // "de(nodeadkeys)": the layout and variant of the first group.
    const std::string& name() const { return m_name; }

private:
    KeyboardLayout() = default;

    TypingKeymap m_keymap;                  // xkbcommon keycodes and modifier bits
    std::vector<std::uint16_t> m_modifierKeys; // per modifier bit: an evdev key that sets it, 0 for none
    std::vector<std::uint16_t> m_keys;
    std::string m_name;
};

} // namespace ferlow
