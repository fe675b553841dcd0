#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "FerlowCore/PhoneMessage.h"
#include "FerlowInput/EventPoster.h"

namespace ferlow {

// Readable events and messages in assertion failures.
inline void PrintTo(const EventSpec& spec, std::ostream* out) { *out << spec.description(); }
inline void PrintTo(const PhoneMessage& message, std::ostream* out) { *out << message.description(); }

// The platform seam in tests: remembers every post.
class RecordingPoster final : public EventPoster {
public:
    void post(const std::vector<EventSpec>& specs) override { posts.push_back(specs); }
    std::vector<std::vector<EventSpec>> posts;
};

// A fresh folder under /tmp, removed with everything in it afterwards.
class TemporaryDirectory final {
public:
    TemporaryDirectory()
    {
        std::string pattern = "/tmp/ferlow-test-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TemporaryDirectory() noexcept
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

inline void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline mode_t modeOf(const std::filesystem::path& path)
{
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

} // namespace ferlow
