#include "FerlowInput/AppShortcuts.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

TEST(AppShortcutsTest, ContextNumbersTheAppsButtonsUnderItsNameAndMatchesIdsExactly)
{
    const auto chrome = AppShortcuts::context("com.google.Chrome", "Chrome");
    ASSERT_TRUE(chrome);
    EXPECT_EQ(chrome->actions.at(8), (ActionButton {"app.8", "Close Tab", ActionKind::key(13, 0x100000), std::nullopt, false, "Chrome"}));
    // Ids restart for every app; families share one list.
    EXPECT_EQ(AppShortcuts::context("com.spotify.client", "Spotify")->actions.at(0).id, "app.0");
    EXPECT_EQ(AppShortcuts::context("org.mozilla.firefox", "Chrome"), chrome);
    for (const char* unknown : {"com.example.nothing", "com.apple.safari", ""})
        EXPECT_FALSE(AppShortcuts::context(unknown, "X")) << unknown;
}

} // namespace
} // namespace ferlow
