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
// is what the title promises there, for the reader.
struct Row {
    const char* button; // id of a default button, title of an app button, or gesture name
    const char* gnome;
    const char* kde;
    const char* x11;
    const char* promise;
};
constexpr const char* same = nullptr;

const Row defaultButtons[] = {
    {"esc", "esc", same, same, "Escape"},
    {"up", "up", same, same, "arrow"},
    {"delete", "backspace", same, same, "delete backwards, the Mac's Delete"},
    {"left", "left", same, same, "arrow"},
    {"down", "down", same, same, "arrow"},
    {"right", "right", same, same, "arrow"},
    {"tab", "tab", same, same, "Tab"},
    {"space", "space", same, same, "Space"},
    {"return", "enter", same, same, "Return"},
    {"cut", "ctrl+x", same, same, "Cut"},
    {"copy", "ctrl+c", same, same, "Copy"},
    {"paste", "ctrl+v", same, same, "Paste"},
    {"undo", "ctrl+z", same, same, "Undo"},
    {"redo", "ctrl+shift+z", same, same, "Redo"},
    {"selectall", "ctrl+a", same, same, "Select All"},
    {"find", "ctrl+f", same, same, "Find"},
    {"save", "ctrl+s", same, same, "Save"},
    {"switcher", "alt+tab", same, same, "application switcher, Alt held while picking"},
    {"spotlight", "super+s", "alt+space", "alt+f2", "search: Activities / KRunner / run dialog"},
    {"mc", "super+s", "super+w", "", "overview of windows; no common one on other desktops"},
    {"minimize", "super+h", "super+pagedown", "alt+f9", "minimize the window"},
    {"fullscreen", "f11", same, same, "application full screen"},
    {"desktop", "super+d", same, "ctrl+alt+d", "show desktop (stock GNOME leaves Super+D unbound; Ubuntu binds it)"},
    {"hide", "super+h", "super+pagedown", "alt+f9", "no hiding of applications on Linux: minimize"},
    {"close", "ctrl+w", same, same, "close the window or tab"},
    {"quit", "ctrl+q", same, same, "quit"},
    {"prev", "previoussong", same, same, "media"},
    {"play", "playpause", same, same, "media"},
    {"next", "nextsong", same, same, "media"},
    {"voldown", "volumedown", same, same, "volume"},
    {"mute", "mute", same, same, "volume"},
    {"volup", "volumeup", same, same, "volume"},
    {"brightdown", "brightnessdown", same, same, "brightness"},
    {"brightup", "brightnessup", same, same, "brightness"},
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
struct AppRows {
    const char* bundleID;
    std::vector<Row> rows;
};
const AppRows appButtons[] = {
    {"com.apple.Safari", {
        {"Back", "alt+left", same, same, "Firefox, Chromium"},
        {"Forward", "alt+right", same, same, ""},
        {"Reload", "ctrl+r", same, same, ""},
        {"Previous Tab", "ctrl+shift+tab", same, same, ""},
        {"Next Tab", "ctrl+tab", same, same, ""},
        {"New Tab", "ctrl+t", same, same, ""},
        {"Address", "ctrl+l", same, same, ""},
        {"Reopen Tab", "ctrl+shift+t", same, same, ""},
        {"Close Tab", "ctrl+w", same, same, ""}}},
    {"com.apple.Music", {
        {"Previous", "previoussong", same, same, "Spotify, Rhythmbox through the desktop's media keys"},
        {"Play/Pause", "playpause", same, same, ""},
        {"Next", "nextsong", same, same, ""},
        {"Volume Down", "volumedown", same, same, ""},
        {"Mute", "mute", same, same, ""},
        {"Volume Up", "volumeup", same, same, ""}}},
    {"com.apple.TV", {
        {"Back", "left", same, same, "VLC, mpv, Totem: seek"},
        {"Play/Pause", "space", same, same, ""},
        {"Forward", "right", same, same, ""},
        {"Volume Down", "volumedown", same, same, ""},
        {"Mute", "mute", same, same, ""},
        {"Volume Up", "volumeup", same, same, ""},
        {"Full Screen", "f", same, same, "the players' own full-screen key"}}},
    {"com.microsoft.VSCode", {
        {"Commands", "ctrl+shift+p", same, same, "VS Code's Linux keys"},
        {"Go to File", "ctrl+p", same, same, ""},
        {"Find", "ctrl+f", same, same, ""},
        {"Comment", "ctrl+slash", same, same, ""},
        {"Sidebar", "ctrl+b", same, same, ""},
        {"Terminal", "ctrl+grave", same, same, ""},
        {"Go Back", "ctrl+alt+minus", same, same, "Ctrl+- would zoom out"},
        {"Go Forward", "ctrl+shift+minus", same, same, ""},
        {"Save", "ctrl+s", same, same, ""}}},
    {"com.apple.Terminal", {
        {"Previous Tab", "ctrl+pageup", "shift+left", same, "GNOME Terminal / Konsole"},
        {"\u2191", "up", same, same, "shell history"},
        {"Next Tab", "ctrl+pagedown", "shift+right", same, ""},
        {"Interrupt", "ctrl+c", same, same, "SIGINT"},
        {"Clear", "ctrl+l", same, same, "the shell clears the screen; Ctrl+K would cut the line"},
        {"Tab", "tab", same, same, "completion"},
        {"New Tab", "ctrl+shift+t", same, same, ""},
        {"Close Tab", "ctrl+shift+w", same, same, "Ctrl+W would delete a word"},
        {"Return", "enter", same, same, ""}}},
    {"com.apple.finder", {
        {"Back", "alt+left", same, same, "Files, Dolphin, Thunar"},
        {"Enclosing Folder", "alt+up", same, same, ""},
        {"Forward", "alt+right", same, same, ""},
        {"Quick Look", "space", same, same, "preview where the file manager has one"},
        {"Get Info", "ctrl+i", "alt+enter", "alt+enter", "properties"},
        {"Duplicate", "", "ctrl+d", "", "only Dolphin duplicates; Ctrl+D elsewhere bookmarks"},
        {"New Folder", "ctrl+shift+n", same, same, ""},
        {"New Window", "ctrl+n", same, same, ""},
        {"Move to Trash", "delete", same, same, ""}}},
    {"com.apple.Preview", {
        {"Zoom Out", "ctrl+minus", same, same, "Document Viewer, Okular"},
        {"Actual Size", "ctrl+0", same, same, ""},
        {"Zoom In", "ctrl+equal", same, same, ""},
        {"Previous Page", "pageup", same, same, ""},
        {"Rotate", "ctrl+right", "", same, "Okular has no rotate key"},
        {"Next Page", "pagedown", same, same, ""},
        {"Markup", "", "f6", "", "Okular's annotations; Document Viewer has no key"}}},
    {"com.apple.mail", {
        {"New Message", "ctrl+n", same, same, "Thunderbird"},
        {"Reply", "ctrl+r", same, same, ""},
        {"Reply All", "ctrl+shift+r", same, same, ""},
        {"Forward", "ctrl+l", same, same, ""},
        {"Archive", "a", same, same, ""},
        {"Delete", "delete", same, same, ""},
        {"Get Mail", "f5", same, same, ""}}},
    {"com.microsoft.Outlook", {
        {"New Message", "ctrl+n", same, same, "no Linux Outlook: the plain translation"},
        {"Reply", "ctrl+r", same, same, ""},
        {"Reply All", "ctrl+shift+r", same, same, ""},
        {"Forward", "ctrl+j", same, same, ""},
        {"Delete", "backspace", same, same, ""}}},
    {"com.apple.dt.Xcode", {
        {"Build", "ctrl+b", same, same, "no Linux Xcode: the plain translation"},
        {"Run", "ctrl+r", same, same, ""},
        {"Stop", "ctrl+period", same, same, ""},
        {"Open Quickly", "ctrl+shift+o", same, same, ""},
        {"Find", "ctrl+f", same, same, ""},
        {"Comment", "ctrl+slash", same, same, ""},
        {"Go Back", "ctrl+left", same, same, ""},
        {"Go Forward", "ctrl+right", same, same, ""},
        {"Save", "ctrl+s", same, same, ""}}},
    {"com.apple.iWork.Keynote", {
        {"Previous", "left", same, same, "LibreOffice Impress"},
        {"Play", "f5", same, same, "start the slide show"},
        {"Next", "right", same, same, ""},
        {"Stop", "esc", same, same, ""}}},
    {"com.microsoft.teams2", {
        {"Mute", "ctrl+shift+m", same, same, "Teams in the browser"},
        {"Camera", "ctrl+shift+o", same, same, ""},
        {"Raise Hand", "ctrl+shift+k", same, same, ""},
        {"Leave", "ctrl+shift+h", same, same, ""}}},
    {"us.zoom.xos", {
        {"Mute", "alt+a", same, same, "Zoom's Linux keys"},
        {"Camera", "alt+v", same, same, ""},
        {"Share Screen", "alt+s", same, same, ""},
        {"Raise Hand", "alt+y", same, same, ""},
        {"Leave", "alt+q", same, same, ""}}},
    {"com.tinyspeck.slackmacgap", {
        {"Back", "alt+left", same, same, "Slack's Linux keys"},
        {"Jump to\u2026", "ctrl+k", same, same, ""},
        {"Forward", "alt+right", same, same, ""},
        {"Unreads", "ctrl+shift+a", same, same, ""},
        {"Threads", "ctrl+shift+t", same, same, ""},
        {"Search", "ctrl+g", same, same, ""}}},
};

constexpr Desktop desktops[] = {Desktop::gnome, Desktop::kde, Desktop::genericX11};

// Performs `message` (an action is pressed and released) through a fresh
// translator and mapper on each desktop, waits out the switcher, and
// compares the chords posted with the row.
void check(const Row& row, const std::string& app, const std::vector<ActionButton>& buttons, const PhoneMessage& message)
{
    for (const auto desktop : desktops) {
        double now = 0;
        Translator translator(std::make_shared<PointerState>(Point {100, 100}), [] { return DisplayLayout {}; },
            [] { return Point {100, 100}; }, [&now] { return now; }, Translator::DockSwipes::emulated);
        translator.setActions([&buttons] { return buttons; });
        auto sink = std::make_shared<RecordingSink>();
        ChordMapper mapper(KeyProfile(desktop), sink);
        mapper.setFrontApp(app);
        mapper.post(translator.translate(message));
        if (const auto* action = message.as<PhoneMessage::Action>())
            mapper.post(translator.translate(PhoneMessage::action(action->id, false)));
        now = 2;
        mapper.post(translator.expire());

        const char* column = desktop == Desktop::kde ? row.kde : desktop == Desktop::genericX11 ? row.x11 : nullptr;
        EXPECT_EQ(test::chords(sink->events), column ? column : row.gnome)
            << KeyProfile(desktop).desktopName() << ", " << app << " " << row.button << ": " << row.promise;
    }
}

TEST(ButtonTable, DefaultButtonsAndSystemGesturesDoWhatTheyPromiseOnEachDesktop)
{
    const auto& buttons = ActionStore::defaults();
    ASSERT_EQ(std::size(defaultButtons), buttons.size());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        ASSERT_EQ(defaultButtons[i].button, buttons[i].id) << "the table follows the default list";
        check(defaultButtons[i], "", buttons, PhoneMessage::action(buttons[i].id, true));
    }
    ASSERT_EQ(std::size(systemGestures), allSystemGestures.size());
    for (std::size_t i = 0; i < allSystemGestures.size(); ++i) {
        ASSERT_EQ(systemGestures[i].button, rawValue(allSystemGestures[i]));
        check(systemGestures[i], "", {}, PhoneMessage::system(allSystemGestures[i]));
    }
}

// Every bundle identifier of the app table, each with its family's rows: a
// family member the profile forgot shows here with the plain keys.
TEST(ButtonTable, AppButtonsDoWhatTheirTitlesSayInEveryAppOnEachDesktop)
{
    std::size_t familiesSeen = 0;
    for (const auto& [bundleID, entries] : AppShortcuts::table()) {
        const auto buttons = AppShortcuts::context(bundleID, "App")->actions;
        const auto family = std::find_if(std::begin(appButtons), std::end(appButtons),
            [&](const AppRows& f) { return AppShortcuts::context(f.bundleID, "App")->actions == buttons; });
        ASSERT_NE(family, std::end(appButtons)) << bundleID << " has no rows";
        ASSERT_EQ(family->rows.size(), buttons.size()) << bundleID;
        familiesSeen += bundleID == family->bundleID;
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            ASSERT_EQ(family->rows[i].button, buttons[i].title) << bundleID;
            check(family->rows[i], bundleID, buttons, PhoneMessage::action(buttons[i].id, true));
        }
    }
    EXPECT_EQ(familiesSeen, std::size(appButtons));
}

} // namespace
} // namespace ferlow
