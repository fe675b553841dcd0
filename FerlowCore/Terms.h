#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace ferlow {

// Which version of the terms of use the user must have agreed to.
struct Terms {
    static constexpr std::int64_t bundled = 1; // the version that ships with the app
    static constexpr std::string_view website = "https://ferlow.app";
    static constexpr std::string_view termsURL = "https://ferlow.app/terms";
    static constexpr std::string_view privacyURL = "https://ferlow.app/privacy";

    // The remote version when it is above the bundled one, else the bundled one.
    static std::int64_t required(std::optional<std::int64_t> remote);
    static bool needsAgreement(std::int64_t accepted, std::optional<std::int64_t> remote);
};

} // namespace ferlow
