#include "FerlowCore/Base64URL.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

TEST(Base64URL, RFC4648VectorsInTheUrlSafeFormWithoutPadding)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg"}, {"fo", "Zm8"}, {"foo", "Zm9v"}, {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(Base64URL::encode(asBytes(plain)), encoded);
        EXPECT_EQ(Base64URL::decode(encoded), toBytes(plain)) << encoded;
    }
    // The two characters that differ from standard Base64.
    const Bytes special {0xfb, 0xff, 0xbf};
    EXPECT_EQ(Base64::encode(special), "+/+/");
    EXPECT_EQ(Base64URL::encode(special), "-_-_");
    EXPECT_EQ(Base64URL::decode("-_-_"), special);
}

TEST(Base64URL, NeverEmitsStandardOnlyCharactersAndHasFixedLengths)
{
    for (int seed = 0; seed < 64; ++seed) {
        Bytes bytes(16);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(seed * 37 + int(i) * 91 + 0xF0);
        const auto text = Base64URL::encode(bytes);
        EXPECT_EQ(text.size(), 22u);
        EXPECT_EQ(text.find_first_of("+/="), std::string::npos);
        EXPECT_EQ(Base64URL::decode(text), bytes);
    }
    EXPECT_EQ(Base64URL::encode(Bytes(32, 0xff)).size(), 43u);
    EXPECT_EQ(Base64URL::encode(Bytes(8, 0xfe)).size(), 11u);
}

TEST(Base64URL, RefusesPaddingAndInvalidText)
{
    for (const char* bad : {"Zg==", "Zg=", "Zm9v=", "=", "Z", "Zm9vY", "Zm 9v", "Zm9v\n", "Zm9v!", "Zm\x80v"})
        EXPECT_EQ(Base64URL::decode(bad), std::nullopt) << bad;
    EXPECT_EQ(Base64URL::decode(std::string("Zm\0v", 4)), std::nullopt);
    // The standard characters read like their URL-safe twins.
    EXPECT_EQ(Base64URL::decode("+/+/"), (Bytes {0xfb, 0xff, 0xbf}));
}

TEST(Base64Standard, StrictPaddedForm)
{
    EXPECT_EQ(Base64::encode(asBytes("fooba")), "Zm9vYmE=");
    EXPECT_EQ(Base64::decode("Zm9vYmE="), toBytes("fooba"));
    EXPECT_EQ(Base64::decode("Zm8="), toBytes("fo"));
    EXPECT_EQ(Base64::decode(""), Bytes {});
    for (const char* bad : {"Zm8", "Zm9vYmE", "Z===", "Zm=v", "-_-_", " Zm8=", "Zm8=\n", "===="})
        EXPECT_EQ(Base64::decode(bad), std::nullopt) << bad;
}

} // namespace
} // namespace ferlow
