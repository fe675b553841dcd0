#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowCore/ActionButton.h"
#include "FerlowInput/SystemShortcut.h"

namespace ferlow {

// What the desktop allows: who keeps which key combinations for itself, and
// the name its conflict text gives it ("Reserved by macOS", "Reserved by
// GNOME"); and which buttons press anything there at all.
struct DesktopRules {
    std::string_view owner = "macOS";
    std::span<const SystemShortcut::Combination> reserved = SystemShortcut::reserved;
    // Whether a button of this kind presses anything; unset, every one does.
    std::function<bool(const ActionKind&)> presses;
};

// Whether a button presses nothing on this desktop, or, for a key button,
// sends a combination the system intercepts or another button of the same
// list already sends. Only the shift, control, option and command bits are
// compared.
struct ShortcutConflicts {
    static constexpr std::string_view notAvailable = "Not available on this desktop";

    // The first finding, by priority: notAvailable, "Reserved by " + the
    // owner, "Also used by " + the system shortcut's name, then "Same as
    // button “<title>”" for another button (a button never clashes with
    // itself). Only key buttons can clash.
    static std::optional<std::string> find(const ActionButton& button, const std::vector<ActionButton>& among,
        const std::vector<SystemShortcut>& system, const DesktopRules& rules = {});

    // The list with each button's `conflict` set from `find`, or cleared when
    // the user chose to keep the button.
    static std::vector<ActionButton> annotate(const std::vector<ActionButton>& buttons,
        const std::vector<SystemShortcut>& system, const DesktopRules& rules = {});
};

} // namespace ferlow
