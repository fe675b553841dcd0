#include "FerlowLinux/TypingKeymap.h"

#include <bit>

#include <xkbcommon/xkbcommon.h>

#include "FerlowCore/UTF8.h"

namespace ferlow {

namespace {

bool isKeypad(std::uint32_t keysym) { return keysym >= XKB_KEY_KP_Space && keysym <= XKB_KEY_KP_Equal; }

} // namespace

TypingKeymap::TypingKeymap(std::span<const KeyLevel> levels, std::uint32_t pressable)
{
    for (const auto& level : levels) {
        if ((level.modifiers & ~pressable) != 0 || isKeypad(level.keysym))
            continue;
        const char32_t character = characterOf(level.keysym);
        if (character == 0)
            continue;
        const Stroke stroke {level.keycode, level.modifiers};
        const auto [found, added] = m_strokes.emplace(character, stroke);
        if (!added && std::popcount(stroke.modifiers) < std::popcount(found->second.modifiers))
            found->second = stroke;
    }
}

std::optional<TypingKeymap::Stroke> TypingKeymap::find(char32_t character) const
{
    const auto found = m_strokes.find(character);
    if (found == m_strokes.end())
        return std::nullopt;
    return found->second;
}

std::uint32_t TypingKeymap::keysymFor(char32_t character) { return xkb_utf32_to_keysym(character); }

char32_t TypingKeymap::characterOf(std::uint32_t keysym)
{
    const char32_t character = xkb_keysym_to_utf32(keysym);
    return UTF8::isControl(character) ? 0 : character;
}

std::string TypingKeymap::distinct(std::u32string_view characters)
{
    std::u32string seen;
    for (const char32_t c : characters)
        if (seen.find(c) == std::u32string::npos)
            seen.push_back(c);
    return UTF8::encode(seen);
}

} // namespace ferlow
