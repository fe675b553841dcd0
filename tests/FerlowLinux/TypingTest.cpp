#include "FerlowLinux/KeyboardLayout.h"
#include "FerlowLinux/TypingKeymap.h"

#include <algorithm>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using Stroke = TypingKeymap::Stroke;
constexpr std::uint32_t shift = 1u << 0, control = 1u << 2, mod5 = 1u << 7;

// A keymap as a server reports it: levels of keys, with the modifiers that
// select each. Which key and level types each character follows from it.
TEST(TypingKeymap, EachCharacterGoesToItsKeyWithTheFewestPressableModifiers)
{
    const TypingKeymap::KeyLevel levels[] = {
        {87, 0, XKB_KEY_KP_1},                 // keypad first: still not used for "1"
        {10, 0, XKB_KEY_1}, {10, shift, XKB_KEY_exclam},
        {38, 0, XKB_KEY_a}, {38, shift, XKB_KEY_A},
        {24, shift | mod5, XKB_KEY_at},        // two modifiers ...
        {11, mod5, XKB_KEY_at},                // ... lose to one, listed later
        {12, shift, XKB_KEY_numbersign}, {13, mod5, XKB_KEY_numbersign}, // a tie: the first listed
        {14, control, XKB_KEY_section},        // Control cannot be pressed for typing
        {34, 0, XKB_KEY_dead_acute},           // types nothing by itself
        {22, 0, XKB_KEY_BackSpace},            // a control character, not text
        {47, 0, XKB_KEY_odiaeresis},
        {48, 0, TypingKeymap::keysymFor(U'日')},
    };
    const TypingKeymap keymap(levels, shift | mod5);
    const std::pair<char32_t, std::optional<Stroke>> cases[] = {
        {U'1', Stroke {10, 0}}, {U'!', Stroke {10, shift}}, {U'a', Stroke {38, 0}}, {U'A', Stroke {38, shift}},
        {U'@', Stroke {11, mod5}}, {U'#', Stroke {12, shift}}, {U'§', std::nullopt}, {U'´', std::nullopt},
        {U'\b', std::nullopt}, {U'ö', Stroke {47, 0}}, {U'日', Stroke {48, 0}}, {U'本', std::nullopt},
    };
    for (const auto& [character, stroke] : cases)
        EXPECT_EQ(keymap.find(character), stroke) << std::uint32_t(character);
    // Legacy keysyms (the em dash's is 0xaa9) and Unicode ones both read back.
    for (const char32_t character : {U'—', U'日'})
        EXPECT_EQ(TypingKeymap::characterOf(TypingKeymap::keysymFor(character)), character);
    EXPECT_EQ(TypingKeymap::distinct(U"日本日✓本"), "日本✓");
}

KeyboardLayout::Names layout(const char* name) { return {"", "pc105", name, "", ""}; }

// The positions of characters on common layouts, as xkbcommon compiles
// them from the system's XKB data.
TEST(KeyboardLayout, CharactersFindTheirKeysOnUsGermanAndFrenchLayouts)
{
    using Keys = std::vector<std::uint16_t>;
    struct Case {
        const char* layout;
        char32_t character;
        std::optional<KeyboardLayout::Stroke> stroke;
    };
    const Case cases[] = {
        {"us", U'A', {{KEY_A, Keys {KEY_LEFTSHIFT}}}}, {"us", U'@', {{KEY_2, Keys {KEY_LEFTSHIFT}}}}, {"us", U'ö', std::nullopt},
        {"de", U'z', {{KEY_Y, {}}}}, {"de", U'ö', {{KEY_SEMICOLON, {}}}}, {"de", U'@', {{KEY_Q, Keys {KEY_RIGHTALT}}}},
        {"de", U'€', {{KEY_E, Keys {KEY_RIGHTALT}}}}, {"de", U'>', {{KEY_102ND, Keys {KEY_LEFTSHIFT}}}},
        {"fr", U'a', {{KEY_Q, {}}}}, {"fr", U'1', {{KEY_1, Keys {KEY_LEFTSHIFT}}}}, {"fr", U'é', {{KEY_2, {}}}},
        {"fr", U'@', {{KEY_0, Keys {KEY_RIGHTALT}}}},
    };
    for (const auto& [name, character, stroke] : cases) {
        const auto compiled = KeyboardLayout::compile(layout(name));
        ASSERT_TRUE(compiled) << name;
        EXPECT_EQ(compiled->find(character), stroke) << name << " " << std::uint32_t(character);
    }
    // The device must offer the keys typing needs beyond the usual ones.
    EXPECT_TRUE(std::ranges::includes(KeyboardLayout::compile(layout("de"))->keys(), Keys {KEY_102ND, KEY_RIGHTALT}));
    EXPECT_EQ(KeyboardLayout::compile({"", "", "fr,us", "", ""})->name(), "fr");
    std::string why;
    EXPECT_FALSE(KeyboardLayout::compile(layout("no-such-layout"), &why));
    EXPECT_EQ(why, "cannot compile the keyboard layout “no-such-layout”");

    // XKB's own variables say what the layout is before the system is asked.
    test::Environment environment;
    environment.set("XKB_DEFAULT_LAYOUT", "de");
    environment.set("XKB_DEFAULT_VARIANT", "nodeadkeys");
    EXPECT_EQ(KeyboardLayout::systemNames(), (KeyboardLayout::Names {"", "", "de", "nodeadkeys", ""}));
}

} // namespace
} // namespace ferlow
