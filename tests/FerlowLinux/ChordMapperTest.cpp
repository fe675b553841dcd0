#include "FerlowLinux/ChordMapper.h"

#include <algorithm>
#include <limits>
#include <random>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "FerlowInput/Translator.h"
#include "tests/FerlowLinux/ChordText.h"
#include "tests/Support/RecordingSink.h"

namespace ferlow {
namespace {

using Events = std::vector<LinuxEvent>;
using Specs = std::vector<EventSpec>;

constexpr std::uint64_t command = 0x100000, shift = 0x20000, control = 0x40000, option = 0x80000;
constexpr std::uint16_t commandKey = 55, shiftKey = 56, optionKey = 58, controlKey = 59;

LinuxEvent key(std::uint16_t code, bool down) { return LinuxEvent::key(code, down); }
EventSpec macKey(std::uint16_t code, std::uint64_t flags, bool down) { return EventSpec::key(code, flags, down); }
EventSpec magnify(std::int64_t phase, double amount) { return EventSpec::gesture(8, phase, amount, std::nullopt); }

class ChordMapperTest : public testing::Test {
protected:
    Events post(const Specs& specs)
    {
        mapper.post(specs);
        return sink->take();
    }

    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    ChordMapper mapper {KeyProfile(KeyProfile::Desktop::gnome), sink};
};

// Alt stays down from the first Tab over the picking click until Command goes up.
TEST_F(ChordMapperTest, SwitcherHoldsAltUntilCommandGoesUp)
{
    double now = 0;
    Translator translator(std::make_shared<PointerState>(Point {10, 10}), [] { return DisplayLayout {}; },
        [] { return Point {10, 10}; }, [&now] { return now; }, Translator::DockSwipes::emulated);
    translator.setActions([] { return std::vector<ActionButton> {{"s", "S", ActionKind::appSwitcher(), {}, false, {}}}; });
    auto run = [&](const PhoneMessage& message) { return post(translator.translate(message)); };

    EXPECT_EQ(run(PhoneMessage::action("s", true)),
        (Events {key(KEY_LEFTALT, true), key(KEY_TAB, true), key(KEY_TAB, false)}));
    now = 1;
    EXPECT_EQ(run(PhoneMessage::action("s", true)), (Events {key(KEY_TAB, true), key(KEY_TAB, false)}));
    EXPECT_EQ(run(PhoneMessage::button(0, true, 1)), (Events {LinuxEvent::button(LinuxEvent::Button::left, true)}));
    EXPECT_EQ(run(PhoneMessage::button(0, false, 1)),
        (Events {LinuxEvent::button(LinuxEvent::Button::left, false), key(KEY_LEFTALT, false)}));
}

TEST_F(ChordMapperTest, HeldCommandMakesAClickACtrlClickAndAChordStillAWholeChord)
{
    EXPECT_EQ(post({macKey(commandKey, command, true)}), Events {}) << "held back";
    EXPECT_EQ(post({EventSpec::mouse(1, {5, 5}, 0, 1, {}), EventSpec::mouse(2, {5, 5}, 0, 1, {})}),
        (Events {key(KEY_LEFTCTRL, true), LinuxEvent::button(LinuxEvent::Button::left, true),
            LinuxEvent::button(LinuxEvent::Button::left, false)}));
    EXPECT_EQ(post({macKey(8, command, true), macKey(8, command, false)}), (Events {key(KEY_C, true), key(KEY_C, false)}));
    EXPECT_EQ(post({macKey(commandKey, 0, false)}), (Events {key(KEY_LEFTCTRL, false)}));

    // Option-Left is a different chord, not Alt+Left.
    EXPECT_EQ(test::chords(post({macKey(optionKey, option, true), macKey(123, option | 0xA00000, true),
                  macKey(123, option | 0xA00000, false), macKey(optionKey, 0, false)})),
        "ctrl+left");
}

// In any order of presses and releases nothing stray is released or left down.
TEST_F(ChordMapperTest, NothingStaysHeldWhateverTheOrder)
{
    const std::uint16_t codes[] = {commandKey, 54, shiftKey, 60, optionKey, controlKey, 62, 63, 57, 0, 8, 3, 6,
        48, 49, 103, 123, 126, 13, 52, 200, 65535};
    const std::uint64_t flags[] = {0, command, control, option, shift, command | shift, command | control, 0xA00000};
    std::mt19937 random(7);
    auto pick = [&](auto& list) { return list[random() % std::size(list)]; };
    for (int round = 0; round < 2000; ++round) {
        Specs specs;
        for (int i = 0; i < 16; ++i) {
            const auto kind = random() % 4; // keys twice as often as buttons or media keys
            specs.push_back(kind < 2 ? macKey(pick(codes), pick(flags), random() % 2)
                    : kind == 2      ? EventSpec::mouse(std::int32_t(random() % 4 + 1), {1, 1}, 0, 1, {})
                                     : EventSpec::media(std::int32_t(random() % 20), random() % 2));
        }
        Specs ups;
        for (const auto code : codes)
            ups.push_back(macKey(code, 0, false));
        for (std::int32_t media = 0; media < 20; ++media)
            ups.push_back(EventSpec::media(media, false));
        ups.push_back(EventSpec::mouse(2, {1, 1}, 0, 1, {}));
        ups.push_back(EventSpec::mouse(4, {1, 1}, 1, 1, {}));
        std::shuffle(ups.begin(), ups.end(), random);
        mapper.post(specs);
        mapper.post(ups);
        const auto text = test::chords(sink->take());
        ASSERT_TRUE(text.find("held:") == text.npos && text.find("stray:") == text.npos && text.find("again:") == text.npos) << text;
    }
}

// Scrolls and magnification become wheel units with their remainder carried;
// what has no Linux counterpart, or is no valid event, is dropped or saturated.
TEST_F(ChordMapperTest, SpecsBecomeWheelUnitsOrAreDroppedOrSaturated)
{
    using W = LinuxEvent;
    constexpr auto max = std::numeric_limits<std::int32_t>::max(), min = std::numeric_limits<std::int32_t>::min();
    const int most = ChordMapper::maxDetentsPerSpec * 120;
    using enum LinuxEvent::Scrolling;
    const std::pair<Specs, Events> cases[] = {
        // 50 px is one detent; positive dx scrolls left.
        {{EventSpec::scroll(0, 50, 2, 0)}, {W::wheel(120, 0)}},
        {{EventSpec::scroll(50, 0, 0, 2)}, {W::wheel(0, -120)}},
        // 2.4 units a pixel: the fractions add up instead of being lost.
        {{EventSpec::scroll(0, 1, 2, 0), EventSpec::scroll(0, 1, 2, 0), EventSpec::scroll(0, 1, 2, 0)},
            {W::wheel(2, 0), W::wheel(2, 0), W::wheel(3, 0)}},
        {{EventSpec::scroll(min, max, 0, 0)}, {W::wheel(most, most)}},
        // The fingers' phase and the momentum after it each end their series,
        // even when the last step moves nothing.
        {{EventSpec::scroll(0, 50, 1, 0), EventSpec::scroll(0, 0, 4, 0), EventSpec::scroll(0, 25, 0, 1),
             EventSpec::scroll(0, 25, 0, 3), EventSpec::scroll(0, 0, 8, 0)},
            {W::wheel(120, 0), W::wheel(0, 0, finish), W::wheel(60, 0), W::wheel(60, 0, finish), W::wheel(0, 0, finish)}},
        // One detent per 0.15, the rest carried within the pinch only.
        {{magnify(1, 0.1), magnify(2, 0.1), magnify(2, -0.3), magnify(4, 0.0), magnify(1, 0.1)},
            {key(KEY_LEFTCTRL, true), W::wheel(120, 0, detents), key(KEY_LEFTCTRL, false), key(KEY_LEFTCTRL, true),
                W::wheel(-120, 0, detents), key(KEY_LEFTCTRL, false)}},
        {{magnify(2, std::numeric_limits<double>::infinity()), magnify(2, std::nan(""))}, {}},
        // No Linux counterpart.
        {{EventSpec::gesture(5, 2, std::nullopt, 30.0), EventSpec::gesture(22, std::nullopt, std::nullopt, std::nullopt),
             EventSpec::scrollGesture(0, 10, 2), EventSpec::dock(1, 0.5, 2, std::nullopt), EventSpec::launch("org.example.App")},
            {}},
        // A key no PC key stands for: neither it nor its modifier is sent.
        {{macKey(commandKey, command, true), macKey(52, command, true), macKey(52, command, false), macKey(commandKey, 0, false)}, {}},
        {{EventSpec::mouse(5, {std::nan(""), 3}, 0, 0, {1, 1})}, {}},
        {{EventSpec::mouse(5, {1e12, -1e12}, 0, 0, {1e300, -std::numeric_limits<double>::infinity()})}, {W::motion(max, min, max, min)}},
        {{EventSpec::mouse(9, {1, 1}, 0, 1, {}), EventSpec::mouse(25, {1, 1}, 7, 1, {})}, {}},
        {{EventSpec::media(99, true), EventSpec::media(99, false)}, {}},
        {{EventSpec::launch("com.apple.apps.launcher")}, {key(KEY_LEFTMETA, true), key(KEY_A, true), key(KEY_A, false), key(KEY_LEFTMETA, false)}},
    };
    for (const auto& [specs, events] : cases)
        EXPECT_EQ(post(specs), events) << specs.front().description();
}

// A key goes up as it went down, even if the front app changed in between.
TEST_F(ChordMapperTest, AKeyIsReleasedAsItWasPressedWhateverAppIsInFrontNow)
{
    mapper.setFrontApp("com.apple.Terminal");
    auto events = post({macKey(commandKey, command, true), macKey(8, command, true)});
    mapper.setFrontApp("org.mozilla.firefox");
    const auto released = post({macKey(8, command, false), macKey(commandKey, 0, false)});
    events.insert(events.end(), released.begin(), released.end());
    EXPECT_EQ(test::chords(events), "ctrl+shift+c");
}

// Typed keys are plain keys in every app, and a held Command adds nothing.
TEST_F(ChordMapperTest, TextIsBackspacesCharactersAndTheKeyAfterInAnyApplication)
{
    mapper.setFrontApp("com.apple.mail");
    EXPECT_EQ(post({macKey(commandKey, command, true), EventSpec::text(2, "hé", 36), EventSpec::text(0, "", 48),
                  macKey(commandKey, 0, false)}),
        (Events {key(KEY_BACKSPACE, true), key(KEY_BACKSPACE, false), key(KEY_BACKSPACE, true), key(KEY_BACKSPACE, false),
            LinuxEvent::text("hé"), key(KEY_ENTER, true), key(KEY_ENTER, false), key(KEY_TAB, true), key(KEY_TAB, false)}));
}

} // namespace
} // namespace ferlow
