#include "tests/Support/TestClient.h"

#include <asio/read.hpp>
#include <asio/write.hpp>

namespace ferlow::test {

TestClient::TestClient(std::uint16_t port, const std::string& host)
{
    std::error_code error;
    m_socket.connect({asio::ip::make_address(host, error), port}, error);
    if (error)
        m_socket.close(error);
    else
        m_socket.set_option(asio::ip::tcp::no_delay(true), error); // like a browser's WebSocket
}

void TestClient::runUntil(const bool& done)
{
    m_io.restart();
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done && m_io.run_one_until(deadline)) { }
    if (!done) {
        std::error_code ignored;
        m_socket.cancel(ignored);
        m_io.run(); // lets the cancelled operation finish before its buffers go
    }
}

void TestClient::send(ByteView bytes)
{
    bool done = false;
    asio::async_write(m_socket, asio::buffer(bytes.data(), bytes.size()), [&](auto, auto) { done = true; });
    runUntil(done);
}

Bytes TestClient::read(std::size_t count)
{
    Bytes received;
    bool done = false; // an error: the server closed or reset
    asio::async_read(m_socket, asio::dynamic_buffer(received, count), [&](auto, auto) { done = true; });
    runUntil(done);
    return received;
}

void TestClient::reset()
{
    std::error_code ignored;
    m_socket.set_option(asio::socket_base::linger(true, 0), ignored);
    m_socket.close(ignored);
}

std::string TestClient::upgrade(std::uint16_t port)
{
    send(upgradeRequest(port));
    std::string head;
    while (head.size() < 4096 && (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0)) {
        const Bytes byte = read(1);
        if (byte.empty())
            return {};
        head.push_back(static_cast<char>(byte[0]));
    }
    return head;
}

TestClient::ServerFrame TestClient::readFrame()
{
    ServerFrame frame;
    const Bytes header = read(2);
    if (header.size() < 2)
        return frame;
    frame.opcode = header[0] & 0x0F;
    std::uint64_t length = header[1] & 0x7F;
    if (const std::size_t size = length == 126 ? 2 : length == 127 ? 8 : 0) {
        const Bytes extended = read(size);
        length = 0;
        for (const auto b : extended)
            length = length << 8 | b;
        if (extended.size() != size)
            return frame;
    }
    frame.payload = length ? read(length) : Bytes {};
    frame.complete = frame.payload.size() == length;
    return frame;
}

Bytes maskedFrame(std::uint8_t byte0, ByteView payload)
{
    const std::uint8_t key[4] {0x37, 0xfa, 0x21, 0x3d};
    const std::uint64_t length = payload.size();
    const int lengthBytes = length < 126 ? 0 : length < 65536 ? 2 : 8;
    Bytes frame {byte0, static_cast<std::uint8_t>(0x80 | (lengthBytes == 0 ? length : lengthBytes == 2 ? 126 : 127))};
    for (int shift = 8 * (lengthBytes - 1); shift >= 0; shift -= 8)
        frame.push_back(static_cast<std::uint8_t>(length >> shift));
    frame.insert(frame.end(), key, key + 4);
    for (std::size_t i = 0; i < payload.size(); ++i)
        frame.push_back(payload[i] ^ key[i % 4]);
    return frame;
}

std::string upgradeRequest(std::uint16_t port, std::string_view origin)
{
    const std::string host = "127.0.0.1:" + std::to_string(port);
    return "GET /ws HTTP/1.1\r\nHost: " + host + "\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
           "Origin: " + (origin.empty() ? "http://" + host : std::string(origin))
        + "\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

} // namespace ferlow::test
