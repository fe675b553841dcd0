// `ferlow` as a user runs it: the built program with its own home folder, a
// phone on loopback, the development trace and pairing file, and signals.

#include <regex>

#include <asio/ip/tcp.hpp>
#include <gtest/gtest.h>
#include <X11/Xlib.h>

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
using test::run;
using Outcome = FerlowProcess::Outcome;

Pairing pairingIn(const std::string& url) { return test::pairingLink(url).value_or(test::PairingLink {}).pairing; }

bool traced(const FerlowHome& home, const std::string& pattern)
{
    return test::eventually([&] { return std::regex_search(test::readFile(home.trace()), std::regex(pattern)); }, 10s);
}

bool accepts(std::uint16_t port) { return test::TestClient(port).connected(); }

// A daemon on a free port, once it says it listens.
struct Daemon {
    explicit Daemon(const FerlowHome& home, std::uint16_t free = freePort(), const std::string& program = FERLOW_PROGRAM)
        : port(free), process({"--headless", "--port", std::to_string(port)}, home.environment, std::nullopt, program),
          listening(process.waitForLine("Ferlow listening on "))
    {
    }
    std::uint16_t port;
    FerlowProcess process;
    std::string listening;
};

// A SIGTERM mid-drag lets go of the button, restores a keymap changed for a
// typed character and leaves whole files, even with the X server stopped.
TEST(Headless, APhonePairsMovesTheXPointerAndIsLetGoCleanlyOnSigtermEvenWithTheXServerStopped)
{
    if (!test::sharedXvfb().available())
        GTEST_SKIP() << test::sharedXvfb().reason();
    const std::unique_ptr<Display, decltype(&XCloseDisplay)> x(
        XOpenDisplay(test::sharedXvfb().display().c_str()), &XCloseDisplay);
    ASSERT_TRUE(x);
    FerlowHome home;
    Daemon daemon(home);
    EXPECT_EQ(daemon.process.waitForLine("Input: "), "Input: XTest") << daemon.process.err;
    const auto pairing = pairingIn(test::readFile(home.pairingFile()));
    EXPECT_EQ(test::fileMode(home.pairingFile()), 0600u);
    const std::string releasedAfterDrag = "mouse 6 [^\\n]*\\n(.*\\n)*.* mouse 2 ";

    const auto keymap = [&] { return test::XTestWindow::keymap(x.get()); };
    const auto original = keymap();
    const auto drag = [&](const Daemon& running, double t) {
        auto phone = std::make_unique<LoopbackPhone>(running.port, pairing);
        EXPECT_TRUE(phone->connect("Pixel").is<MacMessage::Ready>());
        phone->send(PhoneMessage::button(0, true, 1), t);
        phone->send(PhoneMessage::move(3, 3), t + 16);
        EXPECT_TRUE(traced(home, "mouse 6 "));
        return phone;
    };
    const auto phone = drag(daemon, 1000);
    phone->send(PhoneMessage::text(0, "✓"), 1032);
    EXPECT_TRUE(test::eventually([&] { return keymap() != original; }));
    EXPECT_EQ(daemon.process.stop(SIGTERM), 0) << daemon.process.err;
    EXPECT_EQ(keymap(), original);
    EXPECT_TRUE(traced(home, releasedAfterDrag));
    EXPECT_EQ(PairingStore(home.support()).lookup(pairing.id)->name, "Pixel");
    EXPECT_FALSE(std::filesystem::exists(home.runtime() / "ferlow.sock"));

    Daemon stopping(home);
    const auto again = drag(stopping, 2000);
    std::this_thread::sleep_for(300ms); // a resting finger: reading the pointer would be due
    const pid_t server = test::sharedXvfb().pid();
    ::kill(server, SIGSTOP);
    const std::shared_ptr<void> resumed(nullptr, [server](void*) { ::kill(server, SIGCONT); });
    int status = -1;
    EXPECT_NO_THROW(status = stopping.process.stop(SIGTERM, 5s));
    EXPECT_EQ(status, 0) << stopping.process.err;
    EXPECT_TRUE(traced(home, releasedAfterDrag));
}

