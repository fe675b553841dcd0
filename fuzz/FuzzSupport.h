#pragma once

// What the fuzz targets share: a property check that stops the run with a
// reason, and a reader that cuts the fuzzer's bytes into the parts a target
// needs (a count, a length, the rest).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow::fuzz {

inline void require(bool holds, const char* property)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", property);
        std::abort();
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : m_bytes(data, size) { }

    bool empty() const { return m_bytes.empty(); }
    // The next byte; 0 once the input is used up.
    std::uint8_t byte()
    {
        if (m_bytes.empty())
            return 0;
        const auto b = m_bytes.front();
        m_bytes = m_bytes.subspan(1);
        return b;
    }
    // Up to `count` bytes.
    ByteView take(std::size_t count)
    {
        const auto part = m_bytes.first(std::min(count, m_bytes.size()));
        m_bytes = m_bytes.subspan(part.size());
        return part;
    }
    // Everything up to the next `separator` (which is consumed), or the rest.
    std::string_view line(char separator = '\n')
    {
        const auto text = asText(m_bytes);
        const auto end = std::min(text.find(separator), text.size());
        m_bytes = m_bytes.subspan(std::min(end + 1, text.size()));
        return text.substr(0, end);
    }
    ByteView rest() { return take(m_bytes.size()); }

private:
    ByteView m_bytes;
};

// A folder of the target's own under the temporary directory, made once per
// process and removed when it ends.
inline const std::filesystem::path& scratchFolder()
{
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ferlow-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(scratchFolder(), ignored);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// Every entry under `folder` by name, with its type, mode and content (or
// link target): two snapshots are equal only if nothing was written.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& folder)
{
    std::map<std::string, std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const auto status = entry.symlink_status();
        std::string state = std::to_string(static_cast<int>(status.type())) + " "
            + std::to_string(static_cast<unsigned>(status.permissions())) + " ";
        if (status.type() == std::filesystem::file_type::symlink) {
            state += std::filesystem::read_symlink(entry.path()).string();
        } else if (status.type() == std::filesystem::file_type::regular) {
            std::ifstream in(entry.path(), std::ios::binary);
            state.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        entries[std::filesystem::relative(entry.path(), folder).string()] = std::move(state);
    }
    return entries;
}

// Empties `folder` and writes `content` as the file `name` in it.
inline void plantFile(const std::filesystem::path& folder, const std::string& name, ByteView content)
{
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

} // namespace ferlow::fuzz
