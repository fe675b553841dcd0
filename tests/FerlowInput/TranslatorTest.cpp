#include "FerlowInput/Translator.h"

#include <limits>
#include <set>

#include <gtest/gtest.h>

#include "FerlowInput/SystemGestures.h"
#include "tests/Support/RecordingPoster.h"

namespace ferlow {
namespace {

using Events = std::vector<EventSpec>;

// One step of a scenario: at fake time `at`, translate `in` (or call
// expire() when absent) and expect exactly `out`.
struct Step {
    double at;
    std::optional<PhoneMessage> in;
    Events out;
};

EventSpec key(std::uint16_t code, std::uint64_t flags, bool down) { return EventSpec::key(code, flags, down); }
EventSpec mouse(std::int32_t type, Point at, std::int32_t button, std::int64_t clicks, Vector delta = {})
{
    return EventSpec::mouse(type, at, button, clicks, delta);
}

PhoneMessage scroll(double dy, std::optional<Phase> phase, MomentumPhase momentum = MomentumPhase::none)
{
    return PhoneMessage::scroll(0, dy, phase, momentum);
}

class TranslatorTest : public testing::Test {
protected:
    // Two displays side by side: 1000x800 and, to its right, 800x600.
    Translator make()
    {
        Translator t(
            pointer, [] { return DisplayLayout {{{{0, 0}, {1000, 800}}, {{1000, 0}, {800, 600}}}}; },
            [this] { return ++cursorReads, cursor; }, [this] { return now; }, Translator::DockSwipes::emulated);
        t.setActions([this] { return buttons; });
        return t;
    }

    void run(Translator& translator, const std::vector<Step>& steps)
    {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i) + (steps[i].in ? " " + steps[i].in->description() : " expire"));
            now = steps[i].at;
            EXPECT_EQ(steps[i].in ? translator.translate(*steps[i].in) : translator.expire(), steps[i].out);
        }
    }

    std::shared_ptr<PointerState> pointer = std::make_shared<PointerState>(Point {100, 100});
    Point cursor {100, 100};
    int cursorReads = 0;
    double now = 0;
    std::vector<ActionButton> buttons;
};

TEST_F(TranslatorTest, DragsFollowTheHeldButtonsAndOddIndexesAreIgnored)
{
    auto t = make();
    run(t, {
        {0.00, PhoneMessage::button(0, true, 1), {mouse(1, {100, 100}, 0, 1)}},
        {0.01, PhoneMessage::button(1, true, 0), {mouse(3, {100, 100}, 1, 1)}},
        // Both held: a left drag; deltas round half away from zero.
        {0.02, PhoneMessage::move(2.5, -2.5), {mouse(6, {102.5, 97.5}, 0, 0, {3, -3})}},
        {0.03, PhoneMessage::button(0, false, 2), {mouse(2, {102.5, 97.5}, 0, 2)}},
        {0.04, PhoneMessage::move(-0.5, 0.4), {mouse(7, {102, 97.9}, 1, 0, {-1, 0})}},
        {0.05, PhoneMessage::button(1, false, 1), {mouse(4, {102, 97.9}, 1, 1)}},
        {0.06, PhoneMessage::button(2, true, 1), {mouse(25, {102, 97.9}, 2, 1)}},
        {0.07, PhoneMessage::button(2, false, 1), {mouse(26, {102, 97.9}, 2, 1)}},
        {0.08, PhoneMessage::move(1, 1), {mouse(5, {103, 98.9}, 0, 0, {1, 1})}},
        {0.09, PhoneMessage::button(3, true, 1), {}},
        {0.10, PhoneMessage::button(-1, false, 1), {}},
    });
    EXPECT_TRUE(pointer->buttonsDown.empty());

    // A release after a pause (the watchdog's) is not held up by reading the pointer.
    run(t, {{0.2, PhoneMessage::button(0, true, 1), {mouse(1, {103, 98.9}, 0, 1)}}});
    const int reads = cursorReads;
    run(t, {{5.0, PhoneMessage::button(0, false, 1), {mouse(2, {103, 98.9}, 0, 1)}}});
    EXPECT_EQ(cursorReads, reads);
}

