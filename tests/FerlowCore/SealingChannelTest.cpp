#include "FerlowCore/SealingChannel.h"

#include <gtest/gtest.h>

#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::fromHex;
using test::toHex;

SessionKeys keysFor(Role role)
{
    const Bytes secret(32, 7);
    const Bytes phoneNonce(16, 1);
    const Bytes macNonce(16, 2);
    return SessionCrypto::deriveKeys(secret, phoneNonce, macNonce, role);
}

// A phone and a computer channel over the same session keys.
struct Pair {
    SealingChannel phone {keysFor(Role::phone)};
    SealingChannel mac {keysFor(Role::mac)};
};

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
    const auto opened = SealingChannel::openOnce(key, nonce, aad, sealed);
    ASSERT_TRUE(opened);
    EXPECT_EQ(std::string(opened->begin(), opened->end()), plaintext);
    EXPECT_FALSE(SealingChannel::openOnce(key, nonce, {}, sealed)); // the data is authenticated
}

std::string nonceHex(std::uint64_t counter)
{
    const auto nonce = SealingChannel::nonce(counter);
    return toHex(Bytes(nonce.begin(), nonce.end()));
}

TEST(SealingChannelNonce, IsACounterBehindFourZeroBytes)
{
    EXPECT_EQ(nonceHex(0), "000000000000000000000000");
    EXPECT_EQ(nonceHex(1), "000000000000000000000001");
    EXPECT_EQ(nonceHex(256), "000000000000000000000100");
    EXPECT_EQ(nonceHex(0x0102030405060708), "000000000102030405060708");
}

TEST(SealingChannel, SealsWithTheCounterAndOpensInOrder)
{
    Pair pair;
    const Bytes first = pair.phone.seal(asBytes("{\"t\":\"m\"}"));
    const Bytes second = pair.phone.seal(asBytes("{\"t\":\"m\"}"));
    EXPECT_EQ(first.size(), 9 + SealingChannel::tagSize);
    EXPECT_NE(first, second);
    EXPECT_EQ(pair.phone.sendCounter(), 2u);

    EXPECT_EQ(pair.mac.open(first), toBytes("{\"t\":\"m\"}"));
    EXPECT_EQ(pair.mac.open(second), toBytes("{\"t\":\"m\"}"));
    EXPECT_EQ(pair.mac.receiveCounter(), 2u);

    const Bytes empty = pair.mac.seal({});
    EXPECT_EQ(empty.size(), SealingChannel::tagSize);
    EXPECT_EQ(pair.phone.open(empty), Bytes {});
}

// Every way a frame can be wrong fails authentication and kills the channel
// for good, without advancing the counter.
TEST(SealingChannel, AnyBadFrameKillsTheChannel)
{
    enum class Fault { reordered, replayed, truncated15, flippedCiphertext, flippedTag, dropped, empty, wrongDirection };
    for (const auto fault : {Fault::reordered, Fault::replayed, Fault::truncated15, Fault::flippedCiphertext,
             Fault::flippedTag, Fault::dropped, Fault::empty, Fault::wrongDirection}) {
        SCOPED_TRACE(static_cast<int>(fault));
        Pair pair;
        const Bytes a = pair.phone.seal(asBytes("first"));
        Bytes b = pair.phone.seal(asBytes("second"));
        Bytes bad;
        switch (fault) {
        case Fault::reordered: bad = b; break;
        case Fault::replayed:
            ASSERT_NO_THROW(pair.mac.open(a));
            bad = a;
            break;
        case Fault::truncated15: bad = Bytes(a.begin(), a.begin() + 15); break;
        case Fault::flippedCiphertext: bad = a; bad[0] ^= 1; break;
        case Fault::flippedTag: bad = a; bad.back() ^= 0x80; break;
        case Fault::dropped:
            ASSERT_NO_THROW(pair.mac.open(a));
            bad = pair.phone.seal(asBytes("third"));
            break;
        case Fault::empty: break;
        case Fault::wrongDirection: bad = pair.mac.seal(asBytes("first")); break;
        }
        const auto counter = pair.mac.receiveCounter();
        EXPECT_THROW(pair.mac.open(bad), SessionCryptoError);
        EXPECT_TRUE(pair.mac.dead());
        EXPECT_EQ(pair.mac.receiveCounter(), counter);
        // Even the correct next message no longer opens.
        EXPECT_THROW(pair.mac.open(counter == 0 ? a : b), SessionCryptoError);
    }
}

} // namespace
} // namespace ferlow
