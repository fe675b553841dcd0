#include "FerlowCore/Version.h"

#include <algorithm>
#include <charconv>

namespace ferlow {

std::vector<std::int64_t> Version::parts(std::string_view version)
{
    std::vector<std::int64_t> result;
    while (!version.empty()) {
        const auto dot = version.find('.');
        const auto piece = version.substr(0, dot);
        version = dot == std::string_view::npos ? std::string_view {} : version.substr(dot + 1);
        if (piece.empty())
            continue;
        std::size_t digits = 0;
        while (digits < piece.size() && piece[digits] >= '0' && piece[digits] <= '9')
            ++digits;
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(piece.data(), piece.data() + digits, value);
        if (digits == 0 || error != std::errc {} || end != piece.data() + digits)
            value = 0;
        result.push_back(value);
    }
    return result;
}

bool Version::isOlder(std::string_view a, std::string_view than)
{
    const auto left = parts(a);
    const auto right = parts(than);
    const auto count = std::max(left.size(), right.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto l = i < left.size() ? left[i] : 0;
        const auto r = i < right.size() ? right[i] : 0;
        if (l != r)
            return l < r;
    }
    return false;
}

} // namespace ferlow