TEST_F(TranslatorTest, MovesStayOnTheDisplaysAndPickUpRealMouseMovesAfterAPause)
{
    auto t = make();
    pointer->position = cursor = {990, 10};
    run(t, {
        // Above the right display's top edge: slides along the left one.
        {0.0, PhoneMessage::move(20, -30), {mouse(5, {999, 0}, 0, 0, {20, -30})}},
        {0.1, PhoneMessage::move(30, 100), {mouse(5, {1029, 100}, 0, 0, {30, 100})}},
    });
    cursor = {500, 500}; // a real mouse moved
    run(t, {
        {0.2, PhoneMessage::move(1, 0), {mouse(5, {1030, 100}, 0, 0, {1, 0})}}, // not quiet long enough
        {0.46, PhoneMessage::move(1, 0), {mouse(5, {501, 500}, 0, 0, {1, 0})}},
    });
    cursor = {501.9, 501.4}; // within the desktop's rounding: kept
    run(t, {{1.0, PhoneMessage::move(0, 1), {mouse(5, {501, 501}, 0, 0, {0, 1})}}});
}

TEST_F(TranslatorTest, ScrollCarriesFractionsOnlyWithinOneGesture)
{
    auto t = make();
    const auto wheel = [](std::int32_t dy, std::int64_t phase, std::int64_t momentum = 0) {
        return EventSpec::scroll(0, dy, phase, momentum);
    };
    const auto gesture = [](double dy, std::int64_t phase) { return EventSpec::scrollGesture(0, dy, phase); };
    run(t, {
        {0, scroll(0.6, Phase::changed), {wheel(0, 2), gesture(0.6, 2)}},
        {0, scroll(0.6, Phase::changed), {wheel(1, 2), gesture(0.6, 2)}},
        {0, scroll(0, Phase::ended), {wheel(0, 4), gesture(0, 4)}},
        {0, scroll(0.9, Phase::changed), {wheel(0, 2), gesture(0.9, 2)}}, // 0.2 left over was dropped
        {0, scroll(-1.5, Phase::cancelled), {wheel(0, 8), gesture(-1.5, 8)}},
        {0, scroll(2.7, Phase::began), {wheel(2, 1), gesture(2.7, 1)}},
        {0, scroll(0.5, Phase::changed), {wheel(0, 2), gesture(0.5, 2)}}, // nothing carried from began
        {0, scroll(-0.2, Phase::ended), {wheel(0, 4), gesture(-0.2, 4)}},
        // Momentum has no phase and no gesture event.
        {0, scroll(0.6, std::nullopt, MomentumPhase::begin), {wheel(0, 0, 1)}},
        {0, scroll(0.6, std::nullopt, MomentumPhase::continue_), {wheel(0, 0, 2)}},
        {0, scroll(0.6, std::nullopt, MomentumPhase::continue_), {wheel(1, 0, 2)}},
        {0, scroll(0.9, std::nullopt, MomentumPhase::end), {wheel(1, 0, 3)}},
        {0, PhoneMessage::scroll(1e12, -1e12, std::nullopt, MomentumPhase::none),
            {EventSpec::scroll(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(), 0, 0)}},
    });
}

