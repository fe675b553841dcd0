// The terminal QR code: the drawn text read back module by module. (That
// the encoder's modules scan as the URL shows in the pairing window's test,
// and that the terminal's code scans, in the terminal test.)

#include <map>

#include <gtest/gtest.h>

#include "Ferlow/TerminalQR.h"

namespace ferlow {
namespace {

// The module grid the half blocks show, quiet zone included: one row of
// characters is two rows of modules.
std::vector<std::vector<bool>> modulesOf(const std::string& text)
{
    const std::map<std::string, std::pair<bool, bool>> glyphs {
        {" ", {false, false}}, {"\u2580", {true, false}}, {"\u2584", {false, true}}, {"\u2588", {true, true}}};
    std::vector<std::vector<bool>> rows(2);
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '\n') {
            rows.resize(rows.size() + 2);
            ++at;
            continue;
        }
        const auto length = text[at] == ' ' ? 1 : 3;
        const auto [top, bottom] = glyphs.at(text.substr(at, length));
        rows[rows.size() - 2].push_back(top);
        rows[rows.size() - 1].push_back(bottom);
        at += length;
    }
    rows.resize(rows.size() - 2); // after the last line feed
    return rows;
}

// A pairing URL's code fits the terminal's 21 lines (level L once M's
// symbol would not) for a name or an address of up to 36 characters, the
// longest that level L's version 5 holds with a five-digit port. Longer
// ones still draw, taller.
TEST(TerminalQR, APairingURLFitsTwentyOneLinesModuleForModule)
{
    const std::string secret(43, 'x');
    for (const std::string& host : {std::string("desk.local"), std::string("192.168.100.200"),
             std::string("my-thinkpad-x1.local"), std::string(30, 'h') + ".local", std::string(31, 'h') + ".local"}) {
        const std::string url = "http://" + host + ":65535/#AbCdEfGhIjK." + secret;
        const auto code = TerminalQR::encode(url);
        ASSERT_TRUE(code);
        const auto rows = modulesOf(TerminalQR::render(*code, TerminalQR::Colours::none));
        const auto side = static_cast<std::size_t>(code->size() + 2 * TerminalQR::quietZone);
        EXPECT_EQ(TerminalQR::lines(*code) <= TerminalQR::maxLines, host.size() <= 36) << host;
        ASSERT_EQ(rows.size(), 2u * static_cast<std::size_t>(TerminalQR::lines(*code)));
        ASSERT_EQ(rows[0].size(), side);
        for (std::size_t y = 0; y < rows.size(); ++y)
            for (std::size_t x = 0; x < side; ++x)
                ASSERT_EQ(rows[y][x], code->dark(static_cast<int>(x) - TerminalQR::quietZone, static_cast<int>(y) - TerminalQR::quietZone));
    }
}

TEST(TerminalQR, ForcedColoursFrameEveryLineAndTooLongTextHasNoCode)
{
    const auto text = TerminalQR::render(*QRCode::encode("http://a.local:7311/"), TerminalQR::Colours::forced);
    EXPECT_EQ(text.substr(0, 9), "\x1b[30;107m");
    EXPECT_EQ(text.substr(text.size() - 5), "\x1b[0m\n");
    EXPECT_FALSE(QRCode::encode(std::string(3000, 'x')));
}

} // namespace
} // namespace ferlow
