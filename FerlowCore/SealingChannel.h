#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "FerlowCore/Bytes.h"
#include "FerlowCore/SessionCrypto.h"

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

namespace ferlow {

// One session's ChaCha20-Poly1305 (RFC 8439) channel. Each direction counts
// its messages; the nonce of message c is four zero bytes followed by c as a
// big-endian 64-bit number, and is never sent. A sealed message is the
// ciphertext followed by the 16-byte tag, with no additional data.
//
// A message opens only under exactly the next expected counter, so a
// replayed, dropped, reordered, truncated or altered message fails; the first
// failure kills the channel for good. Not thread-safe: one session's queue
// uses it.
class SealingChannel final {
public:
    static constexpr std::size_t tagSize = 16;

    explicit SealingChannel(const SessionKeys& keys);
    ~SealingChannel() noexcept;
    SealingChannel(const SealingChannel&) = delete;
    SealingChannel& operator=(const SealingChannel&) = delete;

    Bytes seal(ByteView plaintext);
    // Throws SessionCryptoError; the receive counter only advances on success.
    Bytes open(ByteView sealed);

    using Nonce = std::array<std::uint8_t, 12>;
    static Nonce nonce(std::uint64_t counter);

    // The bare AEAD construction with an explicit nonce and additional data,
    // as the channel uses it (the channel itself never adds data).
    static Bytes sealOnce(const SymmetricKey& key, const Nonce& nonce, ByteView aad, ByteView plaintext);
    static std::optional<Bytes> openOnce(const SymmetricKey& key, const Nonce& nonce, ByteView aad, ByteView sealed);

    const SessionKeys& keys() const { return m_keys; }
    std::uint64_t sendCounter() const { return m_sendCounter; }
    std::uint64_t receiveCounter() const { return m_receiveCounter; }
    bool dead() const { return m_dead; }

private:
    SessionKeys m_keys;
    std::uint64_t m_sendCounter = 0;
    std::uint64_t m_receiveCounter = 0;
    bool m_dead = false;
    EVP_CIPHER_CTX* m_sealer = nullptr;
    EVP_CIPHER_CTX* m_opener = nullptr;
};

} // namespace ferlow
