#include "FerlowServer/WebSocketFramer.h"

namespace ferlow {

namespace {

bool isKnownOpcode(std::uint8_t value)
{
    return value <= 2 || (value >= 8 && value <= 10);
}

bool isControl(WSOpcode opcode)
{
    return opcode == WSOpcode::close || opcode == WSOpcode::ping || opcode == WSOpcode::pong;
}

[[noreturn]] void fail(WSError::Kind kind)
{
    throw WSError(kind);
}

} // namespace

void WebSocketFramer::append(ByteView data)
{
    // Drop what was decoded before growing, so the buffer stays near one frame.
    if (m_consumed > 0 && m_consumed * 2 >= m_buffer.size()) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_consumed));
        m_consumed = 0;
    }
    m_buffer.insert(m_buffer.end(), data.begin(), data.end());
}

std::optional<WSFrame> WebSocketFramer::nextFrame()
{
    for (;;) {
        const ByteView input = ByteView(m_buffer).subspan(m_consumed);
        if (input.size() < 2)
            return std::nullopt;

        // RFC 6455 5.2: no extension was negotiated, so the reserved bits must be clear.
        if ((input[0] & 0x70) != 0)
            fail(WSError::Kind::protocolError);
        if (!isKnownOpcode(input[0] & 0x0F))
            fail(WSError::Kind::badOpcode);
        const auto opcode = static_cast<WSOpcode>(input[0] & 0x0F);
        const bool fin = (input[0] & 0x80) != 0;
        // RFC 6455 5.1: a client frame must be masked.
        if ((input[1] & 0x80) == 0)
            fail(WSError::Kind::unmasked);

        std::uint64_t length = input[1] & 0x7Fu;
        std::size_t headerLength = 2;
        if (length == 126) {
            if (input.size() < 4)
                return std::nullopt;
            length = std::uint64_t(input[2]) << 8 | input[3];
            headerLength = 4;
        } else if (length == 127) {
            if (input.size() < 10)
                return std::nullopt;
            length = 0;
            for (std::size_t i = 2; i < 10; ++i)
                length = length << 8 | input[i];
            headerLength = 10;
            if (length > maxMessage)
                fail(WSError::Kind::tooLarge);
        }

        // Everything that can be judged from the header is judged now, before
        // the payload is waited for.
        if (isControl(opcode) && (!fin || length > 125))
            fail(WSError::Kind::protocolError); // RFC 6455 5.5
        if (opcode == WSOpcode::continuation) {
            if (!m_fragmentOpcode)
                fail(WSError::Kind::protocolError);
            if (m_fragments.size() + length > maxMessage)
                fail(WSError::Kind::tooLarge);
        } else if (!isControl(opcode) && m_fragmentOpcode) {
            fail(WSError::Kind::protocolError); // RFC 6455 5.4: a new message inside a fragmented one
        }

        const std::size_t frameLength = headerLength + 4 + std::size_t(length);
        if (input.size() < frameLength)
            return std::nullopt;
        const auto mask = input.subspan(headerLength, 4);
        const auto masked = input.subspan(headerLength + 4, std::size_t(length));
        Bytes payload(masked.size());
        for (std::size_t i = 0; i < masked.size(); ++i)
            payload[i] = masked[i] ^ mask[i & 3];
        m_consumed += frameLength;
        if (m_consumed == m_buffer.size()) {
            m_buffer.clear();
            m_consumed = 0;
        }

        if (isControl(opcode))
            return WSFrame {opcode, std::move(payload)}; // may sit between fragments; the open message waits
        if (opcode != WSOpcode::continuation) {
            if (fin)
                return WSFrame {opcode, std::move(payload)};
            m_fragmentOpcode = opcode;
            m_fragments = std::move(payload);
            continue;
        }
        m_fragments.insert(m_fragments.end(), payload.begin(), payload.end());
        if (fin) {
            WSFrame message {*m_fragmentOpcode, std::move(m_fragments)};
            m_fragmentOpcode.reset();
            m_fragments = {};
            return message;
        }
    }
}

Bytes WebSocketFramer::encode(WSOpcode opcode, ByteView payload)
{
    Bytes frame;
    frame.reserve(payload.size() + 10);
    frame.push_back(static_cast<std::uint8_t>(0x80 | static_cast<std::uint8_t>(opcode)));
    const std::uint64_t length = payload.size();
    if (length < 126) {
        frame.push_back(static_cast<std::uint8_t>(length));
    } else if (length < 65536) {
        frame.push_back(126);
        frame.push_back(static_cast<std::uint8_t>(length >> 8));
        frame.push_back(static_cast<std::uint8_t>(length));
    } else {
        frame.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

} // namespace ferlow
