// `ferlow` as a user runs it: the built program in a child process with its
// own home folder, a phone on a real loopback socket, the development trace
// and pairing file, and signals; headless, and the tray on the suite's X
// server.

#include <regex>

#include <asio/ip/tcp.hpp>
#include <gtest/gtest.h>
#include <X11/Xlib.h>

#include "Ferlow/AppModel.h"
#include "FerlowCore/PairingStore.h"
#include "tests/Ferlow/FerlowProcess.h"
#include "tests/FerlowHost/TestPhone.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;
using test::FerlowHome;
using test::FerlowProcess;
using test::freePort;
using test::LoopbackPhone;

// The pairing a URL carries.
Pairing pairingIn(const std::string& url) { return test::pairingLink(url).value_or(test::PairingLink {}).pairing; }

// Waits until the trace file holds a line matching `pattern`.
bool traced(const std::filesystem::path& trace, const std::string& pattern)
{
    return test::eventually([&] { return std::regex_search(test::readFile(trace), std::regex(pattern)); }, 10s);
}

bool accepts(std::uint16_t port) { return test::TestClient(port).connected(); }

// A running daemon on a free port, up and listening.
struct Daemon {
    explicit Daemon(FerlowHome& home, std::uint16_t free = freePort())
        : port(free), process({"--headless", "--port", std::to_string(port)}, home.environment)
    {
        listening = process.waitForLine("Ferlow listening on ");
    }
    std::uint16_t port;
    FerlowProcess process;
    std::string listening;
};

// A one-shot `ferlow` command; its exit status, output in `command.out`.
int run(FerlowProcess& command) { return command.wait(20s); }

// Where the X server has its pointer.
std::pair<int, int> pointer(Display* display)
{
    Window root = 0, child = 0;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
    return {x, y};
}

// The signal comes while the X server is stopped (SIGSTOP) and answers
// nothing: the daemon must still let go and end at once. (The server drops
// what a client that has gone sent while it was stopped, so it will not see
// the release once it runs again.)
TEST(Headless, APhonePairsMovesTheXPointerAndIsLetGoCleanlyOnSigtermEvenWithTheXServerStopped)
{
    if (!test::sharedXvfb().available())
        GTEST_SKIP() << test::sharedXvfb().reason();
    const std::unique_ptr<Display, decltype(&XCloseDisplay)> x(
        XOpenDisplay(test::sharedXvfb().display().c_str()), &XCloseDisplay);
    ASSERT_TRUE(x);
    FerlowHome home;
    Daemon daemon(home);
    ASSERT_TRUE(std::regex_match(daemon.listening,
        std::regex("Ferlow listening on http://[A-Za-z0-9-]+\\.local:" + std::to_string(daemon.port))))
        << daemon.listening << daemon.process.err;
    EXPECT_EQ(daemon.process.waitForLine("Input: "), "Input: XTest");

    const auto url = test::readFile(home.pairingFile());
    EXPECT_EQ(test::fileMode(home.pairingFile()), 0600u);
    EXPECT_EQ(url.substr(0, daemon.listening.size() - 20 + 2), daemon.listening.substr(20) + "/#");
    LoopbackPhone phone(daemon.port, pairingIn(url));
    ASSERT_TRUE(phone.connect("Pixel").is<MacMessage::Ready>());
    const auto [x0, y0] = pointer(x.get());
    phone.send(PhoneMessage::move(40, 20), 1000);
    EXPECT_TRUE(traced(home.trace(), "mouse 5 "));
    EXPECT_TRUE(test::eventually([&] { return pointer(x.get()) == std::make_pair(x0 + 40, y0 + 20); }));

    // Mid-drag: the button is down and the pointer moving when the signal comes.
    phone.send(PhoneMessage::button(0, true, 1), 1016);
    phone.send(PhoneMessage::move(3, 3), 1032);
    ASSERT_TRUE(traced(home.trace(), "mouse 6 "));
    std::this_thread::sleep_for(300ms); // a resting finger: reading the pointer would be due
    const pid_t server = test::sharedXvfb().pid();
    ::kill(server, SIGSTOP);
    const std::shared_ptr<void> resumed(nullptr, [server](void*) { ::kill(server, SIGCONT); });
    const auto signalled = std::chrono::steady_clock::now();
    daemon.process.signal(SIGTERM);
    int status = -1;
    EXPECT_NO_THROW(status = daemon.process.wait(5s));
    RecordProperty("sigtermMilliseconds",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled).count()));
    EXPECT_EQ(status, 0) << daemon.process.err;
    EXPECT_TRUE(traced(home.trace(), "mouse 6 [^\\n]*\\n(.*\\n)*.* mouse 2 ")); // the release, after the drag

    // The files are whole: the pairing loads with the phone's name, and no
    // socket or lock holder is left.
    PairingStore store(home.support());
    EXPECT_EQ(store.lookup(pairingIn(url).id)->name, "Pixel");
    EXPECT_FALSE(std::filesystem::exists(home.runtime() / "ferlow.sock"));
}

