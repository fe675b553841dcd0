#include "FerlowInput/ShortcutConflicts.h"

#include <optional>

#include <gtest/gtest.h>

namespace ferlow {
namespace {

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
