#include "FerlowCore/UTF8.h"

namespace ferlow {

namespace {

constexpr char32_t replacement = 0xFFFD;

} // namespace

std::u32string decodeUTF8(std::string_view text)
{
    std::u32string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t c = 0, lowest = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1Fu, lowest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0Fu, lowest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07u, lowest = 0x10000;
        } else {
            out.push_back(replacement);
            ++i;
            continue;
        }
        std::size_t read = 1;
        for (; read < length && i + read < text.size(); ++read) {
            const auto next = static_cast<unsigned char>(text[i + read]);
            if ((next & 0xC0) != 0x80)
                break;
            c = (c << 6) | (next & 0x3Fu);
        }
        if (read < length || c < lowest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(replacement);
            ++i;
            continue;
        }
        out.push_back(c);
        i += length;
    }
    return out;
}

void appendUTF8(std::string& out, char32_t c)
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = replacement;
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

std::string encodeUTF8(std::u32string_view codePoints)
{
    std::string out;
    out.reserve(codePoints.size());
    for (const char32_t c : codePoints)
        appendUTF8(out, c);
    return out;
}

} // namespace ferlow
