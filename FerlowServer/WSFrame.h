#pragma once

#include <cstdint>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// RFC 6455 5.2 opcodes; any other value is refused.
enum class WSOpcode : std::uint8_t {
    continuation = 0,
    text = 1,
    binary = 2,
    close = 8,
    ping = 9,
    pong = 10,
};

// One whole message or control frame: unmasked, reassembled, never a continuation.
struct WSFrame {
    WSOpcode opcode = WSOpcode::binary;
    Bytes payload;

    bool operator==(const WSFrame&) const = default;
};

} // namespace ferlow
