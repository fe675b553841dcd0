#include "FerlowCore/UTF8.h"

#include <cstdint>

namespace ferlow {

namespace {

constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

} // namespace

std::string UTF8::decodeLossy(ByteView bytes)
{
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        std::size_t needed = 0;
        std::uint8_t lowest = 0x80;
        std::uint8_t highest = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            lowest = lead == 0xE0 ? 0xA0 : 0x80; // no overlong forms
            highest = lead == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            lowest = lead == 0xF0 ? 0x90 : 0x80;
            highest = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        } else {
            text += replacementCharacter;
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        std::size_t taken = 0;
        while (taken < needed && next < bytes.size()) {
            const std::uint8_t byte = bytes[next];
            const std::uint8_t low = taken == 0 ? lowest : std::uint8_t(0x80);
            const std::uint8_t high = taken == 0 ? highest : std::uint8_t(0xBF);
            if (byte < low || byte > high)
                break;
            ++taken;
            ++next;
        }
        if (taken == needed)
            text.append(asText(bytes.subspan(i, next - i)));
        else
            text += replacementCharacter; // the offending byte starts the next round
        i = next;
    }
    return text;
}

std::string UTF8::printable(std::string_view text)
{
    auto characters = codePoints(text);
    for (auto& c : characters)
        if (isControl(c))
            c = 0xFFFD;
    return encode(characters);
}

std::u32string UTF8::codePoints(std::string_view text)
{
    // Well-formed after decodeLossy, so every sequence is whole.
    const std::string valid = decodeLossy(asBytes(text));
    std::u32string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size();) {
        const auto lead = static_cast<std::uint8_t>(valid[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<std::uint8_t>(valid[i + k]) & 0x3Fu);
        out.push_back(c);
        i += length;
    }
    return out;
}

void UTF8::append(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string UTF8::encode(std::u32string_view codePoints)
{
    std::string out;
    out.reserve(codePoints.size());
    for (const char32_t c : codePoints)
        append(out, c);
    return out;
}

} // namespace ferlow
