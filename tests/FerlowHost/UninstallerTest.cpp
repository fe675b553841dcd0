#include "FerlowHost/Uninstaller.h"

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const std::string permissionText = "Remove yourself from the input group.";
const std::string appText = "Remove Ferlow with your package manager.";

Uninstaller::PlatformStep leaves(std::optional<std::string> text) { return {[text] { return text; }, "unused"}; }

// The data folder where a Linux desktop keeps it goes after the login item
// and before the settings; every step runs whatever failed before it.
TEST(UninstallerTest, RunsEveryStepInOrderAndReportsOnlyWhatWasLeft)
{
    const test::TemporaryDirectory home;
    const fs::path support = home.path() / ".local/share/Ferlow";
    Texts calls;
    const auto step = [&](std::string name, bool throwing) {
        return [&calls, &support, name, throwing] {
            calls.push_back(fs::exists(support) ? name : name + " after the folder");
            if (throwing)
                throw std::runtime_error("no");
        };
    };
    const auto fails = [](std::string instruction) {
        return Uninstaller::PlatformStep {[]() -> std::optional<std::string> { throw std::runtime_error("no"); }, std::move(instruction)};
    };
    const struct {
        const char* what;
        Uninstaller::PlatformStep permission, app;
        bool throwing;
        Texts left;
    } cases[] = {
        {"everything done", leaves({}), leaves({}), false, {}},
        {"nothing to do", {}, {}, true, {}},
        {"steps leave something", leaves(permissionText), leaves(appText), false, {permissionText, appText}},
        {"steps throw", fails(permissionText), fails(appText), true, {permissionText, appText}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        test::writeFile(support / "pairings.json", "[]");
        EXPECT_EQ(Uninstaller(support, {step("unregisterLogin", c.throwing), step("removeDefaults", c.throwing), c.permission, c.app})
                      .perform(),
            c.left);
        EXPECT_EQ(calls, (Texts {"unregisterLogin", "removeDefaults after the folder"}));
        EXPECT_FALSE(fs::exists(support));
    }
}

// A relative path, or the root, is never removed: the user is told about the
// folder instead, before anything else left to do. (The root is only asked
// about, never handed to perform(): a broken guard must not empty the disk.)
TEST(UninstallerTest, AFolderThatIsNotRemovedIsReportedFirst)
{
    const test::TemporaryDirectory home;
    test::writeFile(home.path() / "Ferlow" / "pairings.json", "[]");
    const fs::path before = fs::current_path();
    fs::current_path(home.path());
    const auto left = Uninstaller("Ferlow", {{}, {}, leaves(permissionText), {}}).perform();
    fs::current_path(before);
    EXPECT_EQ(left, (Texts {"Remove the folder Ferlow.", permissionText}));
    EXPECT_TRUE(fs::exists(home.path() / "Ferlow" / "pairings.json"));
    for (const char* folder : {"/", "//", "/home/..", "/.", "", "Ferlow", "./Ferlow"})
        EXPECT_FALSE(Uninstaller::mayRemove(folder)) << folder;
    EXPECT_TRUE(Uninstaller::mayRemove("/home/someone/.local/share/Ferlow"));
}

} // namespace
} // namespace ferlow
