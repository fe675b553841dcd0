#include <gtest/gtest.h>

#include <limits>

#include "FerlowServer/StaticFiles.h"
#include "TestClient.h"

namespace ferlow {
namespace {

using test::TempFolder;

class StaticFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder.write("pad/index.html", "<html>");
        m_folder.write("pad/app.JS", "js");
        m_folder.write("pad/notes.txt", "txt");
        m_folder.write("pad/sub/index.html", "sub");
        m_folder.write("pad/my file.css", "css");
        m_folder.write("pad/empty.json", "");
        m_folder.write("secret", "secret");
        for (int i = 0; i < 1000; ++i)
            m_thousand.push_back(static_cast<std::uint8_t>(i % 251));
        m_folder.write("pad/thousand.mp4", asText(m_thousand));
        std::filesystem::create_symlink(m_folder.path() / "secret", m_folder.path() / "pad/out");
        std::filesystem::create_symlink(m_folder.path() / "pad/index.html", m_folder.path() / "pad/in");
    }

    FileResponse get(std::string_view target, std::optional<std::string_view> range = std::nullopt) const
    {
        // A root given with a redundant separator and a ".." is standardised first.
        return StaticFiles(m_folder.path() / "pad/../pad/").response(target, range);
    }

    TempFolder m_folder;
    Bytes m_thousand;
};

TEST_F(StaticFilesTest, ServesFilesInsideTheRootWithTheirTypes)
{
    struct Case {
        const char* target;
        const char* body;
        const char* type;
    };
    const Case cases[] = {
        {"/", "<html>", "text/html; charset=utf-8"},
        {"/index.html?v=3#top", "<html>", "text/html; charset=utf-8"},
        {"//index.html", "<html>", "text/html; charset=utf-8"},
        {"/app.JS", "js", "text/javascript; charset=utf-8"},
        {"/notes.txt", "txt", "application/octet-stream"},
        {"/my%20file.css", "css", "text/css; charset=utf-8"},
        {"/in", "<html>", "text/html; charset=utf-8"}, // a link within the root, typed by the file it names
        {"/empty.json", "", "application/json"},
    };
    for (const auto& c : cases) {
        const auto response = get(c.target);
        EXPECT_EQ(response.status, 200) << c.target;
        EXPECT_EQ(asText(response.body), c.body) << c.target;
        EXPECT_EQ(response.contentType, c.type) << c.target;
        EXPECT_FALSE(response.contentRange) << c.target;
    }
}

TEST_F(StaticFilesTest, AnythingOutsideOrMalformedIsNotFound)
{
    const char* targets[] = {"/../secret", "/%2e%2e/secret", "/%2E%2E%2Fsecret", "/sub/../../secret", "/out",
        "/sub/", "/sub", "/missing.html", "/index.html%00.png", "/%zzindex.html", "/index.html%", "/index.html%4",
        "/..", "/%2e", "//"};
    for (const char* target : targets) {
        const auto response = get(target);
        EXPECT_EQ(response.status, 404) << target;
        EXPECT_EQ(response.contentType, "text/plain; charset=utf-8");
        EXPECT_EQ(asText(response.body), "Not found");
    }
}

TEST_F(StaticFilesTest, RangesOfAThousandByteFile)
{
    struct Case {
        const char* range;
        int status;
        std::size_t first;
        std::size_t length;
        const char* contentRange; // "" for none
    };
    const Case cases[] = {
        {"bytes=0-99", 206, 0, 100, "bytes 0-99/1000"},
        {"bytes=900-", 206, 900, 100, "bytes 900-999/1000"},
        {"bytes=-100", 206, 900, 100, "bytes 900-999/1000"},
        {"bytes=-5000", 206, 0, 1000, "bytes 0-999/1000"},
        {"bytes=990-5000", 206, 990, 10, "bytes 990-999/1000"},
        {"bytes=+5-+6", 206, 5, 2, "bytes 5-6/1000"},
        {"bytes=1000-", 416, 0, 0, "bytes */1000"},
        {"bytes=5-3", 416, 0, 0, "bytes */1000"},
        {"bytes=-0", 416, 0, 0, "bytes */1000"},
        {"bytes=0-1,5-6", 200, 0, 1000, ""},
        {"items=0-1", 200, 0, 1000, ""},
        {"Bytes=0-1", 200, 0, 1000, ""},
        {"bytes=abc-", 200, 0, 1000, ""},
        {"bytes=", 200, 0, 1000, ""},
        {"bytes=5", 200, 0, 1000, ""},
        {"bytes= 5-6", 200, 0, 1000, ""},
        {"bytes=5--3", 200, 0, 1000, ""},
        {"bytes=99999999999999999999-", 200, 0, 1000, ""},
        // A suffix whose arithmetic cannot be represented is ignored, not a crash.
        {"bytes=--9223372036854775808", 200, 0, 1000, ""},
        {"bytes=--9223372036854775807", 200, 0, 1000, ""},
        {"bytes=-9223372036854775807", 206, 0, 1000, "bytes 0-999/1000"},
    };
    for (const auto& c : cases) {
        const auto response = get("/thousand.mp4", c.range);
        EXPECT_EQ(response.status, c.status) << c.range;
        EXPECT_EQ(response.contentType, "video/mp4") << c.range;
        EXPECT_EQ(response.body, Bytes(m_thousand.begin() + std::ptrdiff_t(c.first),
                                     m_thousand.begin() + std::ptrdiff_t(c.first + c.length)))
            << c.range;
        EXPECT_EQ(response.contentRange.value_or(""), c.contentRange) << c.range;
    }
}

TEST_F(StaticFilesTest, EmptyFileWithAnOpenRangeIsAWholeAnswer)
{
    EXPECT_FALSE(StaticFiles::parseRange("bytes=0-", 0));
    const auto response = get("/empty.json", "bytes=0-");
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body.empty());
}

TEST(StaticFilesRange, ExtremeValuesDoNotOverflow)
{
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(StaticFiles::parseRange("bytes=-9223372036854775807", most), std::pair(std::int64_t(0), most - 1));
    EXPECT_FALSE(StaticFiles::parseRange("bytes=--1", most)); // most + 1 is not representable
    EXPECT_EQ(StaticFiles::parseRange("bytes=--1", 10), std::pair(std::int64_t(11), std::int64_t(9)));
}

} // namespace
} // namespace ferlow
