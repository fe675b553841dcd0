#include "FerlowServer/WebSocketHandshake.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>

#include <openssl/evp.h>

#include "FerlowCore/Base64URL.h"
#include "FerlowCore/ASCII.h"

namespace ferlow {

namespace {

constexpr std::string_view websocketGUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// RFC 3986 3.2.2: characters that may stand in a registered name or an IP literal.
bool isHostCharacter(char c)
{
    static constexpr std::string_view allowed = "-._~!$&'()*+,;=:[]%";
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || allowed.find(c) != std::string_view::npos;
}

// The "host[:port]" that an http URL names, the way the Host header spells it
// (RFC 7230 5.4); absent when the text is not an http URL with a host.
std::optional<std::string> httpAuthority(std::string_view url)
{
    constexpr std::string_view scheme = "http://";
    if (!url.starts_with(scheme))
        return std::nullopt;
    auto authority = url.substr(scheme.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1); // user information is not part of the origin

    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        host = authority.substr(0, close + 1);
        const auto rest = authority.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':'))
            return std::nullopt;
        port = rest.empty() ? rest : rest.substr(1);
    } else if (const auto colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), isHostCharacter))
        return std::nullopt;
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), isDigit))
        return std::nullopt;
    std::string result(host);
    if (!port.empty()) {
        const int number = std::stoi(std::string(port));
        if (number > 65535)
            return std::nullopt;
        result += ":" + std::to_string(number);
    }
    return result;
}

} // namespace

bool isWebSocketUpgrade(const HTTPRequest& request)
{
    const auto upgrade = request.header("upgrade");
    const auto connection = request.header("connection");
    return request.method == "GET" && upgrade && lowerASCII(*upgrade) == "websocket" && connection
        && lowerASCII(*connection).find("upgrade") != std::string::npos && request.header("sec-websocket-key");
}

bool originMatchesHost(const HTTPRequest& request)
{
    const auto origin = request.header("origin");
    const auto host = request.header("host");
    if (!origin || !host)
        return false;
    const auto authority = httpAuthority(*origin);
    return authority && lowerASCII(*authority) == lowerASCII(*host);
}

std::string websocketAccept(std::string_view key)
{
    const std::string input = std::string(key) + std::string(websocketGUID);
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest {};
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1)
        throw std::runtime_error("SHA-1 unavailable");
    return Base64::encode(ByteView(digest.data(), length));
}

} // namespace ferlow
