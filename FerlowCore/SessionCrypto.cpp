#include "FerlowCore/SessionCrypto.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

namespace ferlow {

namespace {

struct KdfDeleter {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
    void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
};

// OSSL_PARAM takes non-const pointers even for inputs it only reads.
void* mutableData(ByteView bytes)
{
    static std::uint8_t empty = 0;
    return bytes.empty() ? &empty : const_cast<std::uint8_t*>(bytes.data());
}

} // namespace

Bytes SessionCrypto::hkdf(ByteView inputKey, ByteView salt, ByteView info, std::size_t length)
{
    std::unique_ptr<EVP_KDF, KdfDeleter> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    if (!kdf)
        throw std::runtime_error("HKDF is not available from OpenSSL");
    std::unique_ptr<EVP_KDF_CTX, KdfDeleter> ctx(EVP_KDF_CTX_new(kdf.get()));
    if (!ctx)
        throw std::bad_alloc();

    char digest[] = "SHA256";
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, mutableData(inputKey), inputKey.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, mutableData(salt), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, mutableData(info), info.size()),
        OSSL_PARAM_construct_end(),
    };
    Bytes out(length);
    if (EVP_KDF_derive(ctx.get(), out.data(), out.size(), params) != 1)
        throw std::runtime_error("HKDF derivation failed");
    return out;
}

SessionKeys SessionCrypto::deriveKeys(ByteView secret, ByteView phoneNonce, ByteView macNonce, Role role)
{
    Bytes salt(phoneNonce.begin(), phoneNonce.end());
    salt.insert(salt.end(), macNonce.begin(), macNonce.end());

    const auto derive = [&](std::string_view info) {
        const Bytes key = hkdf(secret, salt, asBytes(info), 32);
        SymmetricKey result;
        std::copy(key.begin(), key.end(), result.begin());
        return result;
    };
    const SymmetricKey phoneToMac = derive(phoneToMacInfo);
    const SymmetricKey macToPhone = derive(macToPhoneInfo);
    if (role == Role::phone)
        return {phoneToMac, macToPhone};
    return {macToPhone, phoneToMac};
}

} // namespace ferlow
