#include "FerlowServer/HTTPRequest.h"

#include <algorithm>
#include <array>
#include <vector>

#include "FerlowCore/ASCII.h"

namespace ferlow {

namespace {

constexpr std::array<std::uint8_t, 4> headTerminator {'\r', '\n', '\r', '\n'};
constexpr std::string_view replacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

// UTF-8 decoding that replaces each maximal invalid subsequence with U+FFFD
// (the Unicode Standard's recommended practice, also the WHATWG decoder's).
std::string decodeUTF8Lossy(ByteView bytes)
{
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            text.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        std::size_t needed = 0;
        std::uint8_t lowest = 0x80;
        std::uint8_t highest = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            lowest = lead == 0xE0 ? 0xA0 : 0x80; // no overlong forms
            highest = lead == 0xED ? 0x9F : 0xBF; // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            lowest = lead == 0xF0 ? 0x90 : 0x80;
            highest = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
        } else {
            text += replacementCharacter;
            ++i;
            continue;
        }
        std::size_t next = i + 1;
        std::size_t taken = 0;
        while (taken < needed && next < bytes.size()) {
            const std::uint8_t byte = bytes[next];
            const std::uint8_t low = taken == 0 ? lowest : std::uint8_t(0x80);
            const std::uint8_t high = taken == 0 ? highest : std::uint8_t(0xBF);
            if (byte < low || byte > high)
                break;
            ++taken;
            ++next;
        }
        if (taken == needed)
            text.append(asText(bytes.subspan(i, next - i)));
        else
            text += replacementCharacter; // the offending byte starts the next round
        i = next;
    }
    return text;
}

std::string_view trimSpacesAndTabs(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Pieces of the request line between single spaces; a run of spaces counts as one.
std::vector<std::string_view> splitAtSpaces(std::string_view line)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= line.size()) {
        const auto space = std::min(line.find(' ', start), line.size());
        if (space > start)
            pieces.push_back(line.substr(start, space - start));
        start = space + 1;
    }
    return pieces;
}

HTTPRequest parseHead(std::string_view text)
{
    HTTPRequest request;
    std::size_t lineStart = 0;
    bool firstLine = true;
    while (lineStart <= text.size()) {
        const auto end = std::min(text.find("\r\n", lineStart), text.size());
        const auto line = text.substr(lineStart, end - lineStart);
        lineStart = end + 2;
        if (firstLine) {
            firstLine = false;
            const auto pieces = splitAtSpaces(line);
            if (pieces.size() != 3 || !pieces[2].starts_with("HTTP/1.") || !pieces[1].starts_with("/"))
                throw HTTPError(HTTPError::Kind::malformed);
            request.method = pieces[0];
            request.path = pieces[1];
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string_view::npos)
            throw HTTPError(HTTPError::Kind::malformed);
        request.headers.insert_or_assign(lowerASCII(trimSpacesAndTabs(line.substr(0, colon))),
            std::string(trimSpacesAndTabs(line.substr(colon + 1))));
    }
    return request;
}

} // namespace

std::optional<HTTPRequest> HTTPRequest::parse(Bytes& buffer)
{
    std::size_t searched = 0;
    return parse(buffer, searched);
}

std::optional<HTTPRequest> HTTPRequest::parse(Bytes& buffer, std::size_t& searched)
{
    // A terminator may straddle the old end: step back by all but one of its bytes.
    const std::size_t known = std::min(searched, buffer.size());
    const std::size_t from = known >= headTerminator.size() ? known - (headTerminator.size() - 1) : 0;
    const auto terminator = std::search(buffer.begin() + std::ptrdiff_t(from), buffer.end(), headTerminator.begin(),
        headTerminator.end());
    if (terminator == buffer.end()) {
        searched = buffer.size();
        if (buffer.size() > maxHead)
            throw HTTPError(HTTPError::Kind::headerTooLarge);
        return std::nullopt;
    }
    searched = 0;
    const auto headLength = static_cast<std::size_t>(terminator - buffer.begin());
    if (headLength > maxHead)
        throw HTTPError(HTTPError::Kind::headerTooLarge);
    const std::string text = decodeUTF8Lossy(ByteView(buffer).first(headLength));
    buffer.erase(buffer.begin(), terminator + headTerminator.size());
    return parseHead(text);
}

std::optional<std::string_view> HTTPRequest::header(std::string_view name) const
{
    const auto found = headers.find(name);
    if (found == headers.end())
        return std::nullopt;
    return found->second;
}

} // namespace ferlow