// A file Ferlow cannot read is kept aside rather than replaced, and named.
TEST(Headless, StartFailuresUnreadableFilesAndASecondInstanceEachSaySoInOneLine)
{
    FerlowHome home;
    home.environment.erase("XDG_RUNTIME_DIR"); // the runtime files go to the data folder then
    const auto port = freePort();
    const std::vector<std::string> onPort {"--headless", "--port", std::to_string(port)};
    {
        asio::io_context io;
        const asio::ip::tcp::acceptor holder(io, {asio::ip::tcp::v6(), port});
        EXPECT_EQ(run(home.environment, onPort), Outcome(2, "", "ferlow: Port " + std::to_string(port) + " is busy\n"));
    }
    auto noPad = home.environment, longRuntime = home.environment;
    noPad["FERLOW_PAD_DIR"] = (home.folder.path() / "nowhere").string();
    EXPECT_EQ(run(noPad, onPort),
        Outcome(1, "", "ferlow: Couldn\u2019t start: there is no pad folder at " + noPad["FERLOW_PAD_DIR"] + "\n"));
    longRuntime["XDG_RUNTIME_DIR"] = (home.folder.path() / std::string(100, 'r')).string();
    EXPECT_EQ(run(longRuntime, {"--headless"}),
        Outcome(1, "", "ferlow: the path " + longRuntime["XDG_RUNTIME_DIR"]
                + "/ferlow/ferlow.sock is too long for a socket (at most 107 bytes); set XDG_RUNTIME_DIR to a shorter folder\n"));
    EXPECT_EQ(run(home.environment, {"--list", "--pair"}), Outcome(64, "", "ferlow: --pair cannot be combined with --list\n"));

    const std::filesystem::path unreadable[] {home.support() / "pairings.json", home.support() / "actions.json", home.settings()};
    for (const auto& file : unreadable)
        test::writeFile(file, "{\"half");
    Daemon daemon(home);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
    for (const auto& file : unreadable) {
        EXPECT_TRUE(daemon.process.waitFor(daemon.process.err,
            "ferlow: couldn't read " + file.string() + "; it is kept as " + file.string() + ".unreadable\n"));
        EXPECT_EQ(test::readFile(file.string() + ".unreadable"), "{\"half");
    }
    EXPECT_TRUE(std::filesystem::exists(home.support() / "ferlow.sock"));
    const auto [status, out, err] = run(home.environment, {"--headless", "--port", std::to_string(freePort())});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(std::regex_match(err, std::regex("ferlow: Ferlow is already running \\(process [0-9]+\\)\n"))) << err;
#ifdef FERLOW_WITH_TRAY
    // A second tray app has no window to open next to a daemon.
    if (test::sharedXvfb().available()) {
        EXPECT_EQ(run(home.environment, {}), Outcome(1, "", "ferlow: Ferlow is already running, without a window (ferlow --headless)\n"));
    }
#endif
}

