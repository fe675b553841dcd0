#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace ferlow {

// Dotted version numbers ("1.4.2", "2.0b3").
struct Version {
    // Pieces between dots (empty pieces dropped), each read from its leading
    // digits; a piece without leading digits counts as 0.
    static std::vector<std::int64_t> parts(std::string_view version);
    // Position by position, a missing position counting as 0.
    static bool isOlder(std::string_view a, std::string_view than);
};

} // namespace ferlow
