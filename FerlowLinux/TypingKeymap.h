#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ferlow {

// Which key of a keyboard layout types each character, and with which
// modifiers: what both keyboard backends type text with. Keycodes and
// modifier masks are the layout's own (X keycodes and X modifier bits, or
// xkbcommon's); the table only compares them.
class TypingKeymap final {
public:
    // One way to reach a keysym: a key and the modifiers that select the
    // level it sits on.
    struct KeyLevel {
        std::uint32_t keycode = 0;
        std::uint32_t modifiers = 0;
        std::uint32_t keysym = 0;
    };
    struct Stroke {
        std::uint32_t keycode = 0;
        std::uint32_t modifiers = 0;
        bool operator==(const Stroke&) const = default;
    };

    TypingKeymap() = default;
    // Levels that need a modifier outside `pressable` are left out, and so
    // are keypad keys, whose digits depend on Num Lock. Of several ways to
    // type a character, the one with the fewest modifiers wins, then the
    // one listed first.
    TypingKeymap(std::span<const KeyLevel> levels, std::uint32_t pressable);

    std::optional<Stroke> find(char32_t character) const;
    bool empty() const { return m_strokes.empty(); }

    // The keysym that stands for `character` (0 for none), and the
    // character a keysym types (0 for none, and for control characters).
    static std::uint32_t keysymFor(char32_t character);
    static char32_t characterOf(std::uint32_t keysym);
    // `characters` as UTF-8, each once, in order: what to tell of
    // characters that could not be typed.
    static std::string distinct(std::u32string_view characters);

private:
    std::unordered_map<char32_t, Stroke> m_strokes;
};

} // namespace ferlow
