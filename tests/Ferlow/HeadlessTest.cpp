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
#include "tests/Support/FakePortal.h"
#include "tests/Support/SmallDisk.h"
#include "tests/Support/XTestWindow.h"

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
    explicit Daemon(FerlowHome& home, std::uint16_t free = freePort(), const std::string& program = FERLOW_PROGRAM)
        : port(free), process({"--headless", "--port", std::to_string(port)}, home.environment, std::nullopt, program)
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

// A SIGTERM mid-drag lets go of everything and leaves the keymap as it was.
// Then once more while the X server is stopped (SIGSTOP) and answers
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
    // The name Avahi publishes, or this machine's address without it.
    ASSERT_TRUE(std::regex_match(daemon.listening,
        std::regex("Ferlow listening on http://[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+:" + std::to_string(daemon.port))))
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

    // Mid-drag: the button is down and the pointer moving when the signal
    // comes, and a character the keyboard lacks has just been typed on a
    // spare key, which the pause after typing has not emptied yet.
    const auto keymap = [&] { return test::XTestWindow::keymap(x.get()); };
    const auto original = keymap();
    phone.send(PhoneMessage::button(0, true, 1), 1016);
    phone.send(PhoneMessage::move(3, 3), 1032);
    ASSERT_TRUE(traced(home.trace(), "mouse 6 "));
    phone.send(PhoneMessage::text(0, "✓"), 1048);
    EXPECT_TRUE(test::eventually([&] { return keymap() != original; }));
    daemon.process.signal(SIGTERM);
    EXPECT_EQ(daemon.process.wait(), 0) << daemon.process.err;
    EXPECT_EQ(keymap(), original);
    EXPECT_TRUE(traced(home.trace(), "mouse 6 [^\\n]*\\n(.*\\n)*.* mouse 2 ")); // the release, after the drag

    // The files are whole: the pairing loads with the phone's name, and no
    // socket or lock holder is left.
    PairingStore store(home.support());
    EXPECT_EQ(store.lookup(pairingIn(url).id)->name, "Pixel");
    EXPECT_FALSE(std::filesystem::exists(home.runtime() / "ferlow.sock"));

    Daemon stopping(home);
    LoopbackPhone again(stopping.port, pairingIn(url));
    ASSERT_TRUE(again.connect("Pixel").is<MacMessage::Ready>());
    again.send(PhoneMessage::button(0, true, 1), 2000);
    again.send(PhoneMessage::move(3, 3), 2016);
    ASSERT_TRUE(traced(home.trace(), "mouse 6 "));
    std::this_thread::sleep_for(300ms); // a resting finger: reading the pointer would be due
    const pid_t server = test::sharedXvfb().pid();
    ::kill(server, SIGSTOP);
    const std::shared_ptr<void> resumed(nullptr, [server](void*) { ::kill(server, SIGCONT); });
    const auto signalled = std::chrono::steady_clock::now();
    stopping.process.signal(SIGTERM);
    int status = -1;
    EXPECT_NO_THROW(status = stopping.process.wait(5s));
    RecordProperty("sigtermMilliseconds",
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - signalled).count()));
    EXPECT_EQ(status, 0) << stopping.process.err;
    EXPECT_TRUE(traced(home.trace(), "mouse 6 [^\\n]*\\n(.*\\n)*.* mouse 2 "));
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

#ifdef FERLOW_WITH_TRAY
    // A second tray app has no window to open next to a daemon.
    if (test::sharedXvfb().available()) {
        FerlowProcess tray({}, home.environment);
        EXPECT_EQ(run(tray), 1);
        EXPECT_EQ(tray.err, "ferlow: Ferlow is already running, without a window (ferlow --headless)\n");
    }
#endif

    FerlowProcess usage({"--list", "--pair"}, home.environment);
    EXPECT_EQ(run(usage), 64);
    EXPECT_EQ(usage.err, "ferlow: --pair cannot be combined with --list\n");
}

