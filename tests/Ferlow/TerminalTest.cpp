// `ferlow --headless` on an 80x24 terminal at a first start: the terms
// question, then the pairing code, which zbar must read off the screen left
// as a terminal with a dark theme draws it.

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/Ferlow/FerlowProcess.h"
#include "tests/FerlowHost/TestPhone.h"

namespace ferlow {
namespace {

constexpr unsigned short columns = 80, rows = 24;

// The rows an 80-column terminal shows last of `output`: escape sequences
// dropped, a carriage return starting its line over, long lines wrapped.
// `light` marks the rows drawn on bright white (SGR 107) and reset after, the
// code's.
struct Screen {
    std::vector<std::vector<std::string>> lines; // one UTF-8 character each
    std::vector<bool> light;

    explicit Screen(const std::string& output)
    {
        std::istringstream written(output);
        for (std::string line; std::getline(written, line);) {
            line = line.substr(0, line.find_last_not_of('\r') + 1);
            line = line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1);
            const bool onWhite = line.find("\x1b[30;107m") != std::string::npos && line.ends_with("\x1b[0m");
            line = std::regex_replace(line, std::regex("\x1b\\[[0-9;]*[A-Za-z]"), "");
            std::vector<std::string> characters;
            for (std::size_t at = 0; at < line.size(); ++at) {
                if ((line[at] & 0xC0) == 0x80)
                    characters.back() += line[at];
                else
                    characters.emplace_back(1, line[at]);
            }
            for (std::size_t from = 0; from == 0 || from < characters.size(); from += columns) {
                const auto end = std::min(from + columns, characters.size());
                lines.emplace_back(characters.begin() + long(from), characters.begin() + long(end));
                light.push_back(onWhite);
            }
        }
        const auto above = long(lines.size()) - rows;
        lines.erase(lines.begin(), lines.begin() + std::max(above, 0L));
        light.erase(light.begin(), light.begin() + std::max(above, 0L));
    }

    std::string text(int row) const
    {
        return std::accumulate(lines[std::size_t(row)].begin(), lines[std::size_t(row)].end(), std::string());
    }

    // A binary PGM of the screen, each half cell `scale` pixels square:
    // half blocks black on a white row, everything else dark.
    std::string image(int scale) const
    {
        std::string pixels;
        for (int y = 0; y < rows * 2 * scale; ++y) {
            const auto row = std::size_t(y / (2 * scale));
            const std::string dark = (y / scale) % 2 == 0 ? "\u2580\u2588" : "\u2584\u2588";
            for (int x = 0; x < columns * scale; ++x) {
                const auto column = std::size_t(x / scale);
                const auto character = column < lines[row].size() ? lines[row][column] : " ";
                pixels += light[row] && dark.find(character) == std::string::npos ? '\xff' : '\0';
            }
        }
        return "P5\n" + std::to_string(columns * scale) + " " + std::to_string(rows * 2 * scale) + "\n255\n" + pixels;
    }
};

TEST(Terminal, TheCodeAndTheLinesThatMatterFitEightyByTwentyFour)
{
    test::FerlowHome home;
    home.environment["FERLOW_TEST_TERMS"] = "1";
    const auto port = std::to_string(test::freePort());
    test::FerlowProcess ferlow({"--headless", "--port", port}, home.environment, {{columns, rows}});
    ASSERT_TRUE(ferlow.waitFor(ferlow.out, "Agree and continue? [y/N] ")) << ferlow.out;
    ferlow.type("y\n");
    ASSERT_TRUE(ferlow.waitFor(ferlow.out, "Code works for 10:00")) << ferlow.out;

    // The code (whole if zbar reads it), then three short lines.
    const Screen screen(ferlow.out);
    ASSERT_EQ(screen.lines.size(), rows);
    EXPECT_TRUE(std::regex_match(screen.text(rows - 3), std::regex("Ferlow listening on http://[^ ]+:" + port)))
        << screen.text(rows - 3);
    EXPECT_TRUE(screen.text(rows - 2).starts_with("Input: ")) << screen.text(rows - 2);
    EXPECT_EQ(screen.text(rows - 1), "Code works for 10:00");

    std::smatch url;
    ASSERT_TRUE(std::regex_search(ferlow.out, url, std::regex("http://[^ \r\n]+/#[A-Za-z0-9_-]+\\.[A-Za-z0-9_-]+")));
    const auto file = home.folder.path() / "screen.pgm";
    test::writeFile(file, screen.image(4));
    FILE* zbar = ::popen(("zbarimg --raw -q " + file.string() + " 2>/dev/null").c_str(), "r");
    ASSERT_TRUE(zbar);
    char read[512] = {};
    [[maybe_unused]] const auto got = std::fread(read, 1, sizeof read - 1, zbar);
    const int status = ::pclose(zbar);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    EXPECT_EQ(std::string(read), url.str() + "\n");
}

} // namespace
} // namespace ferlow
