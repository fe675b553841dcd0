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
    // The two characters that differ from standard Base64; the standard ones read alike.
    const Bytes special {0xfb, 0xff, 0xbf};
    EXPECT_EQ(Base64::encode(special), "+/+/");
    EXPECT_EQ(Base64URL::encode(special), "-_-_");
    EXPECT_EQ(Base64URL::decode("-_-_"), special);
    EXPECT_EQ(Base64URL::decode("+/+/"), special);
}

TEST(Base64URL, RefusesPaddingAndInvalidText)
{
    for (const char* bad : {"Zg==", "Zg=", "Zm9v=", "=", "Z", "Zm9vY", "Zm 9v", "Zm9v\n", "Zm9v!", "Zm\x80v"})
        EXPECT_EQ(Base64URL::decode(bad), std::nullopt) << bad;
    EXPECT_EQ(Base64URL::decode(std::string("Zm\0v", 4)), std::nullopt);
}

TEST(Base64Standard, StrictPaddedForm)
{
    EXPECT_EQ(Base64::encode(asBytes("fooba")), "Zm9vYmE=");
    EXPECT_EQ(Base64::decode("Zm9vYmE="), toBytes("fooba"));
    EXPECT_EQ(Base64::decode(""), Bytes {});
    for (const char* bad : {"Zm8", "Zm9vYmE", "Z===", "Zm=v", "-_-_", " Zm8=", "Zm8=\n", "===="})
        EXPECT_EQ(Base64::decode(bad), std::nullopt) << bad;
}

} // namespace
} // namespace ferlow
