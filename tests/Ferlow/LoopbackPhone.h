#pragma once

// A phone on a real loopback connection: the WebSocket upgrade, the hello,
// "hi", then sealed messages both ways.

#include <ostream>
#include <stdexcept>
#include <string>

#include <asio/ip/tcp.hpp>

#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/TestClient.h"

namespace ferlow {

inline void PrintTo(const MacMessage& message, std::ostream* out) { *out << message.encode().dump(); }

namespace test {

// A port nobody listens on right now.
inline std::uint16_t freePort()
{
    asio::io_context io;
    return asio::ip::tcp::acceptor(io, {asio::ip::tcp::v6(), 0}).local_endpoint().port();
}

// Whether something accepts connections on the port.
inline bool accepts(std::uint16_t port)
{
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    std::error_code error;
    socket.connect({asio::ip::make_address("127.0.0.1"), port}, error);
    return !error;
}

class LoopbackPhone {
public:
    LoopbackPhone(std::uint16_t port, const std::string& id, Bytes secret)
        : client(port), protocol(id, std::move(secret)), m_port(port)
    {
    }
    LoopbackPhone(std::uint16_t port, const Pairing& pairing) : LoopbackPhone(port, pairing.id, pairing.secret) { }

    // Upgrade, hellos and "hi"; returns the computer's first sealed message.
    MacMessage connect(const std::string& device = "Pixel")
    {
        if (client.upgrade(m_port).rfind("HTTP/1.1 101", 0) != 0)
            throw std::runtime_error("no upgrade");
        client.send(maskedFrame(0x81, asBytes(protocol.hello())));
        const auto hello = client.readFrame();
        protocol.acceptHello(std::string(hello.payload.begin(), hello.payload.end()));
        send(PhoneMessage::hi(device, false));
        return receive();
    }

    void send(const PhoneMessage& message, std::optional<double> ts = std::nullopt)
    {
        client.send(maskedFrame(0x82, protocol.seal(message, ts)));
    }

    MacMessage receive()
    {
        const auto frame = client.readFrame();
        if (!frame.complete || frame.opcode != 2)
            throw std::runtime_error("no sealed message came");
        return protocol.open(frame.payload);
    }

    TestClient client;
    TestPhone protocol;

private:
    std::uint16_t m_port;
};

} // namespace test
} // namespace ferlow
