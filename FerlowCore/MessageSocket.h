#pragma once

#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// The narrow view of one WebSocket connection that the session layer needs.
// The server's connections implement it; tests use an in-memory one. Calls
// are made on the I/O queue only and never report failure: a broken
// connection ends through its close notification instead.
class MessageSocket {
public:
    virtual ~MessageSocket() = default;

    virtual void sendText(std::string_view text) = 0;   // plaintext handshake replies only
    virtual void sendBinary(ByteView bytes) = 0;        // every sealed message
    virtual void close() = 0;
};

} // namespace ferlow
