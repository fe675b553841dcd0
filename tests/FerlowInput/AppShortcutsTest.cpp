#include "FerlowInput/AppShortcuts.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

TEST(AppShortcutsTest, ContextNumbersTheAppsButtonsUnderItsName)
{
    const auto chrome = AppShortcuts::context("com.google.Chrome", "Chrome");
    ASSERT_TRUE(chrome);
    ASSERT_EQ(chrome->actions.size(), 9u);
    EXPECT_EQ(chrome->name, "Chrome");
    EXPECT_EQ(chrome->actions[0], (ActionButton {"app.0", "Back", ActionKind::key(33, 0x100000), std::nullopt, false, "Chrome"}));
    EXPECT_EQ(chrome->actions[8], (ActionButton {"app.8", "Close Tab", ActionKind::key(13, 0x100000), std::nullopt, false, "Chrome"}));
    // Ids restart for every app; families share one list.
    const auto music = AppShortcuts::context("com.spotify.client", "Spotify");
    ASSERT_TRUE(music);
    EXPECT_EQ(music->actions[0].id, "app.0");
    EXPECT_EQ(music->actions[0].kind, ActionKind::media(MediaKey::previous));
    EXPECT_EQ(AppShortcuts::context("org.mozilla.firefox", "Chrome"), chrome);
}

TEST(AppShortcutsTest, UnknownOrDifferentlyCasedIdentifiersHaveNoContext)
{
    EXPECT_FALSE(AppShortcuts::context("com.example.nothing", "X"));
    EXPECT_FALSE(AppShortcuts::context("com.apple.safari", "Safari"));
    EXPECT_FALSE(AppShortcuts::context("", "X"));
    EXPECT_EQ(AppShortcuts::table().size(), 26u);
}

} // namespace
} // namespace ferlow
