#include <gtest/gtest.h>

#include "Ferlow/CommandLine.h"

namespace ferlow {
namespace {

using Command = CommandLine::Command;

TEST(CommandLine, CommandsAndTheOptionsThatGoWithThem)
{
    struct Case {
        std::vector<std::string_view> arguments;
        Command command;
        std::optional<std::uint16_t> port;
        bool agreeTerms;
    };
    const Case cases[] {
        {{}, Command::help, {}, false},
        {{"--headless", "--port", "8080", "--agree-terms"}, Command::headless, 8080, true},
        {{"--port=65535", "--pair"}, Command::pair, 65535, false},
        {{"--agree-terms"}, Command::agreeTerms, {}, true},
        {{"--uninstall", "--yes"}, Command::uninstall, {}, false},
    };
    for (const auto& c : cases) {
        const auto line = CommandLine::parse(c.arguments);
        EXPECT_EQ(line.command, c.command);
        EXPECT_EQ(line.port, c.port);
        EXPECT_EQ(line.agreeTerms, c.agreeTerms);
    }
    EXPECT_EQ(CommandLine::parse({"--forget", "Ana’s Pixel"}).phone, "Ana’s Pixel");
}

TEST(CommandLine, NonsenseIsAUsageError)
{
    const std::vector<std::vector<std::string_view>> cases {
        {"--port", "0", "--headless"}, {"--port", "65536", "--headless"}, {"--port", "80x", "--headless"},
        {"--port", "", "--headless"}, {"--headless", "--port"}, {"--port", "8080"}, {"--list", "--forget", "a"},
        {"--forget"}, {"--forget="}, {"--yes"}, {"--list", "--agree-terms"}, {"-x"}, {"headless"},
    };
    for (const auto& arguments : cases)
        EXPECT_THROW(CommandLine::parse(arguments), UsageError) << testing::PrintToString(arguments);
}

} // namespace
} // namespace ferlow
