#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include "FerlowCore/Bytes.h"
#include "tests/Support/TestSupport.h"

namespace ferlow::test {

// A blocking TCP client speaking raw bytes, as a browser or a hostile peer would.
class TestClient final {
public:
    explicit TestClient(std::uint16_t port, const std::string& host = "127.0.0.1");

    bool connected() const { return m_socket.is_open(); }
    void send(ByteView bytes);
    void send(std::string_view text) { send(asBytes(text)); }
    // Reads until `count` bytes have come, the server has closed, or `patience` has passed.
    Bytes read(std::size_t count = SIZE_MAX);
    // Vanishes without a goodbye: the kernel sends a reset.
    void reset();

    // Sends a same-origin upgrade request and reads the server's head;
    // the head's text, empty if none came.
    std::string upgrade(std::uint16_t port);

    // One unmasked frame from the server; `complete` is false when the
    // connection ended or patience ran out first.
    struct ServerFrame {
        std::uint8_t opcode = 0;
        Bytes payload;
        bool complete = false;
    };
    ServerFrame readFrame();

private:
    void runUntil(const bool& done); // runs the client's own io_context for at most `patience`

    asio::io_context m_io;
    asio::ip::tcp::socket m_socket {m_io};
};

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A client frame, masked as RFC 6455 5.3 requires.
Bytes maskedFrame(std::uint8_t byte0, ByteView payload);
// A same-origin upgrade request for the server on `port`, or one from `origin`.
std::string upgradeRequest(std::uint16_t port, std::string_view origin = {});

} // namespace ferlow::test
