#include "FerlowCore/IPAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace ferlow {

IPAddress IPAddress::v4(const std::array<std::uint8_t, 4>& bytes)
{
    std::array<std::uint8_t, 16> storage {};
    std::copy(bytes.begin(), bytes.end(), storage.begin());
    return IPAddress(Kind::v4, storage);
}

IPAddress IPAddress::v6(const std::array<std::uint8_t, 16>& bytes)
{
    return IPAddress(Kind::v6, bytes);
}

IPAddress IPAddress::fromV6(const std::array<std::uint8_t, 16>& bytes)
{
    const bool mapped = std::all_of(bytes.begin(), bytes.begin() + 10, [](std::uint8_t b) { return b == 0; })
        && bytes[10] == 0xFF && bytes[11] == 0xFF;
    if (mapped)
        return v4({bytes[12], bytes[13], bytes[14], bytes[15]});
    return v6(bytes);
}

std::optional<IPAddress> IPAddress::parse(std::string_view text)
{
    const auto zone = text.find('%');
    const std::string plain(text.substr(0, zone));
    std::array<std::uint8_t, 4> four {};
    if (::inet_pton(AF_INET, plain.c_str(), four.data()) == 1)
        return v4(four);
    std::array<std::uint8_t, 16> sixteen {};
    if (::inet_pton(AF_INET6, plain.c_str(), sixteen.data()) == 1)
        return fromV6(sixteen);
    return std::nullopt;
}

bool IPAddress::hasPrefix(std::span<const std::uint8_t> prefix, int bits) const
{
    const auto mine = bytes();
    if (bits < 0 || std::size_t(bits) > mine.size() * 8 || std::size_t(bits) > prefix.size() * 8)
        return false;
    const auto whole = std::size_t(bits / 8);
    if (!std::equal(mine.begin(), mine.begin() + std::ptrdiff_t(whole), prefix.begin()))
        return false;
    const int rest = bits % 8;
    if (rest == 0)
        return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    return (mine[whole] & mask) == (prefix[whole] & mask);
}

std::string IPAddress::description() const
{
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(m_kind == Kind::v4 ? AF_INET : AF_INET6, m_bytes.data(), text, sizeof text);
    return text;
}

} // namespace ferlow
