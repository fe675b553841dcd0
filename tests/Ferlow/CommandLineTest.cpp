#include <gtest/gtest.h>

#include "Ferlow/CommandLine.h"

namespace ferlow {
namespace {

TEST(CommandLine, NonsenseIsAUsageErrorAndOptionsCombine)
{
    const std::vector<std::vector<std::string_view>> cases {
        {"--port", "0", "--headless"}, {"--port", "65536", "--headless"}, {"--port", "80x", "--headless"},
        {"--port", "", "--headless"}, {"--headless", "--port"}, {"--port", "8080"}, {"--list", "--forget", "a"},
        {"--forget"}, {"--forget="}, {"--yes"}, {"--list", "--agree-terms"}, {"-x"}, {"headless"},
    };
    for (const auto& arguments : cases)
        EXPECT_THROW(CommandLine::parse(arguments), UsageError) << testing::PrintToString(arguments);
    const auto line = CommandLine::parse({"--port=65535", "--agree-terms", "--pair"});
    EXPECT_EQ(line.command, CommandLine::Command::pair);
    EXPECT_EQ(line.port, 65535);
    EXPECT_TRUE(line.agreeTerms);
}

} // namespace
} // namespace ferlow
