// The app model on a hand-run main context with a fake clock, a real I/O
// thread, a real server on loopback and a phone speaking the real protocol.
// Fakes stand only at the platform seam.

#include <gtest/gtest.h>

#include "FerlowInput/AppShortcuts.h"
#include "tests/Ferlow/AppFixture.h"

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

TEST(AppModel, ADevelopmentRunAsksNoTermsAndRegistersNoLoginItemUnlessTold)
{
    struct Case {
        bool padDir, testTerms, offerOpenAtLogin;
        bool termsNeeded, loginItem;
    };
    const Case cases[] {
        {false, false, true, true, true},
        {false, false, false, true, false}, // a daemon leaves login to its service manager
        {true, false, true, false, false},
        {true, true, true, true, false},
    };
    for (const auto& c : cases) {
        AppFixture fixture({.trusted = true, .termsAgreed = false});
        AppEnvironment environment;
        if (c.padDir)
            environment.padDir = fixture.folder.path() / "pad";
        environment.testTerms = c.testTerms;
        auto& model = *(fixture.model = fixture.makeModel(environment, c.offerOpenAtLogin));
        model.start();
        fixture.main.runPending();
        EXPECT_EQ(model.termsNeeded(), c.termsNeeded);
        EXPECT_EQ(model.serverRunning(), !c.termsNeeded);
        EXPECT_EQ(fixture.loginItem, c.loginItem);
        model.stop();
    }
}

// Everything the phone must learn reaches it: buttons (even when they could
// not be saved), the front application (but not Ferlow's own windows), the
// permission and the desktop's settings when the desktop tells of a change
// (and only then), the update status, and finally its own removal.
TEST(AppModel, APhoneLearnsEveryChange)
{
    AppFixture fixture;
    fixture.support = fixture.folder.path() / "not-a-folder";
    test::writeFile(fixture.support, "a file where the data folder should be");
    AppEnvironment development;
    development.padDir = fixture.folder.path() / "pad";
    auto& model = *(fixture.model = fixture.makeModel(development));
    std::vector<bool> permissionChanges;
    model.onAccessibilityChange = [&](bool granted) { permissionChanges.push_back(granted); };
    model.start();

    const auto pairing = model.store().createPending();
    test::LoopbackPhone phone(*model.listeningPort(), pairing);
    ASSERT_TRUE(phone.connect("Pixel").is<MacMessage::Ready>());
    ASSERT_TRUE(fixture.main.runUntil([&] { return model.connectedDevice() == "Pixel"; }));
    ASSERT_EQ(model.pairings().size(), 1u);
    EXPECT_EQ(model.pairings()[0].name, "Pixel");

    auto buttons = ActionStore::defaults();
    buttons.resize(2);
    model.setActions(buttons);
    EXPECT_EQ(phone.receive(), MacMessage::actions(buttons));

    fixture.front = FrontApp {"com.microsoft.VSCode", "Code"};
    model.frontAppChanged();
    EXPECT_EQ(phone.receive(), MacMessage::context(AppShortcuts::context("com.microsoft.VSCode", "Code")));
    fixture.front = FrontApp {std::string(FrontApp::ownBundleID), "Ferlow"};
    model.frontAppChanged();
    phone.send(PhoneMessage::ping(1));
    EXPECT_EQ(phone.receive(), MacMessage::pong(1)); // and no context before it
    fixture.front = FrontApp {std::nullopt, "xterm"};
    model.frontAppChanged();
    EXPECT_EQ(phone.receive(), MacMessage::context(std::nullopt));

    fixture.permissions->trusted = false;
    fixture.prefs.naturalScroll = false;
    fixture.main.advance(60); // nobody polls what the desktop tells
    EXPECT_TRUE(model.accessibilityGranted());
    fixture.permissionChanged();
    fixture.prefsChanged();
    EXPECT_FALSE(model.accessibilityGranted());
    EXPECT_EQ(permissionChanges, std::vector<bool> {false});
    EXPECT_EQ(phone.receive(), MacMessage::accessibility(false));
    EXPECT_EQ(phone.receive(), MacMessage::prefs(fixture.prefs));
    fixture.prefsChanged(); // nothing changed since: nothing more is sent

    model.updateChanged(UpdateStatus::required("9.0"));
    EXPECT_EQ(phone.receive(), MacMessage::update(UpdateStatus::required("9.0")));

    model.remove(model.pairings()[0]);
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    ASSERT_TRUE(fixture.main.runUntil([&] { return !model.connectedDevice() && model.pairings().empty(); }));
    EXPECT_FALSE(model.store().lookup(pairing.id));
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

// The stop, the agreement and the restart are the process test's; here the
// timing: asked once however often the same document comes, and not again
// at the next start.
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
