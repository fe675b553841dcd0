#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ferlow {

// One keyboard shortcut the desktop itself intercepts.
struct SystemShortcut {
    std::string name;        // what it does, a short English phrase
    std::uint16_t keyCode;   // virtual key code
    std::uint64_t modifiers; // shift/control/option/command bits only

    bool operator==(const SystemShortcut&) const = default;

    static constexpr std::uint64_t modifierMask = 0x1E0000;

    // Combinations the system always keeps for itself (modifiers masked).
    struct Combination {
        std::uint16_t keyCode;
        std::uint64_t modifiers;
    };
    static constexpr std::array<Combination, 6> reserved {{
        {48, 0x100000}, // Command-Tab
        {53, 0x180000}, // Command-Option-Esc
        {12, 0x140000}, // Command-Control-Q
        {20, 0x120000}, // Command-Shift-3
        {21, 0x120000}, // Command-Shift-4
        {23, 0x120000}, // Command-Shift-5
    }};
};

// The enabled shortcuts now in force, as the platform layer reads them from
// the desktop; whoever builds the app injects it.
using SystemShortcutSupplier = std::function<std::vector<SystemShortcut>()>;

} // namespace ferlow
