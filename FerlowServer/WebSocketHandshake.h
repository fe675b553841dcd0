#pragma once

#include <string>
#include <string_view>

#include "FerlowServer/HTTPRequest.h"

namespace ferlow {

// A GET asking to switch to WebSocket (RFC 6455 4.2.1): "upgrade: websocket",
// a "connection" list naming upgrade, and a Sec-WebSocket-Key.
bool isWebSocketUpgrade(const HTTPRequest& request);

// Whether the page that opened the socket was served by this very host and
// port over plain http: the Origin's host[:port], lower-cased, must equal the
// Host header, lower-cased. Keeps other sites' pages from reaching the socket.
bool originMatchesHost(const HTTPRequest& request);

// RFC 6455 4.2.2: Base64 of the SHA-1 of the key followed by the protocol GUID.
std::string websocketAccept(std::string_view key);

} // namespace ferlow
