#include "FerlowLinux/KeyProfile.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using Desktop = KeyProfile::Desktop;

constexpr std::uint64_t command = MacChord::command, control = MacChord::control;

std::string chordText(const std::optional<LinuxChord>& chord) { return chord ? chord->description() : "nothing"; }

TEST(KeyProfile, DesktopComesFromTheFirstKnownNameInXdgCurrentDesktop)
{
    const std::pair<const char*, Desktop> cases[] = {{"GNOME", Desktop::gnome}, {"ubuntu:GNOME", Desktop::gnome}, {"KDE", Desktop::kde},
        {"kde", Desktop::kde}, {"XFCE", Desktop::genericX11}, {"X-Cinnamon", Desktop::genericX11}, {"", Desktop::genericX11},
        {"GNOME-Flashback:GNOME", Desktop::gnome}, {"::KDE", Desktop::kde}};
    for (const auto& [value, desktop] : cases)
        EXPECT_EQ(KeyProfile::desktopFrom(value), desktop) << value;
}

TEST(KeyProfile, UserFileOverridesSingleChordsAndBeatsTheBuiltInAppTables)
{
    test::TemporaryDirectory folder;
    const auto file = folder.path() / "keys.json";
    test::writeFile(file, R"({
        "chords": {"CMD+Space": "alt+f2", "ctrl+up": null, "launcher": "super+x", "cmd+w": "ctrl+f4"},
        "apps": {"com.apple.Terminal": {"cmd+k": "ctrl+shift+k"}}
    })");
    const auto loaded = KeyProfile::load(Desktop::gnome, file);
    ASSERT_FALSE(loaded.problem) << *loaded.problem;
    const auto& profile = loaded.profile;

    const std::tuple<MacChord, const char*, const char*> cases[] = {
        {{49, command}, "", "alt+f2"},
        {{126, control}, "", "nothing"},
        {{124, control}, "", "ctrl+alt+right"}, // untouched built-in
        {{13, command}, "com.apple.Terminal", "ctrl+f4"},
        {{40, command}, "com.apple.Terminal", "ctrl+shift+k"},
        {{40, command}, "", "ctrl+k"},
        {{8, command}, "com.apple.Terminal", "ctrl+shift+c"},
    };
    for (const auto& [mac, app, expected] : cases)
        EXPECT_EQ(chordText(profile.chord(mac, app)), expected) << mac.code << " " << mac.modifiers << " " << app;
    EXPECT_EQ(chordText(profile.launcher()), "super+x");
    EXPECT_FALSE(KeyProfile::load(Desktop::gnome, folder.path() / "missing.json").problem);
}

// How the desktop writes a chord; that it is the chord really sent is the
// button table's test. A mouse button presses no key but is there.
TEST(KeyProfile, DescribesAChordAsTheDesktopWritesIt)
{
    EXPECT_EQ(KeyProfile(Desktop::kde).describe(ActionKind::gesture(SystemGesture::missionControl)), "Meta+W");
    EXPECT_EQ(KeyProfile(Desktop::kde).describe(ActionKind::key(124, control)), "Ctrl+Meta+Right");
    EXPECT_EQ(KeyProfile(Desktop::gnome).describe(ActionKind::key(33, command | MacChord::shift | 0x800000)), "Ctrl+Page Up");
    EXPECT_EQ(KeyProfile(Desktop::gnome).describe(ActionKind::mouse(1)), "");
}

TEST(KeyProfile, ABadUserFileIsNamedWithItsProblemAndTheBuiltInKeysStay)
{
    test::TemporaryDirectory folder;
    const std::pair<const char*, const char*> cases[] = {
        {"{\"chords\": {", "is not valid JSON: "},
        {"[]", "must hold a JSON object"},
        {R"({"chords": []})", "\"chords\" must be an object"},
        {R"({"chords": {"cmd+nokey": "ctrl+a"}})", "\"cmd+nokey\" in \"chords\" is not a macOS key chord"},
        {R"({"chords": {"cmd+space": "ctrl+nokey"}})", "\"ctrl+nokey\" is not a Linux key chord"},
        {R"({"chords": {"cmd+space": 5}})", "the value of \"cmd+space\" must be a key chord"},
        {R"({"colors": {}})", "unknown member \"colors\""},
        {R"({"apps": {"com.apple.Terminal": []}})", "\"apps\" \"com.apple.Terminal\" must be an object"},
    };
    const auto file = folder.path() / "keys.json";
    for (const auto& [content, problem] : cases) {
        test::writeFile(file, content);
        const auto loaded = KeyProfile::load(Desktop::kde, file);
        ASSERT_TRUE(loaded.problem) << content;
        EXPECT_TRUE(loaded.problem->starts_with(file.string() + " ")) << *loaded.problem;
        EXPECT_NE(loaded.problem->find(problem), std::string::npos) << *loaded.problem;
        EXPECT_EQ(chordText(loaded.profile.chord({49, command})), "alt+space") << "built-in KDE key";
    }
    const auto loaded = KeyProfile::load(Desktop::kde, folder.path());
    ASSERT_TRUE(loaded.problem);
    EXPECT_NE(loaded.problem->find("is not a regular file"), std::string::npos);
}

// Every chord the profile can send maps back to the macOS chord it came
// from, on every desktop. (What Super chords and Ctrl+Alt chords map back
// to shows in the desktop shortcut tests.)
TEST(KeyProfile, EverySentChordMapsBackToItsMacChord)
{
    for (const auto desktop : {Desktop::gnome, Desktop::kde, Desktop::genericX11}) {
        const KeyProfile profile(desktop);
        for (std::uint16_t code = 0; code < 128; ++code) {
            for (std::uint64_t mods = 0; mods <= 0xF; ++mods) {
                const MacChord mac {code, mods << 17};
                const auto sent = profile.chord(mac);
                if (!sent)
                    continue;
                const auto back = profile.macChords(*sent);
                EXPECT_NE(std::find(back.begin(), back.end(), mac), back.end())
                    << code << " " << mac.modifiers << " -> " << sent->description();
            }
        }
    }
}

} // namespace
} // namespace ferlow
