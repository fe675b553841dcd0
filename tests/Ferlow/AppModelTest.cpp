// The app model on a hand-run main context with a fake clock, a real I/O
// thread, a real server on loopback and a phone speaking the real protocol.
// Fakes stand only at the platform seam.

#include <atomic>

#include <gtest/gtest.h>

#include "Ferlow/AppModel.h"
#include "FerlowHost/MemorySettingsStore.h"
#include "FerlowInput/AppShortcuts.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Ferlow/ManualMainContext.h"
#include "tests/Support/RecordingPoster.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::LoopbackPhone;
using test::ManualMainContext;

struct FakePermissions final : Permissions {
    bool isTrusted() const override { return trusted; }
    void prompt() override { }
    void openSettings() override { }
    std::atomic<bool> trusted {true};
};

// The desktop as the model sees it, every part under the test's control.
struct FakeDesktop {
    FakeDesktop()
    {
        test::writeFile(folder.path() / "pad" / "index.html", "<p>pad</p>");
        settings->set(AppModel::portKey, test::freePort());
    }

    Platform platform()
    {
        Platform p;
        p.settings = settings;
        p.permissions = permissions;
        p.makePoster = [this] { return poster; };
        p.inputBackend = "test";
        p.frontApp = [this] { return front; };
        p.setLoginItem = [this](bool on) { return loginItem = on, true; };
        p.loginItemEnabled = [this] { return loginItem; };
        p.trackpadPrefs = [this] { return prefs; };
        p.supportDirectory = support;
        p.padDirectory = folder.path() / "pad";
        p.localHostName = "desk";
        return p;
    }

    test::TemporaryDirectory folder;
    std::filesystem::path support = folder.path() / "data";
    std::shared_ptr<MemorySettingsStore> settings = std::make_shared<MemorySettingsStore>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::optional<FrontApp> front;
    bool loginItem = false;
    TrackpadPrefs prefs = TrackpadPrefs::builtIn(true);
};

// A development run serving the test's pad.
AppEnvironment developmentRun(const FakeDesktop& desktop)
{
    AppEnvironment environment;
    environment.padDir = desktop.folder.path() / "pad";
    return environment;
}

// The release document a fake website serves, and how often it was asked.
struct FakeWebsite {
    UpdateChecker::Fetch fetch()
    {
        return [this](const std::string&, UpdateChecker::Completion done) {
            ++requests;
            done(document.empty() ? std::nullopt : std::optional<Bytes>(Bytes(document.begin(), document.end())));
        };
    }
    std::string document;
    int requests = 0;
};

