// `ferlow --headless` on an 80x24 terminal, as a first start meets it: the
// terms question, then the pairing code. What the screen shows at the end is
// drawn as a terminal with a dark theme draws it, and zbar scans that.

#include <cstdio>
#include <poll.h>
#include <pty.h>
#include <regex>

#include <gtest/gtest.h>

#include "tests/Ferlow/FerlowProcess.h"
#include "tests/FerlowHost/TestPhone.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;

constexpr int columns = 80, rows = 24;

// A child on a pseudo-terminal of 80x24; everything it writes is kept.
class OnTerminal {
public:
    OnTerminal(std::vector<std::string> arguments, const std::map<std::string, std::string>& environment)
    {
        arguments.insert(arguments.begin(), FERLOW_PROGRAM);
        std::vector<std::string> variables {"TERM=xterm"};
        for (const auto& [name, value] : environment)
            variables.push_back(name + "=" + value);
        const auto argv = pointers(arguments), envp = pointers(variables);
        winsize size {};
        size.ws_row = rows;
        size.ws_col = columns;
        m_pid = ::forkpty(&m_terminal, nullptr, nullptr, &size);
        if (m_pid == 0) {
            ::execve(FERLOW_PROGRAM, argv.data(), envp.data());
            ::_exit(127);
        }
    }

    ~OnTerminal()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_terminal >= 0)
            ::close(m_terminal);
    }

    // Reads until the output holds `text`; false if it did not come in time.
    bool waitFor(const std::string& text, std::chrono::milliseconds limit = 10s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (output.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready {m_terminal, POLLIN, 0};
            char chunk[4096];
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                return false;
            const auto got = ::read(m_terminal, chunk, sizeof chunk);
            if (got <= 0)
                return false;
            output.append(chunk, static_cast<std::size_t>(got));
        }
        return true;
    }

    void type(const std::string& text) { ASSERT_EQ(::write(m_terminal, text.data(), text.size()), ssize_t(text.size())); }

    std::string output;

private:
    static std::vector<char*> pointers(std::vector<std::string>& strings)
    {
        std::vector<char*> result;
        for (auto& s : strings)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    }

    pid_t m_pid = -1;
    int m_terminal = -1;
};

// The screen after `output`, as xterm keeps it: lines wrap after the 80th
// column, "\r", "\n" and erase-to-end-of-line move and clear, and only the
// colours of other escape sequences count. Each cell keeps its character and
// whether its upper and lower halves are light: half blocks take the
// foreground's colour, everything else the background's, which is black
// unless SGR 107 makes it bright white (text in the default colours is not
// part of any code).
class Screen {
public:
    struct Cell {
        std::string glyph = " ";
        bool upperLight = false, lowerLight = false;
    };

    explicit Screen(const std::string& output)
    {
        bool lightBackground = false, darkText = false;
        for (std::size_t at = 0; at < output.size();) {
            const char c = output[at];
            if (c == '\x1b' && at + 1 < output.size() && output[at + 1] == '[') {
                const auto end = output.find_first_of("ABCDEFGHJKSTfmhl", at + 2);
                const std::string parameters = output.substr(at + 2, end - at - 2);
                if (output[end] == 'm') {
                    for (const auto& code : split(parameters)) {
                        if (code.empty() || code == "0")
                            lightBackground = darkText = false;
                        else if (code == "107")
                            lightBackground = true;
                        else if (code == "30")
                            darkText = true;
                    }
                } else if (output[end] == 'K') {
                    for (int x = m_column; x < columns; ++x)
                        m_cells[m_row][x] = Cell {" ", lightBackground, lightBackground};
                }
                at = end + 1;
                continue;
            }
            if (c == '\r') {
                m_column = 0;
                ++at;
                continue;
            }
            if (c == '\n') {
                lineFeed();
                ++at;
                continue;
            }
            // One character of UTF-8: the lead byte's high bits say how long.
            const auto lead = static_cast<unsigned char>(c);
            std::size_t length = 1;
            while (length < 4 && (lead & 0x80) != 0 && (lead & (0x80 >> length)) != 0)
                ++length;
            if (m_column == columns) {
                m_column = 0;
                lineFeed();
            }
            const std::string glyph = output.substr(at, length);
            const auto half = [&](bool inked) { return inked ? !darkText : lightBackground; };
            Cell& cell = m_cells[m_row][m_column++];
            cell.glyph = glyph;
            cell.upperLight = half(glyph == "\u2580" || glyph == "\u2588");
            cell.lowerLight = half(glyph == "\u2584" || glyph == "\u2588");
            at += length;
        }
    }

