// The app model with a phone speaking the real protocol on loopback; fakes
// only at the platform seam.

#include <gtest/gtest.h>
#include <X11/Xlib.h>

#include "Ferlow/ControlRequests.h"
#include "FerlowInput/AppShortcuts.h"
#include "FerlowLinux/ChordMapper.h"
#include "FerlowLinux/XTestPoster.h"
#include "tests/Ferlow/AppFixture.h"
#include "tests/Ferlow/FerlowProcess.h" // the suite's X server

namespace ferlow {
namespace {

using test::AppFixture;

TEST(AppModel, PortComesFromTheSettingsWhenItIsAPortNumber)
{
    const std::pair<std::optional<nlohmann::json>, std::uint16_t> cases[] {
        {std::nullopt, 7311}, {0, 7311}, {70000, 7311}, {-1, 7311}, {"8080", 7311}, {8080.5, 7311}, {8080, 8080},
    };
    for (const auto& [stored, port] : cases) {
        AppFixture fixture;
        stored ? fixture.settings->set(AppModel::portKey, *stored) : fixture.settings->remove(AppModel::portKey);
        EXPECT_EQ(fixture.makeModel()->port(), port) << (stored ? stored->dump() : "absent");
    }
}

// Terms are asked unless a development run says otherwise; a login item only
// for an installed app, and never beside the user service (a double start).
TEST(AppModel, FirstStartAsksTheTermsAndRegistersALoginItemOnlyWhereItBelongs)
{
    struct Case {
        const char* name;
        bool padDir, testTerms, offerOpenAtLogin, installed, byService, before;
        bool termsNeeded, after, switchesOn;
    };
    const Case cases[] {
        {"installed app", false, false, true, true, false, false, true, true, true},
        {"daemon: login is its service manager's", false, false, false, true, false, false, true, false, true},
        {"development run", true, false, true, true, false, false, false, false, true},
        {"development run testing the terms", true, true, true, true, false, false, true, false, true},
        {"build tree", false, false, true, false, false, false, true, false, true},
        {"user service", false, false, true, true, true, true, true, false, false},
        {"user service, daemon", false, false, false, true, true, true, true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppFixture fixture({.termsAgreed = false});
        fixture.installed = c.installed;
        fixture.loginByService = c.byService;
        fixture.loginItem = c.before;
        AppEnvironment environment;
        if (c.padDir)
            environment.padDir = fixture.folder.path() / "pad";
        environment.testTerms = c.testTerms;
        auto& model = *(fixture.model = fixture.makeModel(environment, c.offerOpenAtLogin));
        ASSERT_TRUE(fixture.start());
        EXPECT_EQ(model.termsNeeded(), c.termsNeeded);
        EXPECT_EQ(model.serverRunning(), !c.termsNeeded);
        EXPECT_EQ(fixture.loginItem, c.after);
        EXPECT_EQ(model.setLaunchAtLogin(true), c.switchesOn);
        EXPECT_EQ(fixture.loginItem, c.switchesOn);
        model.stop();
    }
}

// Where phones find the computer is followed from the start on, the latest
// answer first; a code that `ferlow --pair` shows follows it, with the notice.
TEST(AppModel, TheAddressFollowsWherePhonesFindTheComputer)
{
    AppFixture fixture;
    auto& model = *fixture.model;
    ControlRequests requests(model, {});
    const auto ask = [&](const nlohmann::json& request) {
        std::optional<nlohmann::json> reply;
        requests.answer(request, [&](ControlRequests::Answer answer) { reply = answer.reply; });
        EXPECT_TRUE(fixture.main.runUntil([&] { return reply.has_value(); }));
        return reply.value_or(nlohmann::json());
    };
    const auto pending = ask({{"do", "pair"}});
    EXPECT_FALSE(pending.contains("notice"));
    fixture.moveTo({"192.168.1.20", false});
    model.start();
    EXPECT_EQ(model.address(), "http://192.168.1.20:" + std::to_string(model.port()));
    const auto redrawn = ask({{"do", "pairing"}, {"id", pending["id"]}});
    EXPECT_EQ(redrawn["url"], *pairingURL("192.168.1.20", model.port(), *model.store().lookup(pending["id"])));
    EXPECT_EQ(redrawn["notice"], AppModel::addressNotice);
    model.stop();
}

// Buttons (even unsaved), the front app (not Ferlow's own), the permission
// and settings when the desktop tells, the update and the removal all reach the phone.
TEST(AppModel, APhoneLearnsEveryChange)
{
    AppFixture fixture({.desktop = KeyProfile::Desktop::genericX11});
    fixture.support = fixture.folder.path() / "not-a-folder";
    test::writeFile(fixture.support, "a file where the data folder should be");
    AppEnvironment development;
    development.padDir = fixture.folder.path() / "pad";
    auto& model = *(fixture.model = fixture.makeModel(development));
    std::vector<bool> permissionChanges;
    model.onAccessibilityChange = [&](bool granted) { permissionChanges.push_back(granted); };
    ASSERT_TRUE(fixture.start());
    const auto phone = fixture.connectPhone("Pixel");
    // Plain X11 has no overview nor a file manager's Duplicate.
    std::vector buttons {ActionStore::defaults()[0], ActionStore::defaults()[19]};
    model.setActions(buttons);
    buttons[1].conflict = "Not available on this desktop";
    EXPECT_EQ(phone->receive(), MacMessage::actions(buttons));

    fixture.front = FrontApp {"com.apple.finder", "Thunar"};
    model.frontAppChanged();
    auto files = AppShortcuts::context("com.apple.finder", "Thunar");
    files->actions[5].conflict = "Not available on this desktop";
    EXPECT_EQ(phone->receive(), MacMessage::context(files));
    fixture.front = FrontApp {std::string(FrontApp::ownBundleID), "Ferlow"};
    model.frontAppChanged();
    phone->send(PhoneMessage::ping(1));
    EXPECT_EQ(phone->receive(), MacMessage::pong(1)); // and no context before it
    fixture.front = FrontApp {std::nullopt, "xterm"};
    model.frontAppChanged();
    EXPECT_EQ(phone->receive(), MacMessage::context(std::nullopt));

    fixture.permissions->trusted = false;
    fixture.prefs.naturalScroll = false;
    fixture.main.advance(60); // nobody polls what the desktop tells
    EXPECT_TRUE(model.accessibilityGranted());
    fixture.permissionChanged();
    fixture.prefsChanged();
    EXPECT_FALSE(model.accessibilityGranted());
    EXPECT_EQ(permissionChanges, std::vector<bool> {false});
    EXPECT_EQ(phone->receive(), MacMessage::accessibility(false));
    EXPECT_EQ(phone->receive(), MacMessage::prefs(fixture.prefs));
    fixture.prefsChanged(); // nothing changed since: nothing more is sent

    model.updateChanged(UpdateStatus::required("9.0"));
    EXPECT_EQ(phone->receive(), MacMessage::update(UpdateStatus::required("9.0")));

    model.remove(model.pairings()[0]);
    EXPECT_EQ(phone->receive(), MacMessage::revoked());
    ASSERT_TRUE(fixture.main.runUntil([&] { return !model.connectedDevice() && model.pairings().empty(); }));
    EXPECT_FALSE(model.store().lookup(phone->id()));
}

// The phone keeps pinging while it holds the button, so only the change to
// "required" itself can let the button go; the X server must see it up.
TEST(AppModel, ARequiredUpdateLetsGoOfAHeldButtonAndRefusesInputAfter)
{
    const auto& xvfb = test::sharedXvfb();
    if (!xvfb.available())
        GTEST_SKIP() << xvfb.reason();
    const std::unique_ptr<Display, decltype(&XCloseDisplay)> x(XOpenDisplay(xvfb.display().c_str()), &XCloseDisplay);
    const auto leftDown = [&] {
        Window root = 0, child = 0;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned mask = 0;
        return XQueryPointer(x.get(), DefaultRootWindow(x.get()), &root, &child, &rx, &ry, &wx, &wy, &mask) && (mask & Button1Mask);
    };
    AppFixture fixture;
    fixture.makePoster = [&] {
        return std::make_shared<ChordMapper>(KeyProfile(KeyProfile::Desktop::genericX11),
            std::shared_ptr<LinuxEventSink>(XTestPoster::open(xvfb.display(), {})));
    };
    auto& model = *(fixture.model = fixture.makeModel());
    ASSERT_TRUE(fixture.start());
    const auto phone = fixture.connectPhone();
    phone->send(PhoneMessage::button(0, true, 1), 1000);
    ASSERT_TRUE(test::eventually(leftDown));

    model.updateChanged(UpdateStatus::required("9.0"));
    EXPECT_EQ(phone->receive(), MacMessage::update(UpdateStatus::required("9.0")));
    for (int ping = 0; ping < 10 && leftDown(); ++ping) { // a second of pings, well past the watchdog's half
        phone->send(PhoneMessage::ping(ping));
        EXPECT_EQ(phone->receive(), MacMessage::pong(ping));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_FALSE(leftDown());
    phone->send(PhoneMessage::button(0, true, 1), 2000);
    phone->send(PhoneMessage::ping(99));
    EXPECT_EQ(phone->receive(), MacMessage::pong(99));
    EXPECT_FALSE(leftDown());
}

// When the server stops under a connected phone (a port change, newer terms),
// its session ends as if it had left: released, closed, not shown connected.
TEST(AppModel, StoppingTheServerEndsThePhonesSessionFirst)
{
    AppFixture fixture;
    auto& model = *fixture.model;
    model.start();
    for (const auto& stopServer : std::vector<std::function<void()>> {
             [&] { model.applyPort(test::freePort()); }, [&] { model.releaseSeen(test::newerTerms()); }}) {
        ASSERT_TRUE(fixture.serverSettled());
        const auto phone = fixture.connectPhone();
        phone->send(PhoneMessage::button(0, true, 1));
        phone->send(PhoneMessage::ping(1));
        EXPECT_EQ(phone->receive(), MacMessage::pong(1));
        stopServer();
        EXPECT_EQ(phone->client.readFrame().opcode, 0x8);
        ASSERT_TRUE(fixture.main.runUntil([&] { return !model.connectedDevice(); }));
        const auto posted = fixture.io.call([&] { return fixture.poster->take(); });
        ASSERT_FALSE(posted.empty());
        EXPECT_EQ(posted.back().as<EventSpec::Mouse>()->type, 2); // left button up
    }
}

// Where the desktop cannot tell of changes, the model asks, slowly.
TEST(AppModel, WhatTheDesktopCannotTellIsAskedForNowAndThen)
{
    AppFixture fixture;
    fixture.desktopTells = false;
    auto& model = *(fixture.model = fixture.makeModel());
    model.start();
    fixture.permissions->trusted = false;
    fixture.main.advance(AppModel::permissionPollInterval - 0.5);
    EXPECT_TRUE(model.accessibilityGranted());
    fixture.main.advance(0.5);
    EXPECT_FALSE(model.accessibilityGranted());
}

// Asked once however often the same document comes, and not again at the
// next start. (The stop and the agreement are the process test's.)
TEST(AppModel, NewerTermsAreAskedForOnceAndRememberedOnceAgreed)
{
    AppFixture fixture;
    fixture.release = R"({"latest":"1.0","minimum":"1.0","terms":2})";
    auto& model = *fixture.model;
    int asked = 0;
    model.onTermsNeeded = [&] { ++asked; };
    model.start();
    fixture.main.advance(AppModel::updateInterval);
    EXPECT_EQ(fixture.requests, 2);
    EXPECT_EQ(asked, 1);

    model.agreeToTerms();
    model.stop();
    EXPECT_FALSE(fixture.makeModel()->termsNeeded());
}

} // namespace
} // namespace ferlow
