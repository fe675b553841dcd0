#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// RFC 4648 base64url without padding: nonces, pairing ids and secrets in text.
struct Base64URL {
    static std::string encode(ByteView bytes);
    // Absent for "=" (padded text is refused), for any other character
    // outside the Base64 alphabets, and for an impossible length. Like the
    // peer's reference decoder, "+" and "/" are read as "-" and "_".
    static std::optional<Bytes> decode(std::string_view text);
};

// Standard RFC 4648 Base64 with "=" padding and no line breaks (the pairing
// file's secrets, the WebSocket accept value).
struct Base64 {
    static std::string encode(ByteView bytes);
    // Strict: a multiple of four characters from the standard alphabet with
    // at most two "=" at the end; anything else is absent.
    static std::optional<Bytes> decode(std::string_view text);
};

} // namespace ferlow
