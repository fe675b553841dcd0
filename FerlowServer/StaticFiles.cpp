#include "FerlowServer/StaticFiles.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

#include "FerlowCore/ASCII.h"

namespace ferlow {

namespace {

constexpr std::string_view octetStream = "application/octet-stream";

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> contentTypes {{
    {"html", "text/html; charset=utf-8"},
    {"js", "text/javascript; charset=utf-8"},
    {"mjs", "text/javascript; charset=utf-8"},
    {"css", "text/css; charset=utf-8"},
    {"json", "application/json"},
    {"webmanifest", "application/manifest+json"},
    {"png", "image/png"},
    {"svg", "image/svg+xml"},
    {"woff2", "font/woff2"},
    {"ico", "image/x-icon"},
    {"mp4", "video/mp4"},
}};

FileResponse notFound()
{
    return {404, "text/plain; charset=utf-8", toBytes("Not found"), std::nullopt};
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// RFC 3986 percent-decoding; absent for a "%" not followed by two hex digits.
std::optional<std::string> percentDecode(std::string_view text)
{
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return decoded;
}

// A signed decimal integer: one optional "+" or "-", then digits only, within
// 64 bits. Anything else (a second sign, spaces, an empty text, overflow) is
// no integer.
std::optional<std::int64_t> parseInteger(std::string_view text)
{
    const bool plus = text.starts_with('+');
    if (plus)
        text.remove_prefix(1); // from_chars reads a "-" but not a "+"
    const std::size_t digitsFrom = !plus && text.starts_with('-') ? 1 : 0;
    if (text.size() == digitsFrom)
        return std::nullopt;
    if (!std::all_of(text.begin() + std::ptrdiff_t(digitsFrom), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<Bytes> readRegularFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    Bytes contents;
    std::array<char, 65536> chunk {};
    while (file) {
        file.read(chunk.data(), std::streamsize(chunk.size()));
        const auto count = static_cast<std::size_t>(file.gcount());
        contents.insert(contents.end(), chunk.data(), chunk.data() + count);
    }
    if (file.bad())
        return std::nullopt;
    return contents;
}

} // namespace

StaticFiles::StaticFiles(const std::filesystem::path& root)
{
    std::error_code error;
    m_root = std::filesystem::weakly_canonical(std::filesystem::absolute(root, error), error);
    if (error)
        m_root = root.lexically_normal();
    if (!m_root.has_filename() && m_root != m_root.root_path())
        m_root = m_root.parent_path(); // no trailing separator
}

std::string_view StaticFiles::contentType(std::string_view extension)
{
    const std::string lower = lowerASCII(extension);
    for (const auto& [known, type] : contentTypes)
        if (known == lower)
            return type;
    return octetStream;
}

FileResponse StaticFiles::response(std::string_view target, std::optional<std::string_view> range) const
{
    target = target.substr(0, target.find('?'));
    target = target.substr(0, target.find('#'));
    const auto decoded = percentDecode(target);
    if (!decoded || decoded->find('\0') != std::string::npos)
        return notFound();

    std::string_view relative = *decoded;
    if (relative == "/")
        relative = "index.html";
    else
        relative.remove_prefix(std::min(relative.find_first_not_of('/'), relative.size()));

    // Resolving links before the prefix check is what keeps a link inside
    // the folder from exposing a file outside it.
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(m_root / relative, error);
    const std::string inside = m_root.native() + "/";
    if (error || !resolved.native().starts_with(inside))
        return notFound();
    // Only regular files: a folder is never listed, and reading a FIFO or a
    // device would block the I/O thread.
    if (!std::filesystem::is_regular_file(resolved, error) || error)
        return notFound();
    auto contents = readRegularFile(resolved);
    if (!contents)
        return notFound();

    auto extension = resolved.extension().native();
    if (!extension.empty())
        extension.erase(0, 1);
    const std::string type(contentType(extension));
    if (!range)
        return {200, type, std::move(*contents), std::nullopt};

    const auto size = static_cast<std::int64_t>(contents->size());
    const auto selected = parseRange(*range, size);
    if (!selected)
        return {200, type, std::move(*contents), std::nullopt};
    const auto [first, last] = *selected;
    if (last < first || first >= size)
        return {416, type, {}, "bytes */" + std::to_string(size)};
    Bytes part(contents->begin() + first, contents->begin() + last + 1);
    return {206, type, std::move(part),
        "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size)};
}

std::optional<std::pair<std::int64_t, std::int64_t>> StaticFiles::parseRange(std::string_view header, std::int64_t size)
{
    constexpr std::string_view unit = "bytes=";
    if (!header.starts_with(unit) || header.find(',') != std::string_view::npos)
        return std::nullopt;
    const auto rangeSet = header.substr(unit.size());
    const auto dash = rangeSet.find('-');
    if (dash == std::string_view::npos)
        return std::nullopt;
    const auto firstText = rangeSet.substr(0, dash);
    const auto secondText = rangeSet.substr(dash + 1);

    if (firstText.empty()) {
        // A suffix range "-K": the last K bytes.
        const auto suffix = parseInteger(secondText);
        std::int64_t start = 0;
        if (!suffix || __builtin_sub_overflow(size, *suffix, &start))
            return std::nullopt; // a length whose arithmetic overflows is ignored like any unusable header
        return std::pair {std::max<std::int64_t>(start, 0), size - 1};
    }
    const auto first = parseInteger(firstText);
    if (!first)
        return std::nullopt;
    std::int64_t last = size - 1;
    if (!secondText.empty()) {
        const auto given = parseInteger(secondText);
        if (!given)
            return std::nullopt;
        last = std::min(*given, size - 1);
    }
    if (last < 0)
        return std::nullopt;
    return std::pair {*first, last};
}

} // namespace ferlow
