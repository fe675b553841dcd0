#include "FerlowCore/UTF8.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

// Each maximal malformed subsequence becomes one U+FFFD, and decoding goes
// on after it, so nothing that follows is lost.
TEST(UTF8, MalformedSequencesBecomeReplacementCharacters)
{
    const std::pair<std::string, std::u32string> cases[] = {
        {"\xc0\xaf" "a", U"\uFFFD\uFFFDa"},        // an overlong "/"
        {"\xed\xa0\x80" "b", U"\uFFFD\uFFFD\uFFFDb"}, // a surrogate
        {"\xe6\x97", U"\uFFFD"},                   // cut short at the end
    };
    for (const auto& [bytes, expected] : cases)
        EXPECT_EQ(UTF8::codePoints(bytes), expected) << bytes;
    EXPECT_EQ(UTF8::encode(U"a\u00e9\u65e5\U0001F44D"), "a\u00e9\u65e5\U0001F44D");
}

} // namespace
} // namespace ferlow
