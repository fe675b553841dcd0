// What the desktop's own settings say: the touchpad's scrolling direction
// and the shortcuts the desktop keeps for itself.

#include "FerlowLinux/DesktopSettings.h"
#include "FerlowLinux/DesktopShortcuts.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "FerlowInput/ShortcutConflicts.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {

inline void PrintTo(const SystemShortcut& s, std::ostream* out)
{
    *out << s.name << " " << s.keyCode << " 0x" << std::hex << s.modifiers << std::dec;
}

namespace {

// KDE saves its files by writing a new one and renaming it over the old.
void saveLikeKde(const std::filesystem::path& path, std::string_view text)
{
    test::writeFile(path.string() + ".new", text);
    std::filesystem::rename(path.string() + ".new", path);
}

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
    // Set before GIO's first use: the desktop's own settings are never touched.
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

constexpr std::uint64_t command = MacChord::command, control = MacChord::control, option = MacChord::option;

std::vector<SystemShortcut> sorted(std::vector<SystemShortcut> list)
{
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return std::tie(a.keyCode, a.modifiers, a.name) < std::tie(b.keyCode, b.modifiers, b.name);
    });
    return list;
}

// Each binding on all three macOS chords that become Ctrl+Alt+<key>.
std::vector<SystemShortcut> ctrlAlt(const std::string& name, std::uint16_t code)
{
    return {{name, code, command | option}, {name, code, control | option}, {name, code, command | control | option}};
}

TEST(DesktopShortcuts, GnomeBindingsAreReadThroughGSettingsAndMappedBack)
{
    test::TemporaryDirectory folder;
    test::writeFile(folder.path() / "schemas" / "test.gschema.xml", R"(<schemalist>
  <schema id="org.gnome.desktop.wm.keybindings" path="/org/gnome/desktop/wm/keybindings/">
    <key name="close" type="as"><default>['&lt;Alt&gt;F4']</default><summary>Close window</summary></key>
    <key name="switch-to-workspace-left" type="as">
      <default>['&lt;Super&gt;Page_Up', '&lt;Control&gt;&lt;Alt&gt;Left']</default>
      <summary>Switch to workspace left</summary>
    </key>
    <key name="minimize" type="as"><default>['&lt;Super&gt;h']</default><summary>Hide window</summary></key>
    <key name="switch-group" type="as">
      <default>['&lt;Alt&gt;Above_Tab', 'XF86Keyboard', '&lt;Hyper&gt;a', '&lt;Alt']</default>
      <summary>Switch windows of an app</summary>
    </key>
    <key name="show-desktop" type="as"><default>[]</default><summary>Hide all normal windows</summary></key>
    <key name="set-spew-mark" type="as"><default>['&lt;Alt&gt;F12']</default><summary>DEPRECATED: ignored</summary></key>
  </schema>
  <schema id="org.gnome.settings-daemon.plugins.media-keys" path="/org/gnome/settings-daemon/plugins/media-keys/">
    <key name="custom-keybindings" type="as"><default>[]</default></key>
    <key name="screensaver" type="s"><default>'&lt;Super&gt;l'</default><summary>Lock screen</summary></key>
  </schema>
  <schema id="org.gnome.settings-daemon.plugins.media-keys.custom-keybinding">
    <key name="name" type="s"><default>''</default></key>
    <key name="binding" type="s"><default>''</default></key>
  </schema>
</schemalist>
)");
    const auto compile = "glib-compile-schemas '" + (folder.path() / "schemas").string() + "'";
    ASSERT_EQ(std::system(compile.c_str()), 0);
    test::writeFile(folder.path() / "user.ini", R"([org/gnome/desktop/wm/keybindings]
show-desktop=['<Primary><Alt>d']

[org/gnome/settings-daemon/plugins/media-keys]
custom-keybindings=['/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/', 'not a path']

[org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0]
name='Terminal'
binding='<Primary><Alt>t'
)");

    const auto bindings = DesktopShortcuts::gnomeBindings({folder.path() / "schemas", folder.path() / "user.ini"});
    EXPECT_EQ(bindings.size(), 8u);
    // Super chords flag nothing: only the profile's own desktop keys send them.
    std::vector<SystemShortcut> expected {{"Close window", 118, option}, {"Switch windows of an app", 50, option}};
    for (const auto& more : {ctrlAlt("Switch to workspace left", 123), ctrlAlt("Hide all normal windows", 2),
             ctrlAlt("Terminal", 17)})
        expected.insert(expected.end(), more.begin(), more.end());
    const KeyProfile gnome(KeyProfile::Desktop::gnome);
    EXPECT_EQ(sorted(DesktopShortcuts::map(bindings, gnome)), sorted(expected));
}

TEST(DesktopShortcuts, KdeShortcutsAreReadFromItsConfigFileAndFlagButtons)
{
    test::TemporaryDirectory folder;
    test::writeFile(folder.path() / "kglobalshortcutsrc", R"([kwin]
_k_friendly_name=KWin
Switch One Desktop to the Left=Meta+Ctrl+Left,Meta+Ctrl+Left,Switch One Desktop to the Left
Window Close=Alt+F4,Alt+F4,Close Window
Walk Through Windows=Alt+Tab\tMeta+Tab,Alt+Tab,Walk Through Windows
Window Maximize=none,Meta+PgUp,Maximize Window
Kill Window=Meta+Ctrl+Esc,Meta+Ctrl+Esc,Kill Window
Odd One=Ctrl+Alt+\,,none,Odd\, but valid
Broken
Keypad=Num+1,none,Keypad
Sequence=Ctrl+K\, Ctrl+C,none,Sequence

[services][org.kde.konsole.desktop]
_launch=Ctrl+Alt+T
)");
    const KeyProfile kde(KeyProfile::Desktop::kde);
    std::vector<SystemShortcut> shortcuts;
    {
        test::Environment environment;
        environment.set("XDG_CONFIG_HOME", folder.path().c_str());
        shortcuts = DesktopShortcuts::read(kde);
    }

    std::vector<SystemShortcut> expected {{"Close Window", 118, option}, {"Walk Through Windows", 48, option}};
    for (const auto& more : {ctrlAlt("Odd, but valid", 43), ctrlAlt("a KDE shortcut", 17)})
        expected.insert(expected.end(), more.begin(), more.end());
    EXPECT_EQ(sorted(shortcuts), sorted(expected));

    auto button = [](const char* id, std::uint16_t code, std::uint64_t mods) {
        return ActionButton {id, id, ActionKind::key(code, mods), std::nullopt, false, std::nullopt};
    };
    const auto reserved = kde.reserved();
    const auto annotated = ShortcutConflicts::annotate(
        {button("a", 118, option), button("b", 48, command), button("c", 120, command | option), button("d", 8, command)},
        shortcuts, {kde.desktopName(), reserved, {}});
    EXPECT_EQ(annotated[0].conflict, "Also used by Close Window");
    EXPECT_EQ(annotated[1].conflict, "Reserved by KDE");
    EXPECT_EQ(annotated[2].conflict, "Reserved by KDE"); // Ctrl+Alt+F2 switches the console
    EXPECT_EQ(annotated[3].conflict, std::nullopt);
}

} // namespace
} // namespace ferlow