TEST_F(TranslatorTest, EmulatedDockSwipesPostTheShortcutOnlyWhenFinishedPastTheThreshold)
{
    auto t = make();
    const auto h = [](double p, Phase phase) { return PhoneMessage::dock(DockKind::horizontal, p, phase, 0); };
    const Events controlRight {key(59, 0x40000, true), key(124, 0xA40000, true), key(124, 0xA40000, false), key(59, 0, false)};
    const Events controlUp {key(59, 0x40000, true), key(126, 0xA40000, true), key(126, 0xA40000, false), key(59, 0, false)};
    run(t, {
        {0, h(0.1, Phase::began), {}},
        {0, h(0.15, Phase::changed), {}},
        {0, h(0.15, Phase::ended), controlRight},
        {0, h(0.1, Phase::began), {}},
        {0, h(0.149, Phase::ended), {}},
        {0, h(0.1, Phase::began), {}},
        {0, h(0.4, Phase::changed), {}},
        {0, h(0.3, Phase::ended), {}}, // moved back before lifting: cancelled
        {0, PhoneMessage::dock(DockKind::vertical, 0.5, Phase::began, 0), {}},
        {0, PhoneMessage::dock(DockKind::vertical, 0.5, Phase::ended, 0), controlUp},
        {0, PhoneMessage::dock(DockKind::pinch, 0.1, Phase::began, 0), {}},
        {0, PhoneMessage::dock(DockKind::pinch, 0.3, Phase::ended, 0), {key(103, 0x800000, true), key(103, 0x800000, false)}},
        {0, PhoneMessage::dock(DockKind::pinch, -0.2, Phase::began, 0), {}},
        {0, PhoneMessage::dock(DockKind::pinch, -0.5, Phase::ended, 0), {EventSpec::launch("com.apple.apps.launcher")}},
    });
}

TEST_F(TranslatorTest, ReleasesPostExactlyWhatTheirPressSetAside)
{
    buttons = {{"copy", "Copy", ActionKind::key(8, 0x100000), std::nullopt, false, "Edit"},
        {"play", "Play", ActionKind::media(MediaKey::playPause), std::nullopt, false, "Media"},
        {"right", "Right click", ActionKind::mouse(1), std::nullopt, false, "More"},
        {"mc", "Mission Control", ActionKind::gesture(SystemGesture::missionControl), std::nullopt, false, "Windows"}};
    auto t = make();
    const Events copyUp {key(8, 0x100000, false), key(55, 0, false)};
    run(t, {
        {0, PhoneMessage::action("copy", false), {}}, // never pressed
        {0, PhoneMessage::action("nothing", true), {}},
        {0, PhoneMessage::action("copy", true), {key(55, 0x100000, true), key(8, 0x100000, true)}},
        {0, PhoneMessage::action("copy", true), {key(55, 0x100000, true), key(8, 0x100000, true)}},
        {0, PhoneMessage::action("copy", false), copyUp},
        {0, PhoneMessage::action("copy", false), {}}, // pressed twice, released once
        {0, PhoneMessage::action("play", true), {EventSpec::media(16, true)}},
        {0, PhoneMessage::action("right", true), {mouse(3, {100, 100}, 1, 1)}},
        {0, PhoneMessage::action("mc", true), SystemGestures::specs(SystemGesture::missionControl)},
        {0, PhoneMessage::action("mc", false), {}},
        {0, PhoneMessage::action("copy", true), {key(55, 0x100000, true), key(8, 0x100000, true)}},
    });
    EXPECT_EQ(pointer->buttonsDown, std::set<std::int64_t> {1});
    buttons.clear(); // the list changed while the keys are held
    run(t, {
        {0, PhoneMessage::action("copy", false), copyUp},
        {0, PhoneMessage::action("play", false), {EventSpec::media(16, false)}},
        {0, PhoneMessage::action("right", false), {mouse(4, {100, 100}, 1, 1)}},
    });
    EXPECT_TRUE(pointer->buttonsDown.empty());
    EXPECT_EQ(t.heldActionCount(), 0u);
}

// Typing picks the application the switcher shows, like a click does.
TEST_F(TranslatorTest, TypingClosesTheSwitcherAndCarriesDeletionsAndTheKeyAfter)
{
    buttons = {{"s", "Switch", ActionKind::appSwitcher(), std::nullopt, false, "Windows"}};
    auto t = make();
    run(t, {
        {0, PhoneMessage::text(0, ""), {}},
        {0, PhoneMessage::action("s", true), {key(55, 0x100000, true), key(48, 0x100000, true), key(48, 0x100000, false)}},
        {0.5, PhoneMessage::text(2, "hé", TextKey::enter), {key(55, 0, false), EventSpec::text(2, "hé", 36)}},
        {0.6, PhoneMessage::text(0, "x", TextKey::tab), {EventSpec::text(0, "x", 48)}},
        {3, std::nullopt, {}},
    });
}

} // namespace
} // namespace ferlow
