// The pairing window's countdown and its switch to success, driven by the
// model's clock, and its QR code read back by an independent decoder.

#include <QLabel>
#include <gtest/gtest.h>

#include "Ferlow/PairingView.h"
#include "tests/Ferlow/TrayFixture.h"

namespace ferlow {
namespace {

using test::TrayFixture;

QString countdownOf(const PairingView& view)
{
    return view.findChild<QLabel*>(QStringLiteral("countdown"))->text();
}

TEST(PairingView, CountsDownTenMinutesThenExpires)
{
    TrayFixture fixture;
    const auto offer = fixture.model->addPhone();
    PairingView view(*fixture.model, fixture.main, QString::fromStdString(offer->url), {}, [] { });
    EXPECT_EQ(countdownOf(view), "Code works for 10:00");
    fixture.main.advance(1);
    EXPECT_EQ(countdownOf(view), "Code works for 9:59");
    fixture.main.advance(594);
    EXPECT_EQ(countdownOf(view), "Code works for 0:05");
    fixture.main.advance(4);
    EXPECT_EQ(countdownOf(view), "Code works for 0:01");
    EXPECT_EQ(view.state(), PairingView::State::waiting);
    fixture.main.advance(1);
    EXPECT_EQ(view.state(), PairingView::State::expired);
}

// The phone's first connection marks the pairing used; the refresh that
// follows shows success while the countdown still runs.
TEST(PairingView, ShowsThePhoneAsSoonAsItPairs)
{
    TrayFixture fixture;
    fixture.usedPairing("Older phone");
    const auto offer = fixture.model->addPhone();
    PairingView view(*fixture.model, fixture.main, QString::fromStdString(offer->url), {}, [] { });
    fixture.main.advance(30);
    EXPECT_EQ(view.state(), PairingView::State::waiting);
    fixture.model->store().markUsed(offer->pairing.id, "Pixel");
    fixture.model->refresh();
    EXPECT_EQ(view.state(), PairingView::State::paired);
    EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("pairedTitle"))->text(), "Paired with Pixel");
    fixture.main.advance(600); // the time it had left runs out: still paired
    EXPECT_EQ(view.state(), PairingView::State::paired);
}

} // namespace
} // namespace ferlow
