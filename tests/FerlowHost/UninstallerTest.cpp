#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "FerlowHost/Uninstaller.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Steps = std::vector<std::string>;

const std::string fromApplications = "Move Ferlow from Applications to the Trash.";
const std::string moveApp = "Move the Ferlow app to the Trash.";
const std::string accessibility(Uninstaller::accessibilityStep);

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

class UninstallerTest : public testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = "/tmp/ferlow-host-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        support = root / "Ferlow";
        fs::create_directories(support / "backup");
        std::ofstream(support / "pairings.json") << "[]";
    }
    void TearDown() override { fs::remove_all(root); }

    // Records every injected call; the tool exits with `toolStatus`, the Trash answers `recycled`.
    Uninstaller make(fs::path app, std::int32_t toolStatus = 0, bool recycled = true)
    {
        return Uninstaller(support, std::move(app), "app.kelvarn42.ferlow",
            [=, this](std::string call, const Steps& arguments) {
                for (const auto& argument : arguments)
                    call += " " + argument;
                calls.push_back(call);
                return toolStatus;
            },
            [=, this](const fs::path& item) { calls.push_back("recycle " + item.string()); return recycled; },
            [this] { calls.push_back("unregisterLogin"); },
            [this] { calls.push_back(fs::exists(support) ? "removeDefaults too early" : "removeDefaults"); });
    }

    fs::path root;
    fs::path support;
    Steps calls;
};

TEST_F(UninstallerTest, RunsEveryStepInOrder)
{
    EXPECT_EQ(make("/Applications/Ferlow.app").perform(), Steps{});
    EXPECT_EQ(calls, (Steps{"unregisterLogin", "removeDefaults",
                         "/usr/bin/tccutil reset Accessibility app.kelvarn42.ferlow", "recycle /Applications/Ferlow.app"}));
}

TEST_F(UninstallerTest, ReportsWhatItCouldNotDo)
{
    struct Case {
        const char* app;
        std::int32_t toolStatus;
        bool recycled;
        bool recycleTried;
        Steps left;
    } const cases[] = {
        {"/Applications/Ferlow.app", 0, false, true, {fromApplications}},
        {"/Users/ana/Applications/Ferlow.app", 1, true, true, {accessibility}},
        {"/Volumes/Ferlow/Applications/Ferlow.app", -1, true, false, {accessibility, moveApp}},
        {"/Users/ana/Downloads/Ferlow.app", 0, true, false, {moveApp}},
        {"/Users/ana/MyApplications/Ferlow.app", 0, true, false, {moveApp}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.app);
        calls.clear();
        fs::create_directories(support);
        EXPECT_EQ(make(c.app, c.toolStatus, c.recycled).perform(), c.left);
        EXPECT_EQ(calls.back() == "recycle " + std::string(c.app), c.recycleTried);
    }
}

TEST_F(UninstallerTest, FolderThatCannotBeRemovedComesFirstAndTheRestStillRuns)
{
    const Pin pin(support / "pairings.json");
    if (!pin.held())
        GTEST_SKIP() << "no way to make a file undeletable here";
    EXPECT_EQ(make("/Applications/Ferlow.app", 1, false).perform(),
        (Steps{"Remove the folder " + support.string() + ".", accessibility, fromApplications}));
}

TEST_F(UninstallerTest, RelativeFolderIsNeverRemoved)
{
    const fs::path before = fs::current_path();
    fs::current_path(root);
    const auto left = Uninstaller("Ferlow", "/Applications/Ferlow.app", "id", [](auto&, auto&) { return 0; },
        [](auto&) { return true; }, [] { }, [] { }).perform();
    fs::current_path(before);
    EXPECT_EQ(left, Steps{"Remove the folder Ferlow."});
    EXPECT_TRUE(fs::exists(support / "pairings.json"));
}

TEST_F(UninstallerTest, StepThatThrowsCountsAsFailedAndStopsNothing)
{
    const auto fail = [] { throw std::runtime_error("no"); };
    const auto left = Uninstaller(support, "/Applications/Ferlow.app", "id",
        [&](auto&, auto&) { fail(); return 0; }, [&](auto&) { fail(); return true; }, fail, fail).perform();
    EXPECT_EQ(left, (Steps{accessibility, fromApplications}));
    EXPECT_FALSE(fs::exists(support));
}

TEST(UninstallerRunToolTest, ReportsHowTheToolEnded)
{
    const std::string quiet = "for fd in 0 1 2; do [ \"$(readlink /proc/$$/fd/$fd)\" = /dev/null ] || exit 9; done";
    const std::tuple<std::string, Steps, std::int32_t> cases[] = {
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
