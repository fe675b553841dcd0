#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// The system's secure random source could not fill a buffer. Nothing is ever
// made from bytes it did not fill.
class RandomSourceError : public std::runtime_error {
public:
    RandomSourceError() : std::runtime_error("the secure random source failed") { }
};

// A phone's right to connect: an identifier and a shared 32-byte secret.
// Dates are seconds since 1970-01-01T00:00:00Z.
struct Pairing {
    std::string id;                 // Base64URL of 8 random bytes (11 characters)
    Bytes secret;                   // 32 random bytes
    std::string name;               // "New phone" until the phone connects
    double createdAt = 0;
    std::optional<double> lastUsedAt; // absent while pending

    bool operator==(const Pairing&) const = default;

    bool pending() const { return !lastUsedAt; }

    // A fresh pending pairing. Throws RandomSourceError.
    static Pairing make(double now);
    // `count` bytes from OpenSSL's CSPRNG. Throws RandomSourceError.
    static Bytes random(std::size_t count);

    // JSON form of the pairing file: "id", "secret" (standard Base64 with
    // padding), "name", "createdAt", "lastUsedAt" (left out while pending).
    nlohmann::ordered_json encode() const;
    static Pairing decode(const nlohmann::json& json); // throws DecodingError
};

// Whether `host` can stand in a URL unescaped: dot-separated labels of
// ASCII letters, digits and hyphens, which covers mDNS names ("desk.local")
// and IPv4 addresses in dotted decimal.
bool isURLHost(std::string_view host);

// Where a phone opens the pad: "http://" host ":" port. `host` is a name or
// an address that passes isURLHost.
std::string padAddress(std::string_view host, std::uint16_t port);

// The URL the phone opens (and the QR code carries): padAddress, then
// "/#" id "." Base64URL(secret). Absent when `host` fails isURLHost.
std::optional<std::string> pairingURL(std::string_view host, std::uint16_t port, const Pairing& pairing);

} // namespace ferlow