    // Row `y` as text, without trailing blanks.
    std::string line(int y) const
    {
        std::string text;
        for (const auto& cell : m_cells[y])
            text += cell.glyph;
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }

    // A binary PGM image of the screen, each half cell `scale` pixels square.
    std::string image(int scale) const
    {
        std::string pixels;
        for (int y = 0; y < rows * 2 * scale; ++y)
            for (int x = 0; x < columns * scale; ++x) {
                const Cell& cell = m_cells[y / (2 * scale)][x / scale];
                pixels += (y / scale) % 2 == 0 ? (cell.upperLight ? '\xff' : '\0') : (cell.lowerLight ? '\xff' : '\0');
            }
        return "P5\n" + std::to_string(columns * scale) + " " + std::to_string(rows * 2 * scale) + "\n255\n" + pixels;
    }

private:
    static std::vector<std::string> split(const std::string& parameters)
    {
        std::vector<std::string> codes(1);
        for (const char c : parameters) {
            if (c == ';')
                codes.emplace_back();
            else
                codes.back().push_back(c);
        }
        return codes;
    }

    void lineFeed()
    {
        if (++m_row < rows)
            return;
        m_cells.erase(m_cells.begin());
        m_cells.emplace_back(columns);
        m_row = rows - 1;
    }

    std::vector<std::vector<Cell>> m_cells {rows, std::vector<Cell>(columns)};
    int m_row = 0, m_column = 0;
};

TEST(Terminal, TheCodeAndTheLinesThatMatterFitEightyByTwentyFour)
{
    test::FerlowHome home;
    home.environment["FERLOW_TEST_TERMS"] = "1";
    const auto port = test::freePort();
    OnTerminal terminal({"--headless", "--port", std::to_string(port)}, home.environment);
    ASSERT_TRUE(terminal.waitFor("Agree and continue? [y/N] ")) << terminal.output;
    terminal.type("y\n");
    ASSERT_TRUE(terminal.waitFor("Code works for 10:00")) << terminal.output;

    // The question came first, then the code and three short lines under
    // it, the last one the countdown with the cursor on it.
    const std::string& output = terminal.output;
    EXPECT_LT(output.find("Agree and continue?"), output.find("\u2588"));
    const Screen screen(output);
    EXPECT_TRUE(std::regex_match(screen.line(rows - 3), std::regex("Ferlow listening on http://[^ ]+:" + std::to_string(port))))
        << screen.line(rows - 3);
    EXPECT_TRUE(screen.line(rows - 2).starts_with("Input: ")) << screen.line(rows - 2);
    EXPECT_EQ(screen.line(rows - 1), "Code works for 10:00");

    std::smatch url;
    ASSERT_TRUE(std::regex_search(output, url, std::regex("http://[^ \r\n]+/#[A-Za-z0-9_-]+\\.[A-Za-z0-9_-]+")));
    const auto file = home.folder.path() / "screen.pgm";
    test::writeFile(file, screen.image(4));
    FILE* reader = ::popen(("zbarimg --raw -q " + file.string() + " 2>/dev/null").c_str(), "r");
    ASSERT_TRUE(reader);
    std::string read;
    char chunk[512];
    while (const auto got = std::fread(chunk, 1, sizeof chunk, reader))
        read.append(chunk, got);
    const int status = ::pclose(reader);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    EXPECT_EQ(read, url.str() + "\n");
}

} // namespace
} // namespace ferlow
