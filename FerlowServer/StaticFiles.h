#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "FerlowServer/FileResponse.h"

namespace ferlow {

// The pad's folder served read-only: every answer comes from a regular file
// inside `root`, never from a folder listing and never from outside it.
class StaticFiles final {
public:
    // `root` is standardised and its symbolic links resolved once, here.
    explicit StaticFiles(const std::filesystem::path& root);

    const std::filesystem::path& root() const { return m_root; }

    // The answer for a request target exactly as received and the request's
    // Range header, if any. Never fails: a problem becomes 404, 416 or a full 200.
    FileResponse response(std::string_view target, std::optional<std::string_view> range) const;

    // The inclusive byte range (first, last) that a Range header selects in a
    // body of `size` bytes; nothing for a header this server does not honour
    // (not "bytes=", several ranges, non-numeric or unrepresentable values).
    // The pair may select nothing (last < first, or first >= size): that is a 416.
    static std::optional<std::pair<std::int64_t, std::int64_t>> parseRange(std::string_view header, std::int64_t size);

    // The Content-Type for a file extension (without the dot, any case).
    static std::string_view contentType(std::string_view extension);

private:
    std::filesystem::path m_root;
};

} // namespace ferlow
