#pragma once

#include <string>
#include <string_view>

namespace ferlow {

// Code points of UTF-8 text. A byte sequence that is not well-formed UTF-8
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF)
// becomes U+FFFD, one per offending byte, so a caller never loses its place.
std::u32string decodeUTF8(std::string_view text);

void appendUTF8(std::string& out, char32_t codePoint);
std::string encodeUTF8(std::u32string_view codePoints);

// Unicode's control characters (general category Cc): C0, DEL and C1.
constexpr bool isControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

} // namespace ferlow
