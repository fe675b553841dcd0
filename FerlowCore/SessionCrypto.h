#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow {

using SymmetricKey = std::array<std::uint8_t, 32>;

// Which side of the session derives the keys.
enum class Role { mac, phone };

struct SessionKeys {
    SymmetricKey send {};
    SymmetricKey receive {};
    bool operator==(const SessionKeys&) const = default;
};

// The one way a sealed message fails to open.
class SessionCryptoError : public std::runtime_error {
public:
    enum class Kind { authenticationFailed };
    SessionCryptoError() : std::runtime_error("authenticationFailed") { }
    Kind kind() const noexcept { return Kind::authenticationFailed; }
};

// Session key derivation: HKDF-SHA-256 (RFC 5869) over the pairing secret,
// salted with the phone's nonce followed by the computer's nonce, once per
// direction.
struct SessionCrypto {
    static constexpr std::string_view phoneToMacInfo = "ferlow v1 phone->mac";
    static constexpr std::string_view macToPhoneInfo = "ferlow v1 mac->phone";

    // For role mac: send = computer-to-phone key, receive = phone-to-computer
    // key; for role phone the other way round.
    static SessionKeys deriveKeys(ByteView secret, ByteView phoneNonce, ByteView macNonce, Role role);

    // HKDF-SHA-256 with an arbitrary output length (at most 255 * 32 bytes).
    static Bytes hkdf(ByteView inputKey, ByteView salt, ByteView info, std::size_t length);
};

} // namespace ferlow
