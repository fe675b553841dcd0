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
};

} // namespace ferlow
