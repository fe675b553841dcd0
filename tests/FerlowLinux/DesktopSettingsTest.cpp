#include "FerlowLinux/DesktopSettings.h"

#include <atomic>
#include <cstdlib>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

// KDE saves its files by writing a new one and renaming it over the old.
void saveLikeKde(const std::filesystem::path& path, std::string_view text)
{
    test::writeFile(path.string() + ".new", text);
    std::filesystem::rename(path.string() + ".new", path);
}

// Each save of the file is told, from a thread of the watch's own; without
// its folder there is nothing to follow.
TEST(DesktopSettingsTest, OnKdeTheTouchpadsNaturalScrollCountsAndEachSaveIsTold)
{
    test::TemporaryDirectory home;
    const auto file = home.path() / "kcminputrc";
    DesktopSettings settings(DesktopSettings::Desktop::kde, file);
    EXPECT_EQ(settings.trackpadPrefs(), TrackpadPrefs::builtIn(false)) << "no file: Plasma's default";
    std::atomic<int> told = 0;
    const auto watch = settings.watch([&] { ++told; });
    ASSERT_TRUE(watch);

    const std::string touchpad = "[Libinput][1267][12850][ELAN0501:00 04F3:3060 Touchpad]\n";
    const std::pair<std::string, bool> cases[] = {
        {"[Mouse]\ncursorTheme=breeze\n\n" + touchpad + "NaturalScroll=true\nTapToClick=true\n", true},
        {touchpad + "NaturalScroll=false\n", false},
        {touchpad + "NaturalScroll[$i]=true\n", true}, // an immutable key
        {"[Libinput][1133][49271][Logitech USB Optical Mouse]\nNaturalScroll=true\n", false}, // only the mouse
        {touchpad + "TapToClick=true\n[Keyboard]\nNaturalScroll=true\n", false}, // the key in the next group
        {"[Libinput][76][613][Apple Inc. Magic Trackpad 2]\nNaturalScroll=true\n", true},
    };
    for (const auto& [text, natural] : cases) {
        const int before = told;
        saveLikeKde(file, text);
        EXPECT_TRUE(test::eventually([&] { return told > before; })) << text;
        EXPECT_EQ(settings.trackpadPrefs(), TrackpadPrefs::builtIn(natural)) << text;
    }
    EXPECT_FALSE(DesktopSettings(DesktopSettings::Desktop::kde, home.path() / "gone" / "kcminputrc").watch([] { }));
}

TEST(DesktopSettingsTest, GnomesNaturalScrollIsReadEachTimeAndChangesAreTold)
{
    // The compiled test schema and GIO's memory backend, set before GIO's
    // first use: nothing of the desktop's own settings is read or written.
    ::setenv("GSETTINGS_SCHEMA_DIR", FERLOW_TEST_SCHEMA_DIR, 1);
    ::setenv("GSETTINGS_BACKEND", "memory", 1);
    DesktopSettings settings(DesktopSettings::Desktop::other, {});
    std::atomic<int> told = 0;
    const auto watch = settings.watch([&] { ++told; });
    GSettings* touchpad = g_settings_new("org.gnome.desktop.peripherals.touchpad");
    EXPECT_TRUE(settings.trackpadPrefs().naturalScroll);
    g_settings_set_boolean(touchpad, "natural-scroll", false);
    EXPECT_EQ(settings.trackpadPrefs(), TrackpadPrefs::builtIn(false));
    EXPECT_TRUE(test::eventually([&] { return told == 1; }));
    g_object_unref(touchpad);
}

// GIO ends the process when asked for a schema that is not installed, and
// looks for schemas only once per process: a child process without any.
TEST(DesktopSettingsDeathTest, WithoutGnomesSchemaKdesFileOrTheDefaultIsUsed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    test::TemporaryDirectory home;
    const auto file = home.path() / "kcminputrc";
    const auto naturalScroll = [&] {
        ::unsetenv("GSETTINGS_SCHEMA_DIR");
        ::setenv("XDG_DATA_DIRS", home.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", home.path().c_str(), 1);
        std::exit(DesktopSettings(DesktopSettings::Desktop::other, file).trackpadPrefs().naturalScroll ? 1 : 0);
    };
    EXPECT_EXIT(naturalScroll(), testing::ExitedWithCode(1), "");
    test::writeFile(file, "[Libinput][2][7][SynPS/2 Synaptics TouchPad]\nNaturalScroll=false\n");
    EXPECT_EXIT(naturalScroll(), testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace ferlow