TEST(Headless, StartFailuresAndASecondInstanceEachSaySoInOneLine)
{
    FerlowHome home;
    home.environment.erase("XDG_RUNTIME_DIR"); // the runtime files go to the data folder then
    const auto port = freePort();
    {
        asio::io_context io;
        asio::ip::tcp::acceptor holder(io, {asio::ip::tcp::v6(), port});
        FerlowProcess busy({"--headless", "--port", std::to_string(port)}, home.environment);
        EXPECT_EQ(run(busy), 2);
        EXPECT_EQ(busy.err, "ferlow: Port " + std::to_string(port) + " is busy\n");
    }
    auto noPad = home.environment;
    noPad["FERLOW_PAD_DIR"] = (home.folder.path() / "nowhere").string();
    FerlowProcess missing({"--headless", "--port", std::to_string(port)}, noPad);
    EXPECT_EQ(run(missing), 1);
    EXPECT_EQ(missing.err, "ferlow: Couldn\u2019t start: there is no pad folder at " + noPad["FERLOW_PAD_DIR"] + "\n");

    auto longRuntime = home.environment;
    longRuntime["XDG_RUNTIME_DIR"] = (home.folder.path() / std::string(100, 'r')).string();
    FerlowProcess tooLong({"--headless"}, longRuntime);
    EXPECT_EQ(run(tooLong), 1);
    EXPECT_EQ(tooLong.err, "ferlow: the path " + longRuntime["XDG_RUNTIME_DIR"]
            + "/ferlow/ferlow.sock is too long for a socket (at most 107 bytes); set XDG_RUNTIME_DIR to a shorter folder\n");

    Daemon daemon(home);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
    EXPECT_TRUE(std::filesystem::exists(home.support() / "ferlow.sock"));
    FerlowProcess second({"--headless", "--port", std::to_string(freePort())}, home.environment);
    EXPECT_EQ(run(second), 1);
    EXPECT_TRUE(std::regex_match(second.err, std::regex("ferlow: Ferlow is already running \\(process [0-9]+\\)\n")))
        << second.err;

    FerlowProcess usage({"--list", "--pair"}, home.environment);
    EXPECT_EQ(run(usage), 64);
    EXPECT_EQ(usage.err, "ferlow: --pair cannot be combined with --list\n");
}

// --pair, --list and --forget reach the running instance: the new code
// works there, and a forgotten phone hears "revoked" at once.
TEST(Headless, CommandsActOnTheRunningInstance)
{
    FerlowHome home;
    Daemon daemon(home);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;

    FerlowProcess pair({"--pair"}, home.environment);
    const auto url = pair.waitForLine("http://");
    ASSERT_FALSE(url.empty()) << pair.err;
    LoopbackPhone phone(daemon.port, pairingIn(url));
    ASSERT_TRUE(phone.connect("Ana’s Pixel").is<MacMessage::Ready>());
    EXPECT_FALSE(pair.waitForLine("Paired with Ana’s Pixel").empty()) << pair.out << pair.err;
    EXPECT_EQ(run(pair), 0);

    EXPECT_EQ(test::fileMode(home.runtime()), 0700u);
    EXPECT_TRUE(std::filesystem::exists(home.runtime() / "ferlow.sock"));
    FerlowProcess list({"--list"}, home.environment);
    EXPECT_EQ(run(list), 0);
    EXPECT_TRUE(std::regex_match(list.out, std::regex("Ana’s Pixel  Connected  \\(id [A-Za-z0-9_-]{11}\\)\n")))
        << list.out;

    FerlowProcess forget({"--forget", "Ana’s Pixel"}, home.environment);
    EXPECT_EQ(run(forget), 0) << forget.err;
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    FerlowProcess again({"--forget", "Ana’s Pixel"}, home.environment);
    EXPECT_EQ(run(again), 1);
    EXPECT_NE(again.err.find("no paired phone is called"), std::string::npos);
}

// Only a running Ferlow holds the instance lock: commands that read the
// files run side by side without taking each other for a running Ferlow,
// and a daemon started while one runs starts.
TEST(Headless, ShortCommandsNeverLookLikeARunningFerlow)
{
    FerlowHome home;
    for (int round = 0; round < 20; ++round) {
        FerlowProcess first({"--list"}, home.environment), second({"--list"}, home.environment);
        EXPECT_EQ(run(first), 0) << first.err;
        EXPECT_EQ(run(second), 0) << second.err;
        EXPECT_EQ(first.out + second.out, "No phone paired yet\nNo phone paired yet\n");
    }
    for (int round = 0; round < 20; ++round) {
        FerlowProcess list({"--list"}, home.environment);
        Daemon daemon(home);
        EXPECT_FALSE(daemon.listening.empty()) << daemon.process.err;
        EXPECT_EQ(run(list), 0) << list.err;
        daemon.process.signal(SIGTERM);
        EXPECT_EQ(daemon.process.wait(), 0);
    }
}

