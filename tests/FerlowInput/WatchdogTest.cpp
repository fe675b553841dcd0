#include "FerlowInput/Watchdog.h"

#include <gtest/gtest.h>

#include "tests/Support/RecordingPoster.h"

namespace ferlow {
namespace {

using Messages = std::vector<PhoneMessage>;

class WatchdogTest : public testing::Test {
protected:
    Watchdog watchdog {0.5, [this] { return now; }};
    double now = 10;

    void observe(const Messages& messages)
    {
        for (const auto& message : messages)
            watchdog.observe(message);
    }
};

TEST_F(WatchdogTest, ClosesOnlyWhatIsOpenInAFixedOrder)
{
    struct Case {
        const char* what;
        Messages in;
        Messages closing;
    };
    const auto scroll = [](std::optional<Phase> phase, MomentumPhase momentum) {
        return PhoneMessage::scroll(1, 2, phase, momentum);
    };
    const Case cases[] = {
        {"scroll in progress",
            {scroll(Phase::began, MomentumPhase::none), scroll(Phase::changed, MomentumPhase::none)},
            {PhoneMessage::scroll(0, 0, Phase::ended, MomentumPhase::none)}},
        {"momentum after the scroll ended",
            {scroll(Phase::ended, MomentumPhase::none), scroll(std::nullopt, MomentumPhase::begin),
                scroll(std::nullopt, MomentumPhase::continue_)},
            {PhoneMessage::scroll(0, 0, std::nullopt, MomentumPhase::end)}},
        {"closed gestures stay closed",
            {PhoneMessage::pinch(1, Phase::ended), PhoneMessage::dock(DockKind::vertical, 0.2, Phase::cancelled, 1),
                PhoneMessage::button(1, false, 1), PhoneMessage::action("x", false)},
            {}},
        {"buttons in press order",
            {PhoneMessage::button(0, true, 1), PhoneMessage::button(2, true, 1), PhoneMessage::button(0, false, 1),
                PhoneMessage::button(0, true, 2)},
            {PhoneMessage::button(2, false, 1), PhoneMessage::button(0, false, 1)}},
        {"everything at once",
            {PhoneMessage::action("copy", true), PhoneMessage::button(1, true, 1),
                PhoneMessage::dock(DockKind::pinch, 0.4, Phase::changed, 0), PhoneMessage::rotate(5, Phase::began),
                PhoneMessage::pinch(0.1, Phase::changed), scroll(std::nullopt, MomentumPhase::continue_),
                scroll(Phase::began, MomentumPhase::none)},
            {PhoneMessage::scroll(0, 0, Phase::ended, MomentumPhase::none),
                PhoneMessage::scroll(0, 0, std::nullopt, MomentumPhase::end), PhoneMessage::pinch(0, Phase::ended),
                PhoneMessage::rotate(0, Phase::ended), PhoneMessage::dock(DockKind::pinch, 0.4, Phase::cancelled, 0),
                PhoneMessage::button(1, false, 1), PhoneMessage::action("copy", false)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        observe(c.in);
        EXPECT_EQ(watchdog.finishAll(), c.closing);
        EXPECT_EQ(watchdog.finishAll(), Messages {});
    }
}

TEST_F(WatchdogTest, ExpiresOnlyAfterMoreThanTheTimeoutOfSilence)
{
    observe({PhoneMessage::button(0, true, 1)});
    now = 10.4;
    observe({PhoneMessage::move(1, 1)}); // any message counts as a sign of life
    now = 10.9;
    EXPECT_TRUE(watchdog.expired().empty());
    now = 10.9001;
    EXPECT_EQ(watchdog.expired(), Messages {PhoneMessage::button(0, false, 1)});
    EXPECT_TRUE(watchdog.expired().empty());
}

TEST_F(WatchdogTest, ForgetsTheOldestPressesBeyondItsBound)
{
    observe({PhoneMessage::action("real", true)});
    for (int i = 0; i < 200; ++i)
        observe({PhoneMessage::action("made-up-" + std::to_string(i), true), PhoneMessage::button(i + 3, true, 1)});
    EXPECT_EQ(watchdog.heldActions().size(), Watchdog::maxOpenPresses);
    EXPECT_EQ(watchdog.held().size(), Watchdog::maxOpenPresses);
    EXPECT_EQ(watchdog.heldActions().back(), "made-up-199");
}

} // namespace
} // namespace ferlow
