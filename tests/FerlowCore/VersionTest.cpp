#include "FerlowCore/ReleaseInfo.h"
#include "FerlowCore/Terms.h"
#include "FerlowCore/Version.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/CodingError.h"

namespace ferlow {
namespace {

using Parts = std::vector<std::int64_t>;

TEST(VersionNumbers, PartsAndOrdering)
{
    const std::pair<const char*, Parts> parts[] = {{"1.4.2", {1, 4, 2}}, {"2.0b3", {2, 0}}, {"1.5-beta.2", {1, 5, 2}},
        {"1..2", {1, 2}}, {"v1.x", {0, 0}}, {"99999999999999999999.1", {0, 1}}, {"", {}}};
    for (const auto& [text, expected] : parts)
        EXPECT_EQ(Version::parts(text), expected) << text;

    const struct {
        const char* a;
        const char* b;
        bool older;
    } cases[] = {
        {"1.4.2", "1.4.10", true}, {"1.4.2", "1.5", true}, {"1.4.0", "1.4", false}, {"1.4", "1.4.0", false},
        {"2", "1.99.99", false}, {"1.9", "1.10", true}, {"1.2.3", "1.2.3", false}, {"0", "0.0.1", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Version::isOlder(c.a, c.b), c.older) << c.a << " vs " << c.b;
}

TEST(ReleaseDocument, StatusForTheRunningVersion)
{
    const ReleaseInfo release {"1.5.0", "1.2.0", std::nullopt, std::nullopt};
    EXPECT_EQ(release.status("1.1.9"), UpdateStatus::required("1.5.0"));
    EXPECT_EQ(release.status("1.2.0"), UpdateStatus::available("1.5.0"));
    EXPECT_EQ(release.status("1.5.0"), UpdateStatus::upToDate());
    EXPECT_EQ(release.status("1.6.0"), UpdateStatus::upToDate());
    EXPECT_EQ(release.status("0"), UpdateStatus::required("1.5.0"));
    // A minimum above latest still asks for latest.
    EXPECT_EQ((ReleaseInfo {"1.0", "2.0", std::nullopt, std::nullopt}).status("1.5"), UpdateStatus::required("1.0"));
}

TEST(ReleaseDocument, Coding)
{
    const auto minimal = ReleaseInfo::decode(asBytes(R"({"latest":"1.5.0","minimum":"1.0.0","extra":true})"));
    EXPECT_EQ(minimal, (ReleaseInfo {"1.5.0", "1.0.0", std::nullopt, std::nullopt}));
    EXPECT_EQ(minimal.encode().dump(), R"({"latest":"1.5.0","minimum":"1.0.0"})");
    const ReleaseInfo full {"2.0", "1.0", "Faster scrolling", 3};
    EXPECT_EQ(ReleaseInfo::decode(asBytes(full.encode().dump())), full);
    for (const char* bad : {R"({"latest":"1.5.0"})", R"({"latest":1.5,"minimum":"1"})",
             R"({"latest":"1","minimum":"1","terms":"2"})", R"([])", "not json"})
        EXPECT_THROW(ReleaseInfo::decode(asBytes(bad)), DecodingError) << bad;
}

TEST(TermsOfUse, RequiredVersionNeverDropsBelowTheBundledOne)
{
    for (const auto& [latest, required] : {std::pair<std::optional<std::int64_t>, std::int64_t> {std::nullopt, 1}, {0, 1}, {-4, 1}, {3, 3}})
        EXPECT_EQ(Terms::required(latest), required);
    EXPECT_TRUE(Terms::needsAgreement(0, std::nullopt) && Terms::needsAgreement(1, 2));
    EXPECT_FALSE(Terms::needsAgreement(1, 1) || Terms::needsAgreement(3, 2));
}

} // namespace
} // namespace ferlow