TEST(Headless, UninstallThroughTheRunningInstanceLetsThePhoneGoAndLeavesNothingOfItsOwn)
{
    FerlowHome home;
    test::writeFile(home.folder.path() / "config" / "autostart" / "ferlow.desktop", "[Desktop Entry]\n");
    test::writeFile(home.settings(), "{}");
    Daemon daemon(home);
    LoopbackPhone phone(daemon.port, pairingIn(test::readFile(home.pairingFile())));
    ASSERT_TRUE(phone.connect().is<MacMessage::Ready>());

    FerlowProcess uninstall({"--uninstall", "--yes"}, home.environment);
    EXPECT_EQ(run(uninstall), 0) << uninstall.err;
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    EXPECT_EQ(daemon.process.wait(), 0);
    EXPECT_TRUE(uninstall.out.starts_with("Ferlow is almost uninstalled.\nOne more step for you:\n"));
    EXPECT_NE(uninstall.out.find("\u2022 Delete the program " FERLOW_PROGRAM ".\n"), std::string::npos);
    for (const auto& gone : {home.support(), home.settings().parent_path(), home.folder.path() / "config" / "autostart" / "ferlow.desktop"})
        EXPECT_FALSE(std::filesystem::exists(gone)) << gone;
    EXPECT_TRUE(std::filesystem::exists(home.folder.path() / "pad" / "index.html"));
}

TEST(Headless, NewerTermsStopTheServerAndAgreeTermsResumesIt)
{
    // The release document comes over HTTP from the daemon's own pad folder,
    // read once at start before the newer terms close it.
    FerlowHome home;
    const auto port = freePort();
    test::writeFile(home.folder.path() / "pad" / "version.json", R"({"latest":"0.0.1","minimum":"0.0.1","terms":2})");
    home.environment["FERLOW_UPDATE_URL"] = "http://127.0.0.1:" + std::to_string(port) + "/version.json";
    home.environment["FERLOW_TEST_TERMS"] = "1";
    test::writeFile(home.settings(), R"({"termsAccepted": 1})");
    Daemon daemon(home, port);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;

    EXPECT_TRUE(test::eventually([&] { return !accepts(daemon.port); }, 10s));

    FerlowProcess agree({"--agree-terms"}, home.environment);
    EXPECT_EQ(run(agree), 0) << agree.err;
    EXPECT_FALSE(daemon.process.waitForLine("Ferlow listening on ").empty());
    EXPECT_TRUE(accepts(daemon.port));
    daemon.process.signal(SIGINT);
    EXPECT_EQ(daemon.process.wait(), 0);
    EXPECT_NE(daemon.process.err.find("newer terms of use need your agreement"), std::string::npos);
    EXPECT_NE(test::readFile(home.settings()).find("\"termsAccepted\": 2"), std::string::npos);
}

// A first start shows the terms window, which refuses to close; a SIGTERM
// must still end the tray at once, cleanly. Without a reachable desktop the
// tray says so instead of letting Qt abort.
TEST(Tray, QuitsOnSigtermWhileTheTermsWindowIsUpAndRefusesAMissingDesktop)
{
    for (const char* wayland : {"", "wayland-of-a-session-that-ended"}) {
        FerlowHome home;
        home.environment["DISPLAY"] = "";
        home.environment["WAYLAND_DISPLAY"] = wayland;
        FerlowProcess tray({}, home.environment);
        EXPECT_EQ(tray.wait(), 1) << wayland;
        EXPECT_NE(tray.err.find("there is no desktop here for Ferlow's tray icon"), std::string::npos) << tray.err;
    }
    if (!test::sharedXvfb().available())
        GTEST_SKIP() << test::sharedXvfb().reason();
    FerlowHome home;
    home.environment["FERLOW_TEST_TERMS"] = "1";
    FerlowProcess tray({}, home.environment);
    // The control socket opens just before the windows are shown.
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(home.runtime() / "ferlow.sock"); }, 10s))
        << tray.err;
    std::this_thread::sleep_for(500ms);
    tray.signal(SIGTERM);
    EXPECT_EQ(tray.wait(5s), 0) << tray.err;
    EXPECT_FALSE(std::filesystem::exists(home.runtime() / "ferlow.sock"));
}

} // namespace
} // namespace ferlow