TEST(AppModel, PortComesFromTheSettingsWhenItIsAPortNumber)
{
    const std::vector<std::pair<std::optional<nlohmann::json>, std::uint16_t>> cases {
        {std::nullopt, 7311}, {0, 7311}, {70000, 7311}, {-1, 7311}, {"8080", 7311}, {8080.5, 7311}, {8080, 8080},
    };
    ManualMainContext main;
    IOQueue io;
    for (const auto& [stored, port] : cases) {
        FakeDesktop desktop;
        if (stored)
            desktop.settings->set(AppModel::portKey, *stored);
        else
            desktop.settings->remove(AppModel::portKey);
        AppModel model(main, io, desktop.platform(), {});
        EXPECT_EQ(model.port(), port) << (stored ? stored->dump() : "absent");
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
    ManualMainContext main;
    IOQueue io;
    for (const auto& c : cases) {
        FakeDesktop desktop;
        AppEnvironment environment;
        if (c.padDir)
            environment.padDir = desktop.folder.path() / "pad";
        environment.testTerms = c.testTerms;
        FakeWebsite website;
        AppModel model(main, io, desktop.platform(), environment,
            {.version = "1.0", .fetch = website.fetch(), .offerOpenAtLogin = c.offerOpenAtLogin});
        model.start();
        main.runPending();
        EXPECT_EQ(model.termsNeeded(), c.termsNeeded);
        EXPECT_EQ(model.serverRunning(), !c.termsNeeded);
        EXPECT_EQ(desktop.loginItem, c.loginItem);
        model.stop();
    }
}

// Everything the phone must learn reaches it: buttons (even when they could
// not be saved), the front application (but not Ferlow's own windows), the
// permission and the desktop's settings from the one-second poll, the update
// status, and finally its own removal.
TEST(AppModel, APhoneLearnsEveryChange)
{
    ManualMainContext main;
    IOQueue io;
    FakeDesktop desktop;
    desktop.support = desktop.folder.path() / "not-a-folder";
    test::writeFile(desktop.support, "a file where the data folder should be");
    AppModel model(main, io, desktop.platform(), developmentRun(desktop));
    std::vector<bool> permissionChanges;
    model.onAccessibilityChange = [&](bool granted) { permissionChanges.push_back(granted); };
    model.start();

    const auto pairing = model.store().createPending();
    LoopbackPhone phone(*model.listeningPort(), pairing);
    ASSERT_TRUE(phone.connect("Pixel").is<MacMessage::Ready>());
    ASSERT_TRUE(main.runUntil([&] { return model.connectedDevice() == "Pixel"; }));
    ASSERT_EQ(model.pairings().size(), 1u);
    EXPECT_EQ(model.pairings()[0].name, "Pixel");

    auto buttons = ActionStore::defaults();
    buttons.resize(2);
    model.setActions(buttons);
    EXPECT_EQ(model.actions(), buttons);
    EXPECT_EQ(phone.receive(), MacMessage::actions(buttons));

    desktop.front = FrontApp {"com.microsoft.VSCode", "Code"};
    model.frontAppChanged();
    EXPECT_EQ(phone.receive(), MacMessage::context(AppShortcuts::context("com.microsoft.VSCode", "Code")));
    desktop.front = FrontApp {std::string(FrontApp::ownBundleID), "Ferlow"};
    model.frontAppChanged();
    phone.send(PhoneMessage::ping(1));
    EXPECT_EQ(phone.receive(), MacMessage::pong(1)); // and no context before it
    desktop.front = FrontApp {std::nullopt, "xterm"};
    model.frontAppChanged();
    EXPECT_EQ(phone.receive(), MacMessage::context(std::nullopt));

    desktop.permissions->trusted = false;
    desktop.prefs.naturalScroll = false;
    main.advance(0.999);
    EXPECT_TRUE(model.accessibilityGranted());
    main.advance(0.001);
    EXPECT_FALSE(model.accessibilityGranted());
    EXPECT_EQ(permissionChanges, std::vector<bool> {false});
    EXPECT_EQ(phone.receive(), MacMessage::accessibility(false));
    EXPECT_EQ(phone.receive(), MacMessage::prefs(desktop.prefs));
    main.advance(5); // nothing changed since: nothing more is sent

    model.updateChanged(UpdateStatus::required("9.0"));
    EXPECT_EQ(model.updateStatus(), UpdateStatus::required("9.0"));
    EXPECT_EQ(phone.receive(), MacMessage::update(UpdateStatus::required("9.0")));

    model.remove(model.pairings()[0]);
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    ASSERT_TRUE(main.runUntil([&] { return !model.connectedDevice() && model.pairings().empty(); }));
    EXPECT_FALSE(model.store().lookup(pairing.id));
}

// The stop, the agreement and the restart are the process test's; here the
// timing: asked once however often the same document comes, and not again
// at the next start.
TEST(AppModel, NewerTermsAreAskedForOnceAndRememberedOnceAgreed)
{
    ManualMainContext main;
    IOQueue io;
    FakeDesktop desktop;
    desktop.settings->set(AppModel::termsAcceptedKey, 1);
    FakeWebsite website {R"({"latest":"1.0","minimum":"1.0","terms":2})"};
    AppModel model(main, io, desktop.platform(), {}, {.version = "1.0", .fetch = website.fetch()});
    int asked = 0;
    model.onTermsNeeded = [&] { ++asked; };
    model.start();
    main.advance(AppModel::updateInterval);
    EXPECT_EQ(website.requests, 2);
    EXPECT_EQ(asked, 1);

    model.agreeToTerms();
    model.stop();
    EXPECT_FALSE(AppModel(main, io, desktop.platform(), {}, {.version = "1.0", .fetch = website.fetch()}).termsNeeded());
}

} // namespace
} // namespace ferlow