// --pair, --list, --forget and --uninstall reach the running instance; a
// phone's name never brings ESC or C1 to the terminal; the program is
// replaced before the uninstall, as an upgrade does, and still named.
TEST(Headless, CommandsActOnTheRunningInstance)
{
    FerlowHome home;
    const auto autostart = home.folder.path() / "config" / "autostart" / "ferlow.desktop";
    test::writeFile(autostart, "[Desktop Entry]\n");
    test::writeFile(home.settings(), "{}");
    const auto program = home.folder.path() / "bin" / "ferlow";
    std::filesystem::create_directories(program.parent_path());
    std::error_code crossDevice;
    std::filesystem::create_hard_link(FERLOW_PROGRAM, program, crossDevice);
    if (crossDevice)
        std::filesystem::copy_file(FERLOW_PROGRAM, program);
    Daemon daemon(home, freePort(), program);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
    const std::string name = "Ana’s \x1b[2J<img src=x>\u009b", shown = "Ana’s \uFFFD[2J<img src=x>\uFFFD";
    FerlowProcess pair({"--pair"}, home.environment);
    LoopbackPhone phone(daemon.port, pairingIn(pair.waitForLine("http://")));
    ASSERT_TRUE(phone.connect(name).is<MacMessage::Ready>()) << pair.err;
    EXPECT_EQ(pair.waitForLine("Paired with"), "Paired with " + shown) << pair.out << pair.err;
    EXPECT_EQ(pair.wait(), 0);

    EXPECT_EQ(test::fileMode(home.runtime()), 0700u);
    const auto [listed, list, listErr] = run(home.environment, {"--list"});
    EXPECT_TRUE(list.starts_with(shown)
        && std::regex_match(list.substr(shown.size()), std::regex("  Connected  \\(id [A-Za-z0-9_-]{11}\\)\n")))
        << list;
    EXPECT_EQ(run(home.environment, {"--forget", name}),
        Outcome(0, "Forgot " + shown + ". It will need a new code to connect again.\n", ""));
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    EXPECT_EQ(run(home.environment, {"--forget", name}),
        Outcome(1, "", "ferlow: no paired phone is called \u201C" + shown + "\u201D (ferlow --list shows them)\n"));

    LoopbackPhone last(daemon.port, pairingIn(test::readFile(home.pairingFile())));
    ASSERT_TRUE(last.connect().is<MacMessage::Ready>());
    test::writeFile(home.folder.path() / "bin" / "ferlow.new", "#!/bin/sh\n");
    std::filesystem::rename(home.folder.path() / "bin" / "ferlow.new", program);
    const auto [status, out, err] = run(home.environment, {"--uninstall", "--yes"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(last.receive(), MacMessage::revoked());
    EXPECT_EQ(daemon.process.wait(), 0);
    EXPECT_TRUE(out.starts_with("Ferlow is almost uninstalled.\nOne more step for you:\n")
        && out.find("\u2022 Delete the program " + std::filesystem::canonical(program).string() + ".\n") != std::string::npos)
        << out;
    for (const auto& gone : {home.support(), home.settings().parent_path(), autostart})
        EXPECT_FALSE(std::filesystem::exists(gone)) << gone;
    EXPECT_TRUE(std::filesystem::exists(home.folder.path() / "pad" / "index.html"));
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
        daemon.process.stop(SIGKILL);
        EXPECT_EQ(phone.receive(), MacMessage::revoked());
        EXPECT_FALSE(PairingStore(home.support()).lookup(pairing.id));
    }
}

// On a full disk every command fails and says why; the running Ferlow keeps
// the changes, says so once, and saves them all once it can.
TEST(Headless, FailedSavesAreReportedAndTheChangesKeptUntilASaveWorks)
{
    FerlowHome home;
    test::SmallDisk disk(home.folder.path() / "data");
    if (!disk.available())
        GTEST_SKIP() << disk.reason();
    home.environment["XDG_CONFIG_HOME"] = (home.folder.path() / "data").string();
    const auto failsToSave = [](const Outcome& outcome) {
        const auto& [status, out, err] = outcome;
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(std::regex_match(err, std::regex("ferlow: couldn't save: /[^\n]*: No space left on device\n"))) << err;
        EXPECT_EQ(out.find("Paired with"), std::string::npos);
    };
    Daemon daemon(home);
    const auto first = pairingIn(test::readFile(home.pairingFile()));
    ASSERT_TRUE(LoopbackPhone(daemon.port, first).connect("A").is<MacMessage::Ready>()) << daemon.process.err;
    disk.fill();

    FerlowProcess pair({"--pair"}, home.environment);
    const auto second = pairingIn(pair.waitForLine("http://"));
    ASSERT_TRUE(LoopbackPhone(daemon.port, second).connect("C").is<MacMessage::Ready>());
    failsToSave(pair.finish());
    failsToSave(run(home.environment, {"--forget", "A"}));
    failsToSave(run(home.environment, {"--agree-terms"}));
    EXPECT_ANY_THROW(LoopbackPhone(daemon.port, first).connect("A"));
    EXPECT_TRUE(daemon.process.waitFor(daemon.process.err, "ferlow: Ferlow can't save its files: "));

    disk.empty();
    ASSERT_TRUE(LoopbackPhone(daemon.port, second).connect("C").is<MacMessage::Ready>());
    EXPECT_TRUE(daemon.process.waitFor(daemon.process.err, "ferlow: Ferlow can save its files again.\n"));
    daemon.process.stop(SIGKILL);
    EXPECT_EQ(std::count(daemon.process.err.begin(), daemon.process.err.end(), '\n'), 2) << daemon.process.err;
    PairingStore store(home.support());
    EXPECT_FALSE(store.lookup(first.id));
    EXPECT_EQ(store.lookup(second.id).value_or(Pairing {}).name, "C");
    EXPECT_NE(test::readFile(home.folder.path() / "data" / "Ferlow" / "settings.json").find("\"termsAccepted\""),
        std::string::npos);

    // Without a running Ferlow the commands save for themselves, and fail alike.
    disk.fill();
    failsToSave(run(home.environment, {"--forget", "C"}));
    failsToSave(run(home.environment, {"--agree-terms"}));
}

// Only a running Ferlow holds the instance lock: two commands at once never
// take each other for one, nor does a daemon started during a command.
TEST(Headless, ShortCommandsNeverLookLikeARunningFerlow)
{
    FerlowHome home;
    for (int round = 0; round < 20; ++round) {
        FerlowProcess first({"--list"}, home.environment), second({"--list"}, home.environment);
        EXPECT_EQ(first.finish(), Outcome(0, "No phone paired yet\n", ""));
        EXPECT_EQ(second.finish(), Outcome(0, "No phone paired yet\n", ""));
    }
    for (int round = 0; round < 20; ++round) {
        FerlowProcess list({"--list"}, home.environment);
        Daemon daemon(home);
        EXPECT_FALSE(daemon.listening.empty()) << daemon.process.err;
        EXPECT_EQ(list.wait(), 0) << list.err;
        EXPECT_EQ(daemon.process.stop(SIGTERM), 0);
    }
}

// The release document comes over HTTP from the daemon's own pad folder, read
// once at start before the newer terms it names close the server.
TEST(Headless, NewerTermsStopTheServerAndAgreeTermsResumesIt)
{
    FerlowHome home;
    const auto port = freePort();
    test::writeFile(home.folder.path() / "pad" / "version.json", R"({"latest":"0.0.1","minimum":"0.0.1","terms":2})");
    home.environment["FERLOW_UPDATE_URL"] = "http://127.0.0.1:" + std::to_string(port) + "/version.json";
    home.environment["FERLOW_TEST_TERMS"] = "1";
    test::writeFile(home.settings(), R"({"termsAccepted": 1})");
    Daemon daemon(home, port);
    ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
    EXPECT_TRUE(test::eventually([&] { return !accepts(daemon.port); }, 10s));

    EXPECT_EQ(std::get<0>(run(home.environment, {"--agree-terms"})), 0);
    EXPECT_FALSE(daemon.process.waitForLine("Ferlow listening on ").empty());
    EXPECT_TRUE(accepts(daemon.port));
    EXPECT_EQ(daemon.process.stop(SIGINT), 0);
    EXPECT_NE(daemon.process.err.find("newer terms of use need your agreement"), std::string::npos);
    EXPECT_NE(test::readFile(home.settings()).find("\"termsAccepted\": 2"), std::string::npos);
}

// On Wayland the portal is asked once and its token kept; an ended session
// and a refusal are each told in one line, and the pad stays served.
TEST(Headless, OnWaylandThePortalIsAskedOnceThenRememberedAndItsAnswersAreTold)
{
    test::PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << bus.reason();
    test::FakePortal portal(bus.address());
    FerlowHome home;
    home.environment["XDG_SESSION_TYPE"] = "wayland";
    home.environment["DBUS_SESSION_BUS_ADDRESS"] = bus.address();
    for (const bool first : {true, false}) {
        const std::string told = first ? "ferlow: The desktop ended Ferlow\u2019s control of the pointer and keyboard.\n"
                                       : "ferlow: The desktop did not allow Ferlow to control the pointer and keyboard.\n";
        if (!first)
            portal.answer("Start", 1);
        Daemon daemon(home);
        ASSERT_FALSE(daemon.listening.empty()) << daemon.process.err;
        if (first) {
            EXPECT_EQ(daemon.process.waitForLine("Input: "), "Input: the desktop\u2019s RemoteDesktop portal");
            ASSERT_TRUE(test::eventually(
                [&] { return test::readFile(home.settings()).find(R"("portalRestoreToken": "token-1")") != std::string::npos; }, 10s));
            portal.closeSession();
        }
        EXPECT_TRUE(daemon.process.waitFor(daemon.process.err, told));
        EXPECT_TRUE(accepts(daemon.port));
        EXPECT_EQ(daemon.process.stop(SIGTERM), 0);
        EXPECT_EQ(daemon.process.err, told);
    }
    EXPECT_EQ(portal.calls("SelectDevices"),
        (std::vector<std::string> {"SelectDevices types=3 persist=2 token=none", "SelectDevices types=3 persist=2 token=token-1"}));
}

#ifdef FERLOW_WITH_TRAY
// Without a desktop the tray says so instead of letting Qt abort; with the
// terms up a second launch is answered and a SIGTERM ends it cleanly.
TEST(Tray, AnswersASecondLaunchQuitsOnSigtermWithTheTermsUpAndRefusesAMissingDesktop)
{
    for (const char* wayland : {"", "wayland-of-a-session-that-ended"}) {
        FerlowHome home;
        home.environment["DISPLAY"] = "";
        home.environment["WAYLAND_DISPLAY"] = wayland;
        const auto [status, out, err] = run(home.environment, {});
        EXPECT_EQ(status, 1) << wayland;
        EXPECT_NE(err.find("there is no desktop here for Ferlow's tray icon"), std::string::npos) << err;
    }
    if (!test::sharedXvfb().available())
        GTEST_SKIP() << test::sharedXvfb().reason();
    FerlowHome home;
    home.environment["FERLOW_TEST_TERMS"] = "1";
    FerlowProcess tray({}, home.environment);
    ASSERT_TRUE(test::eventually([&] { return std::filesystem::exists(home.runtime() / "ferlow.sock"); }, 10s)) << tray.err;
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(run(home.environment, {}), Outcome(0, "", ""));
    EXPECT_EQ(tray.stop(SIGTERM, 5s), 0) << tray.err;
    EXPECT_FALSE(std::filesystem::exists(home.runtime() / "ferlow.sock"));
}
#else
TEST(Headless, WithoutArgumentsABuildWithoutTheTraySaysHowToRunIt)
{
    EXPECT_EQ(run(FerlowHome().environment, {}), Outcome(64, "", "ferlow: this build has no tray; run ferlow --headless\n"));
}
#endif

} // namespace
} // namespace ferlow
