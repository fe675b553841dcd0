#include "FerlowServer/HTTPRequest.h"

#include <algorithm>
#include <array>
#include <vector>

#include "FerlowCore/ASCII.h"
#include "FerlowCore/UTF8.h"

namespace ferlow {

namespace {

constexpr std::array<std::uint8_t, 4> headTerminator {'\r', '\n', '\r', '\n'};

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
    const std::string text = UTF8::decodeLossy(ByteView(buffer).first(headLength));
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
