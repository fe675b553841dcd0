// The files Ferlow keeps on Linux: where they live, the settings file, the
// autostart entry.

#include <cstdlib>
#include <optional>

#include <gtest/gtest.h>

#include "FerlowLinux/Autostart.h"
#include "FerlowLinux/JsonSettingsStore.h"
#include "FerlowLinux/XdgPaths.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;

// Sets environment variables until the scope ends.
struct Environment {
    void set(const char* name, const std::optional<std::string>& value)
    {
        const char* old = std::getenv(name);
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~Environment()
    {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
            it->second ? ::setenv(it->first, it->second->c_str(), 1) : ::unsetenv(it->first);
    }
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

TEST(XdgPaths, UnsetEmptyOrRelativeVariablesFallBackToTheHomeFolder)
{
    struct Case {
        std::optional<std::string> data, config;
        fs::path support, settings, autostart;
    };
    const Case cases[] {
        {std::nullopt, std::nullopt, "/h/.local/share/Ferlow", "/h/.config/Ferlow", "/h/.config/autostart/ferlow.desktop"},
        {"", "", "/h/.local/share/Ferlow", "/h/.config/Ferlow", "/h/.config/autostart/ferlow.desktop"},
        {"rel/data", "rel/config", "/h/.local/share/Ferlow", "/h/.config/Ferlow", "/h/.config/autostart/ferlow.desktop"},
        {"/d", "/c", "/d/Ferlow", "/c/Ferlow", "/c/autostart/ferlow.desktop"},
    };
    for (const auto& c : cases) {
        Environment environment;
        environment.set("HOME", "/h");
        environment.set("XDG_DATA_HOME", c.data);
        environment.set("XDG_CONFIG_HOME", c.config);
        EXPECT_EQ(XdgPaths::supportDirectory(), c.support);
        EXPECT_EQ(XdgPaths::configDirectory(), c.settings);
        EXPECT_EQ(XdgPaths::autostartEntry(), c.autostart);
    }
}

TEST(JsonSettingsStore, ChangesAreWrittenPrivatelyAndReadBack)
{
    test::TemporaryDirectory folder;
    const auto file = folder.path() / "config" / "Ferlow" / "settings.json";
    std::filesystem::create_directories(file.parent_path());
    std::filesystem::permissions(file.parent_path(), std::filesystem::perms::all);
    {
        JsonSettingsStore store(file);
        EXPECT_FALSE(fs::exists(file)); // reading writes nothing
        store.set("port", 8080);
        store.set("release", "{\"latest\":\"1.0\"}");
        store.set("gone", true);
        store.remove("gone");
    }
    EXPECT_EQ(test::fileMode(file), 0600u);
    EXPECT_EQ(test::fileMode(file.parent_path()), 0700u);
    JsonSettingsStore again(file);
    EXPECT_EQ(again.get("port"), 8080);
    EXPECT_EQ(again.get("release"), "{\"latest\":\"1.0\"}");
    EXPECT_EQ(again.get("gone"), std::nullopt);
}

TEST(JsonSettingsStore, AFileItCannotReadIsMovedAsideBeforeTheFirstChange)
{
    const std::string damaged[] {"{\"port\": 80", "[7311]", "\"port\"", std::string(100000, '['), "{\"a\":\"\xff\"}"};
    for (const auto& content : damaged) {
        test::TemporaryDirectory folder;
        const auto file = folder.path() / "settings.json";
        test::writeFile(file, content);
        test::writeFile(folder.path() / "settings.json.unreadable", "an earlier one");

        JsonSettingsStore store(file);
        EXPECT_EQ(store.get("port"), std::nullopt);
        EXPECT_EQ(test::readFile(file), content); // loading leaves it alone
        store.set("port", 9000);
        EXPECT_EQ(test::readFile(folder.path() / "settings.json.unreadable-2"), content);
        EXPECT_EQ(test::readFile(folder.path() / "settings.json.unreadable"), "an earlier one");
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
    EXPECT_NE(test::readFile(autostart.entry()).find("\nExec=\"/opt/my apps/ferlow\"\n"), std::string::npos);

    for (const auto* off : {"Hidden=true", "X-GNOME-Autostart-enabled = false"}) {
        test::writeFile(autostart.entry(), std::string("[Desktop Entry]\nExec=ferlow\n") + off + "\n");
        EXPECT_FALSE(autostart.isEnabled()) << off;
    }
    // The same keys in another group say nothing about the entry.
    test::writeFile(autostart.entry(), "[Desktop Entry]\nExec=ferlow\n[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(autostart.isEnabled());

    ASSERT_TRUE(autostart.enable());
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_TRUE(autostart.disable());
    EXPECT_FALSE(fs::exists(autostart.entry()));
    EXPECT_TRUE(autostart.disable());
}

TEST(Autostart, ExecArgumentsAreQuotedAndEscapedOnlyWhenNeeded)
{
    const std::pair<std::string, std::string> cases[] {
        {"/usr/bin/ferlow", "/usr/bin/ferlow"},
        {"/home/a b/ferlow", "\"/home/a b/ferlow\""},
        {"/x/$HOME/\"q\"/`c`", "\"/x/\\$HOME/\\\"q\\\"/\\`c\\`\""},
        {"/x/back\\slash", "\"/x/back\\\\slash\""},
        {"/x/100%", "/x/100%%"},
    };
    for (const auto& [program, argument] : cases)
        EXPECT_EQ(Autostart::execArgument(program), argument);
}

} // namespace
} // namespace ferlow
