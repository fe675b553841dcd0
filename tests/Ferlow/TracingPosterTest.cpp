#include "Ferlow/TracingPoster.h"

#include <gtest/gtest.h>

#include "tests/Support/RecordingPoster.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

TEST(TracingPosterTest, WritesOneLinePerSpecPrivatelyBeforeForwarding)
{
    test::TemporaryDirectory folder;
    const auto path = folder.path() / "trace.txt";
    test::writeFile(path, "an older trace\n");
    ::chmod(path.c_str(), 0644);
    auto inner = std::make_shared<RecordingPoster>();
    EXPECT_FALSE(TracingPoster::make(inner, folder.path() / "missing" / "trace.txt"));
    EXPECT_FALSE(TracingPoster::make(inner, folder.path()));

    double now = 100;
    auto poster = TracingPoster::make(inner, path, [&] { return now; });
    ASSERT_TRUE(poster);
    EXPECT_EQ(test::fileMode(path), 0600u);
    now = 100.0123;
    const std::vector<EventSpec> specs {EventSpec::mouse(6, {5, 5}, 0, 0, {3, -4}), EventSpec::scroll(-7, 2, 4, 3),
        EventSpec::key(55, 0x100000, true), EventSpec::mouse(5, {0, 0}, 0, 0, {1e20, 0})};
    poster->post(specs);
    poster->post({});
    EXPECT_EQ(test::readFile(path),
        "12.30 mouse 6 3 -4\n12.30 scroll -7 2 4 3\n12.30 other\n12.30 mouse 5 100000000000000000000 0\n");
    EXPECT_EQ(inner->posts, (std::vector<std::vector<EventSpec>> {specs, {}}));
}

} // namespace
} // namespace ferlow
