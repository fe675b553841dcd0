// The terminal QR code read back the way a camera would: the drawn text is
// turned into pixels and decoded by zbar.

#include <cstdio>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "Ferlow/TerminalQR.h"
#include "tests/Support/TestSupport.h"

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

// What zbar reads from the grid drawn at 4 pixels a module, or "" if nothing.
std::string scan(const std::vector<std::vector<bool>>& rows, const std::filesystem::path& folder)
{
    constexpr int scale = 4;
    const auto image = folder / "code.pgm";
    std::ofstream out(image, std::ios::binary);
    out << "P5\n" << rows[0].size() * scale << ' ' << rows.size() * scale << "\n255\n";
    for (const auto& row : rows)
        for (int repeat = 0; repeat < scale; ++repeat)
            for (const bool dark : row)
                for (int i = 0; i < scale; ++i)
                    out.put(dark ? '\0' : '\xff');
    out.close();
    std::string read;
    if (FILE* pipe = ::popen(("zbarimg --raw -q " + image.string() + " 2>/dev/null").c_str(), "r")) {
        char buffer[512];
        while (const auto n = std::fread(buffer, 1, sizeof buffer, pipe))
            read.append(buffer, n);
        ::pclose(pipe);
    }
    if (!read.empty() && read.back() == '\n')
        read.pop_back();
    return read;
}

TEST(TerminalQR, APairingURLFitsEightyColumnsAndScansBack)
{
    if (std::system("command -v zbarimg > /dev/null") != 0)
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    test::TemporaryDirectory folder;
    const std::string secret(43, 'x');
    for (const std::string& host : {std::string("desk"), std::string(63, 'h')}) {
        const std::string url = "http://" + host + ".local:65535/#AbCdEfGhIjK." + secret;
        const auto code = QRCode::encode(url);
        ASSERT_TRUE(code);
        const auto rows = modulesOf(TerminalQR::render(*code, TerminalQR::Colours::none));
        const auto side = static_cast<std::size_t>(code->size() + 2 * QRCode::quietZone);
        ASSERT_LE(side, 80u);
        ASSERT_EQ(rows[0].size(), side);
        ASSERT_EQ(rows.size(), side + 1); // an odd side leaves half a row of margin
        for (std::size_t y = 0; y < rows.size(); ++y)
            for (std::size_t x = 0; x < side; ++x)
                ASSERT_EQ(rows[y][x], code->dark(static_cast<int>(x) - QRCode::quietZone, static_cast<int>(y) - QRCode::quietZone));
        EXPECT_EQ(scan(rows, folder.path()), url);
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
