#pragma once

#include <stdexcept>

namespace ferlow {

// A WebSocket protocol violation by the peer. The connection answers any of
// them the same way (a normal close), so the kind only serves tests and callers.
class WSError : public std::runtime_error {
public:
    enum class Kind {
        unmasked,      // a client frame without the mask bit
        tooLarge,      // a frame or reassembled message over 65536 bytes
        badOpcode,     // an opcode RFC 6455 does not define
        protocolError, // reserved bits, a bad control frame, fragments out of order
    };

    explicit WSError(Kind kind) : std::runtime_error(name(kind)), m_kind(kind) { }

    Kind kind() const noexcept { return m_kind; }

private:
    static const char* name(Kind kind)
    {
        switch (kind) {
        case Kind::unmasked: return "unmasked";
        case Kind::tooLarge: return "tooLarge";
        case Kind::badOpcode: return "badOpcode";
        case Kind::protocolError: return "protocolError";
        }
        return "protocolError";
    }

    Kind m_kind;
};

} // namespace ferlow
