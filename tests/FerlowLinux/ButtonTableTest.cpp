// Every default button, every per-app button and every system gesture,
// pressed through the real translator and chord mapper on each desktop.

#include <algorithm>

#include <gtest/gtest.h>

#include "FerlowInput/ActionStore.h"
#include "FerlowInput/AppShortcuts.h"
#include "FerlowInput/Translator.h"
#include "FerlowLinux/ChordMapper.h"
#include "tests/FerlowLinux/ChordText.h"
#include "tests/Support/RecordingSink.h"

namespace ferlow {
namespace {

using Desktop = KeyProfile::Desktop;

// What pressing and releasing a button posts, per desktop, as chords ("" is
// nothing); a KDE or X11 column left null posts what GNOME does. `promise`
// is what the title promises there, for the reader, where it is not plain.
struct Row {
    const char* button; // id of a default button, title of an app button, or gesture name
    const char* gnome;
    const char* kde = nullptr;
    const char* x11 = nullptr;
    const char* promise = "";
};
constexpr const char* same = nullptr;

const Row defaultButtons[] = {
    {"esc", "esc"}, {"up", "up"}, {"delete", "backspace", same, same, "delete backwards, the Mac's Delete"}, {"left", "left"},
    {"down", "down"}, {"right", "right"}, {"tab", "tab"}, {"space", "space"}, {"return", "enter"}, {"cut", "ctrl+x"},
    {"copy", "ctrl+c"}, {"paste", "ctrl+v"}, {"undo", "ctrl+z"}, {"redo", "ctrl+shift+z"}, {"selectall", "ctrl+a"},
    {"find", "ctrl+f"}, {"save", "ctrl+s"},
    {"switcher", "alt+tab", same, same, "application switcher, Alt held while picking"},
    {"spotlight", "super+s", "alt+space", "alt+f2", "search: Activities / KRunner / run dialog"},
    {"mc", "super+s", "super+w", "", "overview of windows; no common one on other desktops"},
    {"minimize", "super+h", "super+pagedown", "alt+f9", "minimize the window"},
    {"fullscreen", "f11"},
    {"desktop", "super+d", same, "ctrl+alt+d", "show desktop (stock GNOME leaves Super+D unbound; Ubuntu binds it)"},
    {"hide", "super+h", "super+pagedown", "alt+f9", "no hiding of applications on Linux: minimize"},
    {"close", "ctrl+w"}, {"quit", "ctrl+q"}, {"prev", "previoussong"}, {"play", "playpause"}, {"next", "nextsong"},
    {"voldown", "volumedown"}, {"mute", "mute"}, {"volup", "volumeup"}, {"brightdown", "brightnessdown"},
    {"brightup", "brightnessup"},
};

const Row systemGestures[] = {
    {"missionControl", "super+s", "super+w", "", "overview"},
    {"appExpose", "super+s", "ctrl+f7", "", "the application's windows (GNOME: the overview)"},
    {"showDesktop", "super+d", same, "ctrl+alt+d", "show desktop"},
    {"apps", "super+a", "alt+f1", "alt+f1", "application grid / launcher / menu"},
    {"lookUp", "", same, same, "no dictionary look-up on Linux; Ctrl+D would delete"},
    {"spaceLeft", "ctrl+alt+left", "ctrl+super+left", same, "workspace to the left"},
    {"spaceRight", "ctrl+alt+right", "ctrl+super+right", same, "workspace to the right"},
};

// Per application family, under the first bundle identifier of its list.
// Families that only repeat the media keys or swap Cmd for Ctrl (Music,
// Xcode, Teams) are left to the default buttons' rows; Outlook stands for them.
struct AppRows {
    const char* bundleID;
    std::vector<Row> rows;
};
const AppRows appButtons[] = {
    {"com.apple.Safari", // Firefox, Chromium
        {{"Back", "alt+left"}, {"Forward", "alt+right"}, {"Reload", "ctrl+r"}, {"Previous Tab", "ctrl+shift+tab"},
            {"Next Tab", "ctrl+tab"}, {"New Tab", "ctrl+t"}, {"Address", "ctrl+l"}, {"Reopen Tab", "ctrl+shift+t"},
            {"Close Tab", "ctrl+w"}}},
    {"com.apple.TV", // VLC, mpv, Totem: seek
        {{"Back", "left"}, {"Play/Pause", "space"}, {"Forward", "right"}, {"Volume Down", "volumedown"}, {"Mute", "mute"},
            {"Volume Up", "volumeup"}, {"Full Screen", "f", same, same, "the players' own full-screen key"}}},
    {"com.microsoft.VSCode", // VS Code's Linux keys
        {{"Commands", "ctrl+shift+p"}, {"Go to File", "ctrl+p"}, {"Find", "ctrl+f"}, {"Comment", "ctrl+slash"},
            {"Sidebar", "ctrl+b"}, {"Terminal", "ctrl+grave"}, {"Go Back", "ctrl+alt+minus", same, same, "Ctrl+- would zoom out"},
            {"Go Forward", "ctrl+shift+minus"}, {"Save", "ctrl+s"}}},
    {"com.apple.Terminal", // GNOME Terminal / Konsole
        {{"Previous Tab", "ctrl+pageup", "shift+left"}, {"\u2191", "up", same, same, "shell history"},
            {"Next Tab", "ctrl+pagedown", "shift+right"}, {"Interrupt", "ctrl+c", same, same, "SIGINT"},
            {"Clear", "ctrl+l", same, same, "the shell clears the screen; Ctrl+K would cut the line"},
            {"Tab", "tab", same, same, "completion"}, {"New Tab", "ctrl+shift+t"},
            {"Close Tab", "ctrl+shift+w", same, same, "Ctrl+W would delete a word"}, {"Return", "enter"}}},
    {"com.apple.finder", // Files, Dolphin, Thunar
        {{"Back", "alt+left"}, {"Parent Folder", "alt+up"}, {"Forward", "alt+right"},
            {"Preview", "space", same, same, "preview where the file manager has one"},
            {"Properties", "ctrl+i", "alt+enter", "alt+enter", "properties"},
            {"Duplicate", "", "ctrl+d", "", "only Dolphin duplicates; Ctrl+D elsewhere bookmarks"},
            {"New Folder", "ctrl+shift+n"}, {"New Window", "ctrl+n"}, {"Move to Trash", "delete"}}},
    {"com.apple.Preview", // Document Viewer, Okular
        {{"Zoom Out", "ctrl+minus"}, {"Actual Size", "ctrl+0"}, {"Zoom In", "ctrl+equal"}, {"Previous Page", "pageup"},
            {"Rotate", "ctrl+right", "", same, "Okular has no rotate key"}, {"Next Page", "pagedown"},
            {"Annotate", "", "f6", "", "Okular's annotations; Document Viewer has no key"}}},
    {"com.apple.mail", // Thunderbird
        {{"New Message", "ctrl+n"}, {"Reply", "ctrl+r"}, {"Reply All", "ctrl+shift+r"}, {"Forward", "ctrl+l"},
            {"Archive", "a"}, {"Delete", "delete"}, {"Get Mail", "f5"}}},
    {"com.microsoft.Outlook", // no Linux Outlook: the plain translation
        {{"New Message", "ctrl+n"}, {"Reply", "ctrl+r"}, {"Reply All", "ctrl+shift+r"}, {"Forward", "ctrl+j"},
            {"Delete", "backspace"}}},
    {"com.apple.iWork.Keynote", // LibreOffice Impress
        {{"Previous", "left"}, {"Play", "f5", same, same, "start the slide show"}, {"Next", "right"}, {"Stop", "esc"}}},
    {"us.zoom.xos", // Zoom's Linux keys
        {{"Mute", "alt+a"}, {"Camera", "alt+v"}, {"Share Screen", "alt+s"}, {"Raise Hand", "alt+y"}, {"Leave", "alt+q"}}},
    {"com.tinyspeck.slackmacgap", // Slack's Linux keys
        {{"Back", "alt+left"}, {"Jump to\u2026", "ctrl+k"}, {"Forward", "alt+right"}, {"Unreads", "ctrl+shift+a"},
            {"Threads", "ctrl+shift+t"}, {"Search", "ctrl+g"}}},
};

constexpr Desktop desktops[] = {Desktop::gnome, Desktop::kde, Desktop::genericX11};

// Presses and releases through a fresh translator and mapper on each desktop;
// the chords posted and those the profile tells the editor must both match.
void check(const Row& row, const std::string& app, const std::vector<ActionButton>& buttons, const PhoneMessage& message,
    const ActionKind& kind)
{
    for (const auto desktop : desktops) {
        const KeyProfile profile(desktop);
        double now = 0;
        Translator translator(std::make_shared<PointerState>(Point {100, 100}), [] { return DisplayLayout {}; },
            [] { return Point {100, 100}; }, [&now] { return now; }, Translator::DockSwipes::emulated);
        translator.setActions([&buttons] { return buttons; });
        auto sink = std::make_shared<RecordingSink>();
        ChordMapper mapper(profile, sink);
        mapper.setFrontApp(app);
        mapper.post(translator.translate(message));
        if (const auto* action = message.as<PhoneMessage::Action>())
            mapper.post(translator.translate(PhoneMessage::action(action->id, false)));
        now = 2;
        mapper.post(translator.expire());

        const char* column = desktop == Desktop::kde ? row.kde : desktop == Desktop::genericX11 ? row.x11 : nullptr;
        const std::string expected = column ? column : row.gnome;
        EXPECT_EQ(test::chords(sink->events), expected)
            << profile.desktopName() << ", " << app << " " << row.button << ": " << row.promise;
        const auto told = profile.presses(kind, app);
        EXPECT_EQ(told ? told->description() : "", expected) << profile.desktopName() << ", " << app << " " << row.button;
    }
}

TEST(ButtonTable, DefaultButtonsAndSystemGesturesDoWhatTheyPromiseOnEachDesktop)
{
    const auto& buttons = ActionStore::defaults();
    ASSERT_EQ(std::size(defaultButtons), buttons.size());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        ASSERT_EQ(defaultButtons[i].button, buttons[i].id) << "the table follows the default list";
        check(defaultButtons[i], "", buttons, PhoneMessage::action(buttons[i].id, true), buttons[i].kind);
    }
    ASSERT_EQ(std::size(systemGestures), allSystemGestures.size());
    for (std::size_t i = 0; i < allSystemGestures.size(); ++i) {
        ASSERT_EQ(systemGestures[i].button, rawValue(allSystemGestures[i]));
        const auto gesture = allSystemGestures[i];
        check(systemGestures[i], "", {}, PhoneMessage::system(gesture), ActionKind::gesture(gesture));
    }
}

TEST(ButtonTable, AppButtonsDoWhatTheirTitlesSayInEveryAppOnEachDesktop)
{
    std::size_t familiesSeen = 0;
    for (const auto& [bundleID, entries] : AppShortcuts::table()) {
        const auto buttons = AppShortcuts::context(bundleID, "App")->actions;
        const auto family = std::find_if(std::begin(appButtons), std::end(appButtons),
            [&](const AppRows& f) { return AppShortcuts::context(f.bundleID, "App")->actions == buttons; });
        if (family == std::end(appButtons))
            continue;
        ASSERT_EQ(family->rows.size(), buttons.size()) << bundleID;
        familiesSeen += bundleID == family->bundleID;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            ASSERT_EQ(family->rows[i].button, buttons[i].title) << bundleID;
            check(family->rows[i], bundleID, buttons, PhoneMessage::action(buttons[i].id, true), buttons[i].kind);
        }
    }
    EXPECT_EQ(familiesSeen, std::size(appButtons));
}

} // namespace
} // namespace ferlow
