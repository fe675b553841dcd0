#include "FerlowCore/SessionCrypto.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/SealingChannel.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::fromHex;
using test::toHex;

Bytes key(const SymmetricKey& k) { return Bytes(k.begin(), k.end()); }

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

    // A replayed message fails, and the channel stays dead after it.
    const auto first = fromHex(vectors["phoneSealed"][0]["sealed"].get<std::string>());
    EXPECT_THROW(channel.open(first), SessionCryptoError);
    EXPECT_TRUE(channel.dead());
}

} // namespace
} // namespace ferlow
