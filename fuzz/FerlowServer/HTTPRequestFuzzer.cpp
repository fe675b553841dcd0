// Request heads come from any peer on the network, cut into reads of any
// size. The answer must not depend on how the head was cut, and a parsed head
// must hold what the grammar promises.
#include <optional>
#include <variant>

#include "FerlowServer/HTTPRequest.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

namespace {

using Outcome = std::variant<std::monostate, HTTPRequest, HTTPError::Kind>; // more bytes needed, a head, refused

bool trimmed(std::string_view text)
{
    return text.empty() || (text.front() != ' ' && text.front() != '\t' && text.back() != ' ' && text.back() != '\t');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    const std::size_t step = 1 + input.byte() % 97;
    const ByteView stream = input.rest();

    Bytes whole(stream.begin(), stream.end());
    Outcome all;
    try {
        if (auto request = HTTPRequest::parse(whole))
            all = std::move(*request);
    } catch (const HTTPError& error) {
        all = error.kind();
    }

    Bytes buffer;
    std::size_t searched = 0;
    Outcome pieces;
    for (std::size_t at = 0; at < stream.size() && std::holds_alternative<std::monostate>(pieces); at += step) {
        const auto piece = stream.subspan(at, std::min(step, stream.size() - at));
        buffer.insert(buffer.end(), piece.begin(), piece.end());
        try {
            if (auto request = HTTPRequest::parse(buffer, searched))
                pieces = std::move(*request);
        } catch (const HTTPError& error) {
            pieces = error.kind();
        }
    }

    require(asText(stream).ends_with(asText(whole)), "only the head leaves the buffer");
    if (const auto* request = std::get_if<HTTPRequest>(&all)) {
        require(request->path.starts_with('/'), "a target begins with /");
        require(!request->method.empty() && request->method.find(' ') == std::string::npos, "a method is one token");
        for (const auto& [name, value] : request->headers) {
            require(name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ:") == std::string::npos, "names are lower-case");
            require(trimmed(name) && trimmed(value), "names and values are trimmed");
        }
    }
    // The limit counts what has arrived, so a head within three bytes of it
    // is refused when its blank line arrives split across reads.
    const bool blankLineCut = stream.size() - whole.size() > HTTPRequest::maxHead
        && pieces == Outcome(HTTPError::Kind::headerTooLarge);
    if (!blankLineCut) {
        require(pieces == all, "a head cut into reads is answered as it is whole");
        if (std::holds_alternative<HTTPRequest>(all))
            require(asText(whole).starts_with(asText(buffer)), "the bytes after the head stay in the buffer");
    }
    return 0;
}
