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
    const std::string decoded = decodeLossy(asBytes(text));
    std::string shown;
    shown.reserve(decoded.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(decoded[i]);
        const auto next = i + 1 < decoded.size() ? static_cast<std::uint8_t>(decoded[i + 1]) : 0;
        if (byte < 0x20 || byte == 0x7F) {
            shown += replacementCharacter;
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) { // U+0080 to U+009F
            shown += replacementCharacter;
            ++i;
        } else {
            shown.push_back(decoded[i]);
        }
    }
    return shown;
}

} // namespace ferlow
