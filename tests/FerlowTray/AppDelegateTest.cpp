// Which window the tray app opens at launch and when the permission or the
// terms change, on a real model.

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "tests/FerlowTray/TrayFixture.h"

namespace ferlow {
namespace {

using test::Tray;
using test::TrayFixture;

bool shown(const QWidget* window) { return window && window->isVisible(); }

TEST(AppDelegate, LaunchShowsTermsThenOnboardingThenPairing)
{
    struct Case {
        const char* name;
        bool termsAgreed, trusted, paired;
        bool terms, onboarding, pairing;
    };
    const Case cases[] {
        {"terms first", false, false, false, true, false, false},
        {"no permission: onboarding, not pairing", true, false, false, false, true, false},
        {"nothing paired", true, true, false, false, false, true},
        {"ready", true, true, true, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Tray tray({.trusted = c.trusted, .termsAgreed = c.termsAgreed});
        if (c.paired)
            tray.fixture.usedPairing("Pixel");
        tray.delegate.launch();
        EXPECT_EQ(shown(tray.delegate.termsWindow()), c.terms);
        EXPECT_EQ(shown(tray.delegate.onboardingWindow()), c.onboarding);
        EXPECT_EQ(shown(tray.delegate.pairingWindow()), c.pairing);
        ASSERT_TRUE(tray.fixture.serverSettled());
        EXPECT_EQ(tray.fixture.model->serverRunning(), !c.terms);
        EXPECT_EQ(tray.fixture.permissions->prompts, c.onboarding ? 1 : 0);
    }
}

// Where the desktop asks in its own dialog (the portal on Wayland), the start
// awaits its answer without the onboarding. A refusal opens the onboarding,
// which says so and asks again; a grant closes it, and the next refusal shows
// the same window again.
TEST(AppDelegate, TheDesktopsOwnAnswerIsAwaitedAndARefusalOffersToAskAgain)
{
    using Request = Permissions::Request;
    Tray tray({.trusted = false, .termsAgreed = true, .inputBackend = "the desktop\u2019s RemoteDesktop portal",
        .request = Request::pending, .desktopAsks = true});
    auto& permissions = *tray.fixture.permissions;
    const auto answer = [&](Request request) {
        permissions.trusted = request == Request::none;
        permissions.requested = request;
        tray.fixture.permissionChanged();
    };
    tray.delegate.launch();
    EXPECT_FALSE(shown(tray.delegate.onboardingWindow()));
    EXPECT_FALSE(shown(tray.delegate.pairingWindow()));
    EXPECT_EQ(permissions.prompts, 0);
    answer(Request::none);
    EXPECT_TRUE(shown(tray.delegate.pairingWindow()));

    answer(Request::refused);
    auto* onboarding = tray.delegate.onboardingWindow();
    ASSERT_TRUE(shown(onboarding));
    EXPECT_EQ(onboarding->findChild<QLabel*>(QStringLiteral("status"))->text(), "Not allowed");
    EXPECT_TRUE(onboarding->findChild<QLabel*>(QStringLiteral("requirement"))->text().contains("did not allow it"));
    auto* again = onboarding->findChild<QPushButton*>(QStringLiteral("tryAgain"));
    ASSERT_TRUE(again && again->isVisible());
    again->click();
    EXPECT_EQ(permissions.prompts, 1);
    EXPECT_FALSE(again->isVisible());
    answer(Request::none);
    EXPECT_FALSE(onboarding->isVisible());
    answer(Request::refused);
    EXPECT_EQ(tray.delegate.onboardingWindow(), onboarding);
    EXPECT_TRUE(onboarding->isVisible());
}

// Only agreeing or quitting ends the terms window; Return agrees, and newer
// terms bring it back while the server waits.
TEST(AppDelegate, TermsWindowClosesOnlyByAgreeingOrQuitting)
{
    Tray tray({.trusted = true, .termsAgreed = false});
    auto& model = *tray.fixture.model;
    tray.delegate.launch();
    auto* terms = tray.delegate.termsWindow();
    ASSERT_TRUE(shown(terms));
    EXPECT_FALSE(terms->close());
    QTest::keyClick(terms, Qt::Key_Escape);
    EXPECT_TRUE(terms->isVisible());
    EXPECT_FALSE(model.serverRunning());

    QTest::keyClick(terms, Qt::Key_Return);
    EXPECT_FALSE(terms->isVisible());
    EXPECT_EQ(tray.fixture.settings->get(AppModel::termsAcceptedKey), nlohmann::json(1));
    ASSERT_TRUE(tray.fixture.serverSettled());
    EXPECT_TRUE(model.serverRunning());
    EXPECT_TRUE(shown(tray.delegate.pairingWindow())); // the start goes on

    model.releaseSeen(test::newerTerms());
    EXPECT_TRUE(terms->isVisible());
    EXPECT_FALSE(model.serverRunning());
}

TEST(AppDelegate, EachAddAPhoneIsANewWindowForANewPairing)
{
    Tray tray;
    tray.fixture.usedPairing("Pixel");
    tray.delegate.launch();
    EXPECT_FALSE(tray.delegate.pairingWindow());
    tray.delegate.showPairing();
    const auto* first = tray.delegate.pairingWindow();
    tray.delegate.showPairing();
    const auto* second = tray.delegate.pairingWindow();
    EXPECT_NE(first, second);
    EXPECT_TRUE(shown(second));
    EXPECT_EQ(tray.fixture.model->store().all().size(), 3u); // Pixel and two pending codes

    QTest::keyClick(second->findChild<QPushButton*>(QStringLiteral("copyLink")), Qt::Key_Escape); // focus anywhere
    TrayFixture::settle();
    EXPECT_FALSE(tray.delegate.pairingWindow());

    tray.delegate.showActions();
    auto* actions = tray.delegate.actionsWindow();
    actions->close();
    tray.delegate.showActions();
    EXPECT_EQ(tray.delegate.actionsWindow(), actions);
}

// Return, Enter and Escape all keep Ferlow: only a click uninstalls. (Any
// later message is closed, so a wrong answer cannot hang the test.)
TEST(AppDelegate, UninstallIsNeverTheDefaultAnswer)
{
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        Tray tray;
        tray.delegate.launch();
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&, key, answered = false]() mutable {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                QTest::keyClick(box, std::exchange(answered, true) ? Qt::Key_Escape : key);
        });
        answer.start(20);
        tray.delegate.uninstall();
        ASSERT_TRUE(tray.fixture.serverSettled());
        EXPECT_TRUE(tray.fixture.model->serverRunning()) << key;
        EXPECT_EQ(tray.quits, 0) << key;
    }
}

// Without a tray the status view is an ordinary window from the start, and
// closing it quits rather than leaving Ferlow out of sight.
TEST(AppDelegate, WithoutATrayTheStatusIsAWindowThatQuitsOnClose)
{
    Tray tray({}, false);
    tray.fixture.usedPairing("Pixel");
    tray.delegate.launch();
    auto* status = tray.delegate.statusWindow();
    ASSERT_TRUE(shown(status));
    EXPECT_EQ(status->windowType(), Qt::Window);
    status->close();
    EXPECT_EQ(tray.quits, 1);
}

} // namespace
} // namespace ferlow
