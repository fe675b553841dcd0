#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// Whether the body goes out with the head: HEAD answers carry the head only,
// with the Content-Length the GET would have had.
enum class BodyMode { include, omit };

// One complete answer to a plain (non-upgrade) request.
struct FileResponse {
    int status = 200;
    std::string contentType;
    Bytes body;
    std::optional<std::string> contentRange; // only for 206 and 416

    // The reason phrase for the seven codes this server sends, "Error" otherwise.
    static std::string_view reasonPhrase(int status);

    // The response exactly as written on the connection: a fixed set of
    // headers in a fixed order, never a Date or Server header, always
    // "Connection: close" (one request per connection).
    Bytes bytes(BodyMode mode = BodyMode::include) const;

    bool operator==(const FileResponse&) const = default;
};

} // namespace ferlow
