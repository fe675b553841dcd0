#include "FerlowInput/ShortcutConflicts.h"
#include "FerlowInput/SystemShortcut.h"

#include <optional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace ferlow {
namespace {

using nlohmann::json;

// The reading of macOS's symbolic hot keys is kept for a macOS build.
json hotKey(json enabled, json parameters)
{
    json entry = {{"value", {{"parameters", parameters}, {"type", "standard"}}}};
    if (!enabled.is_null())
        entry["enabled"] = enabled;
    return entry;
}

TEST(SystemShortcutTest, LoadKeepsOnlyEnabledWellFormedEntries)
{
    struct Case {
        const char* what;
        const char* key;
        json entry;
        std::optional<SystemShortcut> expected;
    };
    const Case cases[] = {
        {"enabled Spotlight", "64", hotKey(true, {32, 49, 1048576}), SystemShortcut {"Spotlight", 49, 0x100000}},
        {"enabled as a number, plus sign", "+64", hotKey(1, {32, 49, 1048576}), SystemShortcut {"Spotlight", 49, 0x100000}},
        {"fractional numbers truncate", "32", hotKey(0.5, {65535, 126.9, 262144.0}), SystemShortcut {"Mission Control", 126, 0x40000}},
        {"extra mask bits dropped", "79", hotKey(true, {65535, 123, 0x840000}), SystemShortcut {"Move left a space", 123, 0x40000}},
        {"unknown number", "999", hotKey(true, {0, 1, 0}), SystemShortcut {"a macOS shortcut", 1, 0}},
        {"unparsable number", "+-7", hotKey(true, {0, 1, 0}), SystemShortcut {"a macOS shortcut", 1, 0}},
        {"disabled", "64", hotKey(false, {32, 49, 1048576}), std::nullopt},
        {"enabled zero", "64", hotKey(0, {32, 49, 1048576}), std::nullopt},
        {"enabled missing", "64", hotKey(nullptr, {32, 49, 1048576}), std::nullopt},
        {"no key", "64", hotKey(true, {65535, 65535, 0}), std::nullopt},
        {"key code too large", "64", hotKey(true, {0, 70000, 0}), std::nullopt},
        {"negative key code", "64", hotKey(true, {0, -1, 0}), std::nullopt},
        {"key code not a number", "64", hotKey(true, {0, "1", 0}), std::nullopt},
        {"two parameters", "64", hotKey(true, {32, 49}), std::nullopt},
        {"entry not a dictionary", "64", json::array({1, 2, 3}), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto loaded = SystemShortcut::load({{"AppleSymbolicHotKeys", {{c.key, c.entry}}}});
        EXPECT_EQ(loaded, c.expected ? std::vector {*c.expected} : std::vector<SystemShortcut> {});
    }
    EXPECT_TRUE(SystemShortcut::load(json::object()).empty());
    EXPECT_TRUE(SystemShortcut::load({{"AppleSymbolicHotKeys", json::array()}}).empty());
}


ActionButton keyButton(const char* id, std::uint16_t code, std::uint64_t modifiers, bool keep = false)
{
    return {id, id, ActionKind::key(code, modifiers), std::nullopt, keep, "Keys"};
}

// The desktops' own reserved and bound keys are the Linux shortcut tests';
// here the order of the findings and what counts as the same combination.
TEST(ShortcutConflictsTest, ReportsTheFirstClashByPriority)
{
    const std::vector<SystemShortcut> system {{"Spotlight", 49, 0x100000}, {"Screenshot", 20, 0x120000}};
    const std::vector<ActionButton> list {keyButton("tab", 48, 0x100000), keyButton("shot", 20, 0x120000),
        keyButton("spot", 49, 0x100000), keyButton("kept", 49, 0x100000 | 0xA00000, true), keyButton("copy", 8, 0x100000),
        keyButton("copy2", 8, 0x100000 | 0x800000), keyButton("plain", 8, 0), {"m", "Mouse", ActionKind::mouse(1), std::nullopt, false, "More"},
        {"s", "Switcher", ActionKind::appSwitcher(), std::nullopt, false, "More"}};
    const std::vector<std::optional<std::string>> expected {"Reserved by macOS", "Reserved by macOS", "Also used by Spotlight",
        std::nullopt, "Same as button \u201C" "copy2\u201D", "Same as button \u201C" "copy\u201D", std::nullopt, std::nullopt, std::nullopt};
    const auto annotated = ShortcutConflicts::annotate(list, system);
    ASSERT_EQ(annotated.size(), list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(annotated[i].conflict, expected[i]) << list[i].id;
        EXPECT_EQ(annotated[i].id, list[i].id);
    }
    // `keep` silences the annotation, not the finding.
    EXPECT_EQ(ShortcutConflicts::find(list[3], list, system), "Also used by Spotlight");
    EXPECT_EQ(ShortcutConflicts::find(list[4], {list[4]}, {}), std::nullopt);
}

} // namespace
} // namespace ferlow
