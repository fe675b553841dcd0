#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowCore/ActionButton.h"

namespace ferlow {

// The built-in extra buttons offered for the application in front, by its
// bundle identifier. Fixed; not user-editable and not stored.
struct AppShortcuts {
    // One entry of the table: a title and what the button does (a key with
    // modifiers, or a media key).
    struct B {
        std::string_view title;
        ActionKind kind;

        static B key(std::string_view title, std::uint16_t code, std::uint64_t modifiers = 0)
        {
            return {title, ActionKind::key(code, modifiers)};
        }
        static B media(std::string_view title, MediaKey key) { return {title, ActionKind::media(key)}; }
    };

    // Bundle identifier -> buttons in order; applications of one family
    // share one list.
    static const std::map<std::string, std::vector<B>, std::less<>>& table();

    // The front application's buttons, ids "app.0", "app.1", ... in table
    // order, grouped under `name`. Absent for an identifier not in the table
    // (exact, case-sensitive match).
    static std::optional<AppContext> context(std::string_view bundleID, const std::string& name);
};

} // namespace ferlow
