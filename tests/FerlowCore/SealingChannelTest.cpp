#include "FerlowCore/SealingChannel.h"

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::fromHex;
using test::toHex;

TEST(ChaChaPoly, ReproducesTheRFC8439AeadVector)
{
    SymmetricKey key;
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(0x80 + i);
    SealingChannel::Nonce nonce;
    const Bytes n = fromHex("070000004041424344454647");
    std::copy(n.begin(), n.end(), nonce.begin());
    const Bytes aad = fromHex("50515253c0c1c2c3c4c5c6c7");
    const std::string plaintext = "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for "
                                  "the future, sunscreen would be it.";
    const std::string expected = "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb"
                                 "69da92728b1a71de0a9e060b2905d6a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad6"
                                 "75945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116"
                                 "1ae10b594f09e26a7e902ecbd0600691";
    const Bytes sealed = SealingChannel::sealOnce(key, nonce, aad, asBytes(plaintext));
    EXPECT_EQ(toHex(sealed), expected);
    EXPECT_EQ(SealingChannel::openOnce(key, nonce, aad, sealed), toBytes(plaintext));
    EXPECT_FALSE(SealingChannel::openOnce(key, nonce, {}, sealed)); // the data is authenticated
}

} // namespace
} // namespace ferlow
