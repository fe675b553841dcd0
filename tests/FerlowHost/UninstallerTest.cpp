#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "FerlowHost/Uninstaller.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

const std::string permissionText = "Remove yourself from the input group.";
const std::string appText = "Remove Ferlow with your package manager.";

// Makes `file` undeletable, and so its folder unremovable: a read-only folder
// stops ordinary users, the immutable flag root. held() is false when that
// is not possible here.
class Pin final {
public:
    explicit Pin(fs::path file) : m_file(std::move(file)) { m_held = set(true); }
    ~Pin() noexcept { set(false); }
    bool held() const { return m_held; }

private:
    bool set(bool on) const
    {
        fs::permissions(m_file.parent_path(), on ? fs::perms::owner_read | fs::perms::owner_exec : fs::perms::owner_all);
        const int fd = ::open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool immutable = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        immutable = immutable && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return geteuid() != 0 || immutable;
    }
    fs::path m_file;
    bool m_held = false;
};

// The data folder where a Linux desktop keeps it.
class UninstallerTest : public testing::Test {
protected:
    UninstallerTest() { test::writeFile(support / "pairings.json", "[]"); }

    // Records the two plain steps, which throw when asked to; the platform steps are given.
    Uninstaller make(Uninstaller::PlatformStep permission, Uninstaller::PlatformStep app, bool throwing = false)
    {
        const auto step = [=, this](std::string name) {
            return [=, this] {
                calls.push_back(fs::exists(support) ? name : name + " after the folder");
                if (throwing)
                    throw std::runtime_error("no");
            };
        };
        return Uninstaller(support, {step("unregisterLogin"), step("removeDefaults"), std::move(permission), std::move(app)});
    }

    test::TemporaryDirectory home;
    fs::path support = home.path() / ".local/share/Ferlow";
    Texts calls;
};

TEST_F(UninstallerTest, RunsEveryStepInOrderAndReportsOnlyWhatWasLeft)
{
    const auto leaves = [](std::optional<std::string> text) {
        return Uninstaller::PlatformStep {[text] { return text; }, "unused"};
    };
    const auto fails = [](std::string instruction) {
        return Uninstaller::PlatformStep {[]() -> std::optional<std::string> { throw std::runtime_error("no"); },
            std::move(instruction)};
    };
    const struct {
        const char* what;
        Uninstaller::PlatformStep permission, app;
        bool throwing;
        Texts left;
    } cases[] = {
        {"everything done", Uninstaller::toolStep("/bin/true", {}, permissionText), leaves({}), false, {}},
        {"nothing to do", {}, {}, true, {}},
        {"the tool fails", Uninstaller::toolStep("/bin/false", {}, permissionText), leaves(appText), false,
            {permissionText, appText}},
        {"no such tool", Uninstaller::toolStep("/nonexistent/tool", {}, permissionText), {}, false, {permissionText}},
        {"steps throw", fails(permissionText), fails(appText), true, {permissionText, appText}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        test::writeFile(support / "pairings.json", "[]");
        EXPECT_EQ(make(c.permission, c.app, c.throwing).perform(), c.left);
        EXPECT_EQ(calls, (Texts {"unregisterLogin", "removeDefaults after the folder"}));
        EXPECT_FALSE(fs::exists(support));
    }
}

TEST_F(UninstallerTest, AFolderThatIsNotRemovedIsReportedFirst)
{
    // A relative path, or the root, is never removed: the user is told instead.
    const fs::path before = fs::current_path();
    fs::current_path(support.parent_path());
    const auto left = Uninstaller("Ferlow", {}).perform();
    fs::current_path(before);
    EXPECT_EQ(left, Texts {"Remove the folder Ferlow."});
    EXPECT_TRUE(fs::exists(support / "pairings.json"));
    EXPECT_EQ(Uninstaller("/", {}).perform(), Texts {"Remove the folder /."});

    const Pin pin(support / "pairings.json");
    if (!pin.held())
        GTEST_SKIP() << "no way to make a file undeletable here";
    EXPECT_EQ(make(Uninstaller::toolStep("/bin/false", {}, permissionText), {}).perform(),
        (Texts {"Remove the folder " + support.string() + ".", permissionText}));
}

TEST(UninstallerRunToolTest, ReportsHowTheToolEnded)
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
    for (const auto& [path, arguments, status] : cases) {
        SCOPED_TRACE(path + (arguments.empty() ? "" : " " + arguments[1]));
        EXPECT_EQ(Uninstaller::runTool(path, arguments), status);
    }
    EXPECT_EQ(Uninstaller::runTool("/bin/sleep", {"60"}, 100ms), 128 + SIGKILL);
}

} // namespace
} // namespace ferlow
