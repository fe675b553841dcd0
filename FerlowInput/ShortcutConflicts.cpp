#include "FerlowInput/ShortcutConflicts.h"

#include <algorithm>

namespace ferlow {

std::optional<std::string> ShortcutConflicts::find(const ActionButton& button, const std::vector<ActionButton>& among,
    const std::vector<SystemShortcut>& system, const DesktopRules& rules)
{
    if (rules.presses && !rules.presses(button.kind))
        return std::string(notAvailable);
    const auto* key = button.kind.as<ActionKind::Key>();
    if (!key)
        return std::nullopt;
    const std::uint16_t code = key->code;
    const std::uint64_t mods = key->modifiers & SystemShortcut::modifierMask;

    const auto& kept = rules.reserved;
    if (std::any_of(kept.begin(), kept.end(), [&](const auto& r) { return r.keyCode == code && r.modifiers == mods; }))
        return "Reserved by " + std::string(rules.owner);

    for (const auto& shortcut : system) {
        if (shortcut.keyCode == code && shortcut.modifiers == mods)
            return "Also used by " + shortcut.name;
    }

    for (const auto& other : among) {
        if (other.id == button.id)
            continue;
        const auto* otherKey = other.kind.as<ActionKind::Key>();
        if (otherKey && otherKey->code == code && (otherKey->modifiers & SystemShortcut::modifierMask) == mods)
            return "Same as button \u201C" + other.title + "\u201D";
    }
    return std::nullopt;
}

std::vector<ActionButton> ShortcutConflicts::annotate(const std::vector<ActionButton>& buttons,
    const std::vector<SystemShortcut>& system, const DesktopRules& rules)
{
    std::vector<ActionButton> result = buttons;
    for (auto& button : result)
        button.conflict = button.keep ? std::nullopt : find(button, buttons, system, rules);
    return result;
}

} // namespace ferlow
