#include <gtest/gtest.h>

#include "FerlowServer/StaticFiles.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

class StaticFilesTest : public ::testing::Test {
protected:
    StaticFilesTest()
    {
        for (const char* name : {"pad/index.html", "pad/app.JS", "pad/notes.txt", "pad/sub/index.html", "pad/my file.css",
                 "secret"})
            test::writeFile(m_folder.path() / name, name);
        test::writeFile(m_folder.path() / "pad/empty.json", "");
        for (int i = 0; i < 1000; ++i)
            m_thousand.push_back(static_cast<std::uint8_t>(i % 251));
        test::writeFile(m_folder.path() / "pad/thousand.mp4", asText(m_thousand));
        std::filesystem::create_symlink(m_folder.path() / "secret", m_folder.path() / "pad/out");
        std::filesystem::create_symlink(m_folder.path() / "pad/index.html", m_folder.path() / "pad/in");
    }

    FileResponse get(std::string_view target, std::optional<std::string_view> range = std::nullopt) const
    {
        // The root as given may be unstandardised.
        return StaticFiles(m_folder.path() / "pad/../pad/").response(target, range);
    }

    test::TemporaryDirectory m_folder;
    Bytes m_thousand;
};

TEST_F(StaticFilesTest, ServesFilesInsideTheRootWithTheirTypes)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/", "pad/index.html", "text/html; charset=utf-8"},
        {"/index.html?v=3#top", "pad/index.html", "text/html; charset=utf-8"},
        {"/app.JS", "pad/app.JS", "text/javascript; charset=utf-8"},
        {"/notes.txt", "pad/notes.txt", "application/octet-stream"},
        {"/my%20file.css", "pad/my file.css", "text/css; charset=utf-8"},
        {"/in", "pad/index.html", "text/html; charset=utf-8"}, // a link within the root, typed by its file
        {"/empty.json", "", "application/json"},
    };
    for (const auto& [target, body, type] : cases) {
        const auto response = get(target);
        EXPECT_EQ(response, (FileResponse {200, type, toBytes(body), std::nullopt})) << target;
    }
}

TEST_F(StaticFilesTest, AnythingOutsideTheRootOrMalformedIsNotFound)
{
    const FileResponse notFound {404, "text/plain; charset=utf-8", toBytes("Not found"), std::nullopt};
    for (const char* target : {"/../secret", "/%2e%2e/secret", "/%2E%2E%2Fsecret", "/sub/../../secret", "/out", "/sub/",
             "/sub", "/missing.html", "/index.html%00.png", "/%zzindex.html", "/index.html%", "/index.html%4", "/..",
             "//"})
        EXPECT_EQ(get(target), notFound) << target;
}

TEST_F(StaticFilesTest, RangesOfAThousandByteFile)
{
    const std::tuple<const char*, int, std::size_t, std::size_t, const char*> cases[] = {
        {"bytes=0-99", 206, 0, 100, "bytes 0-99/1000"},
        {"bytes=900-", 206, 900, 100, "bytes 900-999/1000"},
        {"bytes=-100", 206, 900, 100, "bytes 900-999/1000"},
        {"bytes=-5000", 206, 0, 1000, "bytes 0-999/1000"},
        {"bytes=990-5000", 206, 990, 10, "bytes 990-999/1000"},
        {"bytes=-9223372036854775807", 206, 0, 1000, "bytes 0-999/1000"},
        {"bytes=+5-+9", 206, 5, 5, "bytes 5-9/1000"}, // one sign is a decimal integer
        {"bytes=1000-", 416, 0, 0, "bytes */1000"},
        {"bytes=5-3", 416, 0, 0, "bytes */1000"},
        {"bytes=-0", 416, 0, 0, "bytes */1000"},
        // Ignored: the whole file.
        {"bytes=0-1,5-6", 200, 0, 1000, ""},
        {"bytes=abc-", 200, 0, 1000, ""},
        {"bytes=", 200, 0, 1000, ""},
        {"bytes=99999999999999999999-", 200, 0, 1000, ""},
        {"bytes=--9223372036854775808", 200, 0, 1000, ""}, // a suffix whose arithmetic overflows
        {"bytes=-+-6", 200, 0, 1000, ""},                  // two signs are not
    };
    for (const auto& [range, status, first, length, contentRange] : cases) {
        const auto response = get("/thousand.mp4", range);
        const auto begin = m_thousand.begin() + std::ptrdiff_t(first);
        EXPECT_EQ(response.status, status) << range;
        EXPECT_EQ(response.contentType, "video/mp4") << range;
        EXPECT_EQ(response.body, Bytes(begin, begin + std::ptrdiff_t(length))) << range;
        EXPECT_EQ(response.contentRange.value_or(""), contentRange) << range;
    }
    // An empty file has no last byte: bytes=0- selects nothing and is ignored.
    EXPECT_EQ(get("/empty.json", "bytes=0-").status, 200);
}

} // namespace
} // namespace ferlow
