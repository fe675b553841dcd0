#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FerlowCore/ActionButton.h"
#include "FerlowInput/SystemShortcut.h"

namespace ferlow {

// Whether a key button sends a combination the system intercepts or another
// button of the same list already sends. Only the shift, control, option
// and command bits are compared.
struct ShortcutConflicts {
    // The first clash, by priority: "Reserved by macOS", then "Also used by "
    // + the system shortcut's name, then "Same as button “<title>”" for
    // another button (a button never clashes with itself). Only key buttons
    // can clash.
    static std::optional<std::string> find(
        const ActionButton& button, const std::vector<ActionButton>& among, const std::vector<SystemShortcut>& system);

    // The list with each button's `conflict` set from `find`, or cleared when
    // the user chose to keep the button.
    static std::vector<ActionButton> annotate(
        const std::vector<ActionButton>& buttons, const std::vector<SystemShortcut>& system);
};

} // namespace ferlow
