// The Origin and Host headers come from any web page the phone's browser
// shows. A match must ignore the case of host names and never admit another
// scheme, and a page served by this host and port (origin "http://" + host)
// must match.
#include "FerlowServer/WebSocketHandshake.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

namespace {

bool matches(std::string_view origin, std::string_view host)
{
    return originMatchesHost({"GET", "/", {{"origin", std::string(origin)}, {"host", std::string(host)}}});
}

std::string swapCase(std::string_view text)
{
    std::string swapped(text);
    for (auto& c : swapped)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            c = static_cast<char>(c ^ 0x20);
    return swapped;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input input(data, size);
    const std::string_view origin = input.line();
    const std::string_view host = input.line();
    const std::string_view name = input.line();

    const bool match = matches(origin, host);
    require(match == matches(origin, swapCase(host)), "a host is case-blind");
    if (origin.starts_with("http://"))
        require(match == matches("http://" + swapCase(origin.substr(7)), host), "an origin's host is case-blind");
    if (match) {
        require(origin.starts_with("http://"), "only plain http pages");
        require(!host.empty() && host.find_first_of("/?#@ \t") == std::string_view::npos, "a host is one authority");
    }

    // A host name as a browser would send it, with a port or without.
    std::string page;
    for (const char c : name.substr(0, 63))
        page.push_back("abcdefghijklmnopqrstuvwxyz0123456789-."[static_cast<unsigned char>(c) % 38]);
    if (page.empty())
        return 0;
    require(matches("http://" + page, page), "this host's own page, default port");
    const unsigned port = 1 + (input.byte() * 256u + input.byte()) % 65535;
    page += ":" + std::to_string(port);
    require(matches("http://" + page, page), "this host's own page, with its port");
    require(!matches("https://" + page, page), "never over https");
    return 0;
}
