#pragma once

#include <cstddef>
#include <optional>

#include "FerlowCore/Bytes.h"
#include "FerlowServer/WSError.h"
#include "FerlowServer/WSFrame.h"

namespace ferlow {

// Incremental RFC 6455 decoder for one connection's received bytes, and the
// encoder for the server's own frames. Pure: it knows nothing about sockets.
class WebSocketFramer final {
public:
    // No frame and no reassembled message may exceed this many payload bytes.
    static constexpr std::size_t maxMessage = 65536;

    void append(ByteView data);

    // The next whole message or control frame, or nothing until more bytes
    // arrive. Call it after each append until it returns nothing. Throws
    // WSError on the first violation; the framer is not usable afterwards.
    // Lengths are checked on the header, before any payload is buffered, so a
    // connection never holds more than one message plus one frame of input.
    std::optional<WSFrame> nextFrame();

    // One unmasked, unfragmented server frame.
    static Bytes encode(WSOpcode opcode, ByteView payload);

private:
    Bytes m_buffer;
    std::size_t m_consumed = 0; // bytes at the front of m_buffer already decoded
    std::optional<WSOpcode> m_fragmentOpcode;
    Bytes m_fragments;
};

} // namespace ferlow