// --pair, --list and --forget reach the running instance: the new code
// works there, and a forgotten phone hears "revoked" at once. The name is
// the phone's own, so what it holds that a terminal would obey (here an
// escape that clears the screen and a C1 control) is shown as U+FFFD.
TEST(Headless, CommandsActOnTheRunningInstance)
{
    FerlowHome home;
    Daemon daemon(home);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;

    const std::string name = "Ana’s \x1b[2J<img src=x>\u009b", shown = "Ana’s \uFFFD[2J<img src=x>\uFFFD";
    FerlowProcess pair({"--pair"}, home.environment);
    const auto url = pair.waitForLine("http://");
    ASSERT_FALSE(url.empty()) << pair.err;
    LoopbackPhone phone(daemon.port, pairingIn(url));
    ASSERT_TRUE(phone.connect(name).is<MacMessage::Ready>());
    EXPECT_EQ(pair.waitForLine("Paired with"), "Paired with " + shown) << pair.out << pair.err;
    EXPECT_EQ(run(pair), 0);

    EXPECT_EQ(test::fileMode(home.runtime()), 0700u);
    EXPECT_TRUE(std::filesystem::exists(home.runtime() / "ferlow.sock"));
    FerlowProcess list({"--list"}, home.environment);
    EXPECT_EQ(run(list), 0);
    ASSERT_TRUE(list.out.starts_with(shown)) << list.out;
    EXPECT_TRUE(std::regex_match(list.out.substr(shown.size()), std::regex("  Connected  \\(id [A-Za-z0-9_-]{11}\\)\n")))
        << list.out;

    FerlowProcess forget({"--forget", name}, home.environment);
    EXPECT_EQ(run(forget), 0) << forget.err;
    EXPECT_TRUE(forget.out.starts_with("Forgot " + shown + ".")) << forget.out;
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    FerlowProcess again({"--forget", name}, home.environment);
    EXPECT_EQ(run(again), 1);
    EXPECT_NE(again.err.find("no paired phone is called"), std::string::npos);
}

// "Forgot" is said only once the phone has been told and the pairing is off
// the disk: a computer that dies at that moment never lets the phone back in.
TEST(Headless, AForgetIsOnDiskAndToldWhenItIsAnswered)
{
    FerlowHome home;
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        PairingStore seed(home.support());
        const auto pairing = seed.createPending();
        seed.markUsed(pairing.id, "A");
        Daemon daemon(home);
        LoopbackPhone phone(daemon.port, pairing);
        ASSERT_TRUE(phone.connect("A").is<MacMessage::Ready>()) << daemon.process.err;
        FerlowProcess forget({"--forget", pairing.id}, home.environment);
        ASSERT_FALSE(forget.waitForLine("Forgot A.").empty()) << forget.err;
        daemon.process.signal(SIGKILL);
        EXPECT_EQ(phone.receive(), MacMessage::revoked());
        daemon.process.wait();
        EXPECT_FALSE(PairingStore(home.support()).lookup(pairing.id));
    }
}

