// The terminal QR code's size. (That it scans is the terminal test's.)

#include <algorithm>

#include <gtest/gtest.h>

#include "Ferlow/TerminalQR.h"

namespace ferlow {
namespace {

// A pairing URL's code fits the terminal's 21 lines (level L once M's symbol
// would not) for a name or an address of up to 36 characters, the longest
// that level L's version 5 holds with a five-digit port. Longer ones still
// draw, taller; text no symbol holds has no code.
TEST(TerminalQR, APairingURLFitsTwentyOneLinesModuleForModule)
{
    for (const std::string& host : {std::string("desk.local"), std::string("192.168.100.200"),
             std::string(30, 'h') + ".local", std::string(31, 'h') + ".local"}) {
        const auto code = TerminalQR::encode("http://" + host + ":65535/#AbCdEfGhIjK." + std::string(43, 'x'));
        ASSERT_TRUE(code);
        const auto text = TerminalQR::render(*code, TerminalQR::Colours::none);
        EXPECT_EQ(TerminalQR::lines(*code) <= TerminalQR::maxLines, host.size() <= 36) << host;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), TerminalQR::lines(*code)) << host;
    }
    EXPECT_FALSE(QRCode::encode(std::string(3000, 'x')));
}

} // namespace
} // namespace ferlow
