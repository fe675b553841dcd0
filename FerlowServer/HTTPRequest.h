#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "FerlowCore/Bytes.h"
#include "FerlowServer/HTTPError.h"

namespace ferlow {

// One parsed HTTP/1.x request head. The server never reads bodies.
struct HTTPRequest {
    // The longest head accepted, not counting its terminating blank line.
    static constexpr std::size_t maxHead = 16384;

    std::string method; // as sent, case kept
    std::string path;   // the request target as sent; always begins with "/"
    // Names lower-cased and trimmed; values trimmed. A repeated name keeps the last value.
    std::map<std::string, std::string, std::less<>> headers;

    // Looks for a complete head at the start of `buffer`. Returns nothing and
    // leaves `buffer` untouched while more bytes are needed; on success removes
    // the head and its blank line, so `buffer` keeps only what followed it.
    // Throws HTTPError for an oversized or malformed head.
    static std::optional<HTTPRequest> parse(Bytes& buffer);

    // The same for a buffer that grows by appending between calls: `searched`
    // (0 for a new buffer) remembers how far the blank line has been looked
    // for, so a head that trickles in a byte at a time costs linear time, not
    // quadratic. Reset it to 0 whenever the buffer is replaced.
    static std::optional<HTTPRequest> parse(Bytes& buffer, std::size_t& searched);

    // The value of a header, by lower-case name.
    std::optional<std::string_view> header(std::string_view name) const;

    bool operator==(const HTTPRequest&) const = default;
};

} // namespace ferlow