// On a full disk every command whose change cannot be saved fails and says
// why; the running Ferlow keeps the changes (the forgotten phone is unknown,
// the new one works), says once that it cannot save and once that it can,
// and the next change saves everything held back.
TEST(Headless, FailedSavesAreReportedAndTheChangesKeptUntilASaveWorks)
{
    FerlowHome home;
    test::SmallDisk disk(home.folder.path() / "data");
    if (!disk.available())
        GTEST_SKIP() << disk.reason();
    home.environment["XDG_CONFIG_HOME"] = (home.folder.path() / "data").string();
    const auto settings = home.folder.path() / "data" / "Ferlow" / "settings.json";
    const std::regex cannotSave("ferlow: couldn't save: /[^\n]*: No space left on device\n");
    const auto failsToSave = [&](auto&& command) {
        EXPECT_EQ(run(command), 1);
        EXPECT_TRUE(std::regex_match(command.err, cannotSave)) << command.err;
    };
    Daemon daemon(home);
    const auto first = pairingIn(test::readFile(home.pairingFile()));
    ASSERT_TRUE(LoopbackPhone(daemon.port, first).connect("A").is<MacMessage::Ready>()) << daemon.process.err;
    disk.fill();

    FerlowProcess pair({"--pair"}, home.environment);
    const auto second = pairingIn(pair.waitForLine("http://"));
    ASSERT_TRUE(LoopbackPhone(daemon.port, second).connect("C").is<MacMessage::Ready>());
    failsToSave(pair);
    EXPECT_EQ(pair.out.find("Paired with"), std::string::npos);
    failsToSave(FerlowProcess({"--forget", "A"}, home.environment));
    failsToSave(FerlowProcess({"--agree-terms"}, home.environment));
    EXPECT_ANY_THROW(LoopbackPhone(daemon.port, first).connect("A"));
    EXPECT_TRUE(daemon.process.waitForError("ferlow: Ferlow can't save its files: "));

    disk.empty();
    ASSERT_TRUE(LoopbackPhone(daemon.port, second).connect("C").is<MacMessage::Ready>());
    EXPECT_TRUE(daemon.process.waitForError("ferlow: Ferlow can save its files again.\n"));
    daemon.process.signal(SIGKILL);
    daemon.process.wait();
    EXPECT_EQ(std::count(daemon.process.err.begin(), daemon.process.err.end(), '\n'), 2) << daemon.process.err;
    PairingStore store(home.support());
    EXPECT_FALSE(store.lookup(first.id));
    EXPECT_EQ(store.lookup(second.id).value_or(Pairing {}).name, "C");
    EXPECT_NE(test::readFile(settings).find("\"termsAccepted\""), std::string::npos);

    // Without a running Ferlow the commands save for themselves, and fail alike.
    disk.fill();
    failsToSave(FerlowProcess({"--forget", "C"}, home.environment));
    failsToSave(FerlowProcess({"--agree-terms"}, home.environment));
}

