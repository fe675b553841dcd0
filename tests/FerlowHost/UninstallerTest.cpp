#include "FerlowHost/Uninstaller.h"

#include <csignal>

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

const std::string permissionText = "Remove yourself from the input group.";
const std::string appText = "Remove Ferlow with your package manager.";

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
    const auto leaves = [](std::optional<std::string> text) { return Uninstaller::PlatformStep {[text] { return text; }, "unused"}; };
    const auto fails = [](std::string instruction) {
        return Uninstaller::PlatformStep {[]() -> std::optional<std::string> { throw std::runtime_error("no"); }, std::move(instruction)};
    };
    const struct {
        const char* what;
        Uninstaller::PlatformStep permission, app;
        bool throwing;
        Texts left;
    } cases[] = {
        {"everything done", Uninstaller::toolStep("/bin/true", {}, permissionText), leaves({}), false, {}},
        {"nothing to do", {}, {}, true, {}},
        {"the tool fails", Uninstaller::toolStep("/bin/false", {}, permissionText), leaves(appText), false, {permissionText, appText}},
        {"no such tool", Uninstaller::toolStep("/nonexistent/tool", {}, permissionText), {}, false, {permissionText}},
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
// folder instead, before anything else left to do.
TEST(UninstallerTest, AFolderThatIsNotRemovedIsReportedFirst)
{
    const test::TemporaryDirectory home;
    test::writeFile(home.path() / "Ferlow" / "pairings.json", "[]");
    const fs::path before = fs::current_path();
    fs::current_path(home.path());
    const auto left = Uninstaller("Ferlow", {}).perform();
    fs::current_path(before);
    EXPECT_EQ(left, Texts {"Remove the folder Ferlow."});
    EXPECT_TRUE(fs::exists(home.path() / "Ferlow" / "pairings.json"));
    EXPECT_EQ(Uninstaller("/", {{}, {}, Uninstaller::toolStep("/bin/false", {}, permissionText), {}}).perform(),
        (Texts {"Remove the folder /.", permissionText}));
}

TEST(UninstallerTest, RunToolReportsHowTheToolEnded)
{
    const std::string quiet = "for fd in 0 1 2; do [ \"$(readlink /proc/$$/fd/$fd)\" = /dev/null ] || exit 9; done";
    const std::tuple<std::string, Texts, std::int32_t> cases[] = {
        {"/bin/true", {}, 0},
        {"/bin/false", {}, 1},
        {"/nonexistent/ferlow-tool", {}, -1},
        {"/bin/sh", {"-c", "exit $#", "sh", "one argument", "two"}, 2},
        {"/bin/sh", {"-c", "kill -KILL $$"}, 128 + SIGKILL},
        {"/bin/sh", {"-c", quiet}, 0}, // every standard stream on the null device
    };
    for (const auto& [path, arguments, status] : cases)
        EXPECT_EQ(Uninstaller::runTool(path, arguments), status) << path << (arguments.empty() ? "" : " " + arguments[1]);
    EXPECT_EQ(Uninstaller::runTool("/bin/sleep", {"60"}, 100ms), 128 + SIGKILL);
}

} // namespace
} // namespace ferlow
