#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/Bytes.h"
#include "FerlowCore/UpdateStatus.h"

namespace ferlow {

// The release document "version.json" of the product website.
struct ReleaseInfo {
    std::string latest;               // the newest released version
    std::string minimum;              // older apps must update
    std::optional<std::string> notes;
    std::optional<std::int64_t> terms; // current terms-of-use version

    bool operator==(const ReleaseInfo&) const = default;

    UpdateStatus status(std::string_view current) const;

    nlohmann::ordered_json encode() const;
    static ReleaseInfo decode(const nlohmann::json& json); // throws DecodingError
    static ReleaseInfo decode(ByteView document);           // throws DecodingError
};

} // namespace ferlow
