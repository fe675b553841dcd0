#include "Ferlow/TracingPoster.h"

#include <fstream>
#include <sys/stat.h>

#include "tests/FerlowInput/TestSupport.h"

namespace ferlow {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Records what the trace file held when the specs were forwarded.
class FileCheckingPoster final : public EventPoster {
public:
    explicit FileCheckingPoster(fs::path path) : m_path(std::move(path)) { }
    void post(const std::vector<EventSpec>& specs) override
    {
        posts.push_back(specs);
        fileAtPost.push_back(readFile(m_path));
    }
    std::vector<std::vector<EventSpec>> posts;
    std::vector<std::string> fileAtPost;

private:
    fs::path m_path;
};

TEST(TracingPosterTest, WritesOneLinePerSpecBeforeForwarding)
{
    TemporaryDirectory folder;
    const auto path = folder.path() / "trace.txt";
    std::ofstream(path) << "an older trace\n";
    ::chmod(path.c_str(), 0644);

    double now = 100;
    auto inner = std::make_shared<FileCheckingPoster>(path);
    auto poster = TracingPoster::make(inner, path, [&] { return now; });
    ASSERT_TRUE(poster);
    struct stat info {};
    ::stat(path.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(readFile(path), "");

    now = 100.0123;
    const std::vector<EventSpec> specs {EventSpec::mouse(6, {5, 5}, 0, 0, {3, -4}),
        EventSpec::scroll(-7, 2, 4, 3), EventSpec::key(55, 0x100000, true),
        EventSpec::mouse(5, {0, 0}, 0, 0, {1e20, 0})};
    poster->post(specs);
    const std::string lines = "12.30 mouse 6 3 -4\n12.30 scroll -7 2 4 3\n12.30 other\n"
                              "12.30 mouse 5 100000000000000000000 0\n";
    EXPECT_EQ(inner->fileAtPost.at(0), lines);

    now = 101;
    poster->post({}); // nothing written, still forwarded
    ASSERT_EQ(inner->posts.size(), 2u);
    EXPECT_EQ(inner->posts[0], specs);
    EXPECT_TRUE(inner->posts[1].empty());
    EXPECT_EQ(readFile(path), lines);
}

TEST(TracingPosterTest, NoPosterWhenTheFileCannotBeCreated)
{
    TemporaryDirectory folder;
    auto inner = std::make_shared<RecordingPoster>();
    EXPECT_FALSE(TracingPoster::make(inner, folder.path() / "missing" / "trace.txt"));
    EXPECT_FALSE(TracingPoster::make(inner, folder.path()));
}

} // namespace
} // namespace ferlow
