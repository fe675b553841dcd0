#include "FerlowCore/SealingChannel.h"

#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace ferlow {

namespace {

enum class Direction { seal, open };

EVP_CIPHER_CTX* makeContext(const SymmetricKey& key, Direction direction)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        throw std::bad_alloc();
    const int ok = direction == Direction::seal
        ? EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nullptr)
        : EVP_DecryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nullptr);
    if (ok != 1) {
        EVP_CIPHER_CTX_free(ctx);
        throw std::runtime_error("ChaCha20-Poly1305 is not available from OpenSSL");
    }
    return ctx;
}

struct ContextDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

bool fitsInt(std::size_t size) { return size <= std::size_t(std::numeric_limits<int>::max()); }

// One RFC 8439 AEAD operation on a context whose key is already set; only the
// nonce changes between messages. Output: ciphertext followed by the tag.
Bytes sealWith(EVP_CIPHER_CTX* ctx, const SealingChannel::Nonce& nonce, ByteView aad, ByteView plaintext)
{
    if (!fitsInt(plaintext.size()) || !fitsInt(aad.size()))
        throw std::length_error("message too large to seal");
    Bytes out(plaintext.size() + SealingChannel::tagSize);
    int written = 0;
    int ignored = 0;
    const bool ok = EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce.data()) == 1
        && (aad.empty() || EVP_EncryptUpdate(ctx, nullptr, &ignored, aad.data(), static_cast<int>(aad.size())) == 1)
        && EVP_EncryptUpdate(ctx, out.data(), &written, plaintext.data(), static_cast<int>(plaintext.size())) == 1
        && EVP_EncryptFinal_ex(ctx, out.data() + written, &ignored) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, int(SealingChannel::tagSize),
               out.data() + plaintext.size()) == 1;
    if (!ok)
        throw std::runtime_error("ChaCha20-Poly1305 sealing failed");
    return out;
}

std::optional<Bytes> openWith(EVP_CIPHER_CTX* ctx, const SealingChannel::Nonce& nonce, ByteView aad, ByteView sealed)
{
    if (sealed.size() < SealingChannel::tagSize || !fitsInt(sealed.size()) || !fitsInt(aad.size()))
        return std::nullopt;
    const std::size_t textSize = sealed.size() - SealingChannel::tagSize;
    std::array<std::uint8_t, SealingChannel::tagSize> tag;
    std::copy(sealed.end() - SealingChannel::tagSize, sealed.end(), tag.begin());
    // One spare byte keeps the output pointer valid for an empty plaintext.
    Bytes out(textSize + 1);
    int written = 0;
    int ignored = 0;
    const bool ok = EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, nonce.data()) == 1
        && (aad.empty() || EVP_DecryptUpdate(ctx, nullptr, &ignored, aad.data(), static_cast<int>(aad.size())) == 1)
        && EVP_DecryptUpdate(ctx, out.data(), &written, sealed.data(), static_cast<int>(textSize)) == 1
        && EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, int(SealingChannel::tagSize), tag.data()) == 1
        && EVP_DecryptFinal_ex(ctx, out.data() + written, &ignored) == 1;
    if (!ok) {
        OPENSSL_cleanse(out.data(), out.size());
        return std::nullopt;
    }
    out.resize(textSize);
    return out;
}

} // namespace

SealingChannel::SealingChannel(const SessionKeys& keys)
    : m_keys(keys)
{
    m_sealer = makeContext(m_keys.send, Direction::seal);
    try {
        m_opener = makeContext(m_keys.receive, Direction::open);
    } catch (...) {
        EVP_CIPHER_CTX_free(m_sealer);
        throw;
    }
}

SealingChannel::~SealingChannel() noexcept
{
    EVP_CIPHER_CTX_free(m_sealer);
    EVP_CIPHER_CTX_free(m_opener);
    OPENSSL_cleanse(&m_keys, sizeof m_keys);
}

SealingChannel::Nonce SealingChannel::nonce(std::uint64_t counter)
{
    Nonce n {};
    for (int i = 0; i < 8; ++i)
        n[static_cast<std::size_t>(11 - i)] = static_cast<std::uint8_t>(counter >> (8 * i));
    return n;
}

Bytes SealingChannel::sealOnce(const SymmetricKey& key, const Nonce& nonce, ByteView aad, ByteView plaintext)
{
    std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter> ctx(makeContext(key, Direction::seal));
    return sealWith(ctx.get(), nonce, aad, plaintext);
}

std::optional<Bytes> SealingChannel::openOnce(const SymmetricKey& key, const Nonce& nonce, ByteView aad, ByteView sealed)
{
    std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter> ctx(makeContext(key, Direction::open));
    return openWith(ctx.get(), nonce, aad, sealed);
}

Bytes SealingChannel::seal(ByteView plaintext)
{
    Bytes sealed = sealWith(m_sealer, nonce(m_sendCounter), {}, plaintext);
    ++m_sendCounter;
    return sealed;
}

Bytes SealingChannel::open(ByteView sealed)
{
    if (m_dead)
        throw SessionCryptoError();
    auto plaintext = openWith(m_opener, nonce(m_receiveCounter), {}, sealed);
    if (!plaintext) {
        m_dead = true;
        throw SessionCryptoError();
    }
    ++m_receiveCounter;
    return std::move(*plaintext);
}

} // namespace ferlow
