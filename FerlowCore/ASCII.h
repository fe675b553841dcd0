#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace ferlow {

// Lower-cases A-Z only. Header names, schemes and file extensions are ASCII
// protocol tokens; a locale must never change how they compare.
inline std::string lowerASCII(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower;
}

} // namespace ferlow