// A file Ferlow cannot read is moved aside rather than replaced, and the
// user is told where it went.
TEST(Headless, UnreadableFilesAreKeptAsideAndNamed)
{
    FerlowHome home;
    for (const auto& file : {home.support() / "pairings.json", home.support() / "actions.json", home.settings()})
        test::writeFile(file, "{\"half");
    Daemon daemon(home);
    for (const auto& file : {home.support() / "pairings.json", home.support() / "actions.json", home.settings()}) {
        EXPECT_TRUE(daemon.process.waitForError(
            "ferlow: couldn't read " + file.string() + "; it is kept as " + file.string() + ".unreadable\n"));
        EXPECT_EQ(test::readFile(file.string() + ".unreadable"), "{\"half");
    }
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

// The running program was replaced on disk meanwhile, as a package upgrade
// does: what is left to delete is still the program's own path.
TEST(Headless, UninstallThroughTheRunningInstanceLetsThePhoneGoAndLeavesNothingOfItsOwn)
{
    FerlowHome home;
    test::writeFile(home.folder.path() / "config" / "autostart" / "ferlow.desktop", "[Desktop Entry]\n");
    test::writeFile(home.settings(), "{}");
    const auto program = home.folder.path() / "bin" / "ferlow";
    std::filesystem::create_directories(program.parent_path());
    std::error_code crossDevice;
    std::filesystem::create_hard_link(FERLOW_PROGRAM, program, crossDevice);
    if (crossDevice)
        std::filesystem::copy_file(FERLOW_PROGRAM, program);
    Daemon daemon(home, freePort(), program);
    LoopbackPhone phone(daemon.port, pairingIn(test::readFile(home.pairingFile())));
    ASSERT_TRUE(phone.connect().is<MacMessage::Ready>());
    test::writeFile(home.folder.path() / "bin" / "ferlow.new", "#!/bin/sh\n");
    std::filesystem::rename(home.folder.path() / "bin" / "ferlow.new", program);

    FerlowProcess uninstall({"--uninstall", "--yes"}, home.environment);
    EXPECT_EQ(run(uninstall), 0) << uninstall.err;
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    EXPECT_EQ(daemon.process.wait(), 0);
    EXPECT_TRUE(uninstall.out.starts_with("Ferlow is almost uninstalled.\nOne more step for you:\n"));
    EXPECT_NE(uninstall.out.find("\u2022 Delete the program " + std::filesystem::canonical(program).string() + ".\n"),
        std::string::npos)
        << uninstall.out;
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

// On Wayland the daemon asks the desktop's portal at its first start and
// keeps the token it gets, so the next start asks with it. A refusal, and
// the desktop ending the session, are each told in one line, and the pad is
// served all along.
TEST(Headless, OnWaylandThePortalIsAskedOnceThenRememberedAndItsAnswersAreTold)
{
    test::PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << bus.reason();
    test::FakePortal portal(bus.address());
    FerlowHome home;
    home.environment["XDG_SESSION_TYPE"] = "wayland";
    home.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    const std::string ended = "ferlow: The desktop ended Ferlow\u2019s control of the pointer and keyboard.\n";
    const std::string refused = "ferlow: The desktop did not allow Ferlow to control the pointer and keyboard.\n";
    {
        Daemon daemon(home);
        ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
        EXPECT_EQ(daemon.process.waitForLine("Input: "), "Input: the desktop\u2019s RemoteDesktop portal");
        ASSERT_TRUE(test::eventually(
            [&] { return test::readFile(home.settings()).find(R"("portalRestoreToken": "token-1")") != std::string::npos; },
            10s));
        portal.closeSession();
        EXPECT_TRUE(daemon.process.waitForError(ended));
        EXPECT_TRUE(accepts(daemon.port));
        daemon.process.signal(SIGTERM);
        EXPECT_EQ(daemon.process.wait(), 0);
        EXPECT_EQ(daemon.process.err, ended);
    }
    portal.answer("Start", 1);
    {
        Daemon daemon(home);
        ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
        EXPECT_TRUE(daemon.process.waitForError(refused));
        EXPECT_TRUE(accepts(daemon.port));
        daemon.process.signal(SIGTERM);
        EXPECT_EQ(daemon.process.wait(), 0);
        EXPECT_EQ(daemon.process.err, refused);
    }
    EXPECT_EQ(portal.calls("SelectDevices"),
        (std::vector<std::string> {"SelectDevices types=3 persist=2 token=none", "SelectDevices types=3 persist=2 token=token-1"}));
}

#ifdef FERLOW_WITH_TRAY
// A first start shows the terms window, which refuses to close; a second
// launch is answered by the first, and a SIGTERM must still end the tray at
// once, cleanly. Without a reachable desktop the tray says so instead of
// letting Qt abort.
TEST(Tray, AnswersASecondLaunchQuitsOnSigtermWithTheTermsUpAndRefusesAMissingDesktop)
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
    // A second launch opens the first one's status window and is done.
    FerlowProcess second({}, home.environment);
    EXPECT_EQ(second.wait(), 0) << second.err;
    EXPECT_EQ(second.err, "");
    tray.signal(SIGTERM);
    EXPECT_EQ(tray.wait(5s), 0) << tray.err;
    EXPECT_FALSE(std::filesystem::exists(home.runtime() / "ferlow.sock"));
}
#else
TEST(Headless, WithoutArgumentsABuildWithoutTheTraySaysHowToRunIt)
{
    FerlowHome home;
    FerlowProcess bare({}, home.environment);
    EXPECT_EQ(bare.wait(), 64);
    EXPECT_EQ(bare.err, "ferlow: this build has no tray; run ferlow --headless\n");
}
#endif

} // namespace
} // namespace ferlow
