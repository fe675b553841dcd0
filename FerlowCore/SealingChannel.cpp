#include "FerlowCore/SealingChannel.h"

#include <limits>
#include <new>
#include <stdexcept>

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace ferlow {

namespace {

EVP_CIPHER_CTX* makeContext(const SymmetricKey& key, bool encrypt)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx)
        throw std::bad_alloc();
    const int ok = encrypt ? EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nullptr)
                           : EVP_DecryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, key.data(), nullptr);
    if (ok != 1) {
        EVP_CIPHER_CTX_free(ctx);
        throw std::runtime_error("ChaCha20-Poly1305 is not available from OpenSSL");
    }
    return ctx;
}

int length(std::size_t size)
{
    if (size > std::size_t(std::numeric_limits<int>::max()))
        throw std::length_error("message too large to seal");
    return static_cast<int>(size);
}

} // namespace

SealingChannel::SealingChannel(const SessionKeys& keys)
    : m_keys(keys)
{
    m_sealer = makeContext(m_keys.send, true);
    try {
        m_opener = makeContext(m_keys.receive, false);
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

std::array<std::uint8_t, 12> SealingChannel::nonce(std::uint64_t counter)
{
    std::array<std::uint8_t, 12> n {};
    for (int i = 0; i < 8; ++i)
        n[static_cast<std::size_t>(11 - i)] = static_cast<std::uint8_t>(counter >> (8 * i));
    return n;
}

Bytes SealingChannel::seal(ByteView plaintext)
{
    const auto n = nonce(m_sendCounter);
    Bytes out(plaintext.size() + tagSize);
    int written = 0;
    int final = 0;
    // The key and cipher stay set; only the nonce changes per message.
    if (EVP_EncryptInit_ex(m_sealer, nullptr, nullptr, nullptr, n.data()) != 1
        || EVP_EncryptUpdate(m_sealer, out.data(), &written, plaintext.data(), length(plaintext.size())) != 1
        || EVP_EncryptFinal_ex(m_sealer, out.data() + written, &final) != 1
        || EVP_CIPHER_CTX_ctrl(m_sealer, EVP_CTRL_AEAD_GET_TAG, int(tagSize), out.data() + plaintext.size()) != 1)
        throw std::runtime_error("ChaCha20-Poly1305 sealing failed");
    ++m_sendCounter;
    return out;
}

Bytes SealingChannel::open(ByteView sealed)
{
    if (m_dead || sealed.size() < tagSize) {
        m_dead = true;
        throw SessionCryptoError();
    }
    const std::size_t textSize = sealed.size() - tagSize;
    const auto n = nonce(m_receiveCounter);
    Bytes out(textSize);
    int written = 0;
    int final = 0;
    std::array<std::uint8_t, tagSize> tag;
    std::copy(sealed.end() - tagSize, sealed.end(), tag.begin());
    const bool ok = textSize <= std::size_t(std::numeric_limits<int>::max())
        && EVP_DecryptInit_ex(m_opener, nullptr, nullptr, nullptr, n.data()) == 1
        && EVP_DecryptUpdate(m_opener, out.data(), &written, sealed.data(), static_cast<int>(textSize)) == 1
        && EVP_CIPHER_CTX_ctrl(m_opener, EVP_CTRL_AEAD_SET_TAG, int(tagSize), tag.data()) == 1
        && EVP_DecryptFinal_ex(m_opener, out.data() + written, &final) == 1;
    if (!ok) {
        OPENSSL_cleanse(out.data(), out.size());
        m_dead = true;
        throw SessionCryptoError();
    }
    ++m_receiveCounter;
    return out;
}

} // namespace ferlow
