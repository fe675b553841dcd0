#include "FerlowCore/SessionCrypto.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/SealingChannel.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::fromHex;
using test::toHex;

Bytes range(int first, int last)
{
    Bytes bytes;
    for (int b = first; b <= last; ++b)
        bytes.push_back(static_cast<std::uint8_t>(b));
    return bytes;
}

Bytes key(const SymmetricKey& k) { return Bytes(k.begin(), k.end()); }

TEST(HKDF, ReproducesTheRFC5869Sha256Vectors)
{
    const struct {
        Bytes ikm, salt, info;
        std::size_t length;
        const char* okm;
    } cases[] = {
        {Bytes(22, 0x0b), range(0x00, 0x0c), range(0xf0, 0xf9), 42,
            "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {range(0x00, 0x4f), range(0x60, 0xaf), range(0xb0, 0xff), 82,
            "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c2f09b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {Bytes(22, 0x0b), Bytes {}, Bytes {}, 42,
            "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toHex(SessionCrypto::hkdf(c.ikm, c.salt, c.info, c.length)), c.okm);
}

// Known answers computed once with an independent implementation (Node.js
// crypto): the phone web app must derive and seal exactly like this.
TEST(SessionKeyDerivation, MatchesTheIndependentKnownAnswers)
{
    const auto vectors = nlohmann::json::parse(test::readFile(FERLOW_TEST_DATA_DIR "/FerlowCore/session-vectors.json"));
    const auto hex = [&](const char* name) { return fromHex(vectors[name].get<std::string>()); };
    const auto mac = SessionCrypto::deriveKeys(hex("secret"), hex("phoneNonce"), hex("macNonce"), Role::mac);
    EXPECT_EQ(toHex(key(mac.receive)), vectors["phoneToMacKey"]);
    EXPECT_EQ(toHex(key(mac.send)), vectors["macToPhoneKey"]);

    // The computer opens what the reference sealed as the phone, in order...
    SealingChannel channel(mac);
    for (const auto& message : vectors["phoneSealed"]) {
        const auto plaintext = channel.open(fromHex(message["sealed"].get<std::string>()));
        EXPECT_EQ(std::string(plaintext.begin(), plaintext.end()), message["plaintext"]);
    }
    // ...and seals byte for byte what the reference sealed as the computer.
    for (const auto& message : vectors["macSealed"])
        EXPECT_EQ(toHex(channel.seal(toBytes(message["plaintext"].get<std::string>()))), message["sealed"]);
    EXPECT_EQ(toHex(SealingChannel::sealOnce(mac.send, SealingChannel::nonce(256), {}, {})), vectors["emptyAtCounter256"]);
}

} // namespace
} // namespace ferlow
