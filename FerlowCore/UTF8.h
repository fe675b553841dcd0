#pragma once

#include <string>
#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow {

struct UTF8 {
    // `bytes` as UTF-8 text, each maximal invalid subsequence replaced with
    // U+FFFD (the Unicode Standard's recommended practice, also the WHATWG
    // decoder's).
    static std::string decodeLossy(ByteView bytes);

    // `text` as it may be written to a terminal: decoded as above, and every
    // control character (C0, DEL, C1), which a terminal would obey rather
    // than show, replaced with U+FFFD.
    static std::string printable(std::string_view text);

    // The code points of `text`, decoded as decodeLossy does.
    static std::u32string codePoints(std::string_view text);
    // Appends `c` as UTF-8; a surrogate or a value above U+10FFFF becomes
    // U+FFFD.
    static void append(std::string& out, char32_t c);
    static std::string encode(std::u32string_view codePoints);

    // Unicode's control characters (general category Cc): C0, DEL and C1.
    static constexpr bool isControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }
};

} // namespace ferlow
