#include "FerlowCore/UTF8.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

// Malformed sequences become one U+FFFD per offending byte, and decoding
// goes on with the next byte, so nothing after them is lost.
TEST(UTF8, MalformedSequencesBecomeReplacementCharacters)
{
    const std::pair<std::string, std::u32string> cases[] = {
        {"\xc0\xaf" "a", U"\uFFFD\uFFFDa"},        // an overlong "/"
        {"\xed\xa0\x80" "b", U"\uFFFD\uFFFD\uFFFDb"}, // a surrogate
        {"\xe6\x97", U"\uFFFD\uFFFD"},             // cut short at the end
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(decodeUTF8(bytes), expected) << bytes;
    EXPECT_EQ(encodeUTF8(U"a\u00e9\u65e5\U0001F44D"), "a\u00e9\u65e5\U0001F44D");
}

} // namespace
} // namespace ferlow
