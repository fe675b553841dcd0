#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace ferlow {

// An IPv4 or IPv6 address, bytes in network order.
class IPAddress {
public:
    enum class Kind { v4, v6 };

    // The two cases, bytes taken as they are.
    static IPAddress v4(const std::array<std::uint8_t, 4>& bytes);
    static IPAddress v6(const std::array<std::uint8_t, 16>& bytes);
    // From 16 bytes as a socket reports them: an IPv4-mapped address
    // (::ffff:a.b.c.d) becomes v4, anything else stays v6.
    static IPAddress fromV6(const std::array<std::uint8_t, 16>& bytes);
    // Dotted decimal or IPv6 text; a zone ("%en0") is dropped first.
    static std::optional<IPAddress> parse(std::string_view text);

    Kind kind() const { return m_kind; }
    std::span<const std::uint8_t> bytes() const { return {m_bytes.data(), m_kind == Kind::v4 ? 4u : 16u}; }

    // Whether the first `bits` bits equal those of `prefix`; `bits` must not
    // exceed either length in bits (false if it does).
    bool hasPrefix(std::span<const std::uint8_t> prefix, int bits) const;

    // The standard presentation form (inet_ntop).
    std::string description() const;

    bool operator==(const IPAddress&) const = default;

private:
    IPAddress(Kind kind, const std::array<std::uint8_t, 16>& bytes) : m_kind(kind), m_bytes(bytes) { }
    Kind m_kind;
    std::array<std::uint8_t, 16> m_bytes; // v4 uses the first 4; the rest stay zero
};

} // namespace ferlow

template <> struct std::hash<ferlow::IPAddress> {
    std::size_t operator()(const ferlow::IPAddress& address) const noexcept
    {
        std::size_t h = address.kind() == ferlow::IPAddress::Kind::v4 ? 4 : 6;
        for (const auto b : address.bytes())
            h = h * 131 + b;
        return h;
    }
};
