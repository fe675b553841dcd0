#include "TestClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FerlowServer/WebSocketFramer.h"

namespace ferlow::test {

TestClient::TestClient(std::uint16_t port, const std::string& host)
{
    sockaddr_storage address {};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        length = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        length = sizeof(sockaddr_in6);
    } else {
        return;
    }
    m_fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Loopback connects complete or fail at once; a timeout still bounds the call.
    const timeval timeout {5, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    const int noDelay = 1; // like a browser's WebSocket: small frames go out at once
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

TestClient::~TestClient() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool TestClient::send(ByteView bytes)
{
    std::size_t sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        const auto count = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        sent += static_cast<std::size_t>(count);
    }
    return m_fd >= 0;
}

long TestClient::readSome(std::uint8_t* into, std::size_t capacity, std::chrono::milliseconds wait)
{
    pollfd ready {m_fd, POLLIN, 0};
    if (m_fd < 0 || ::poll(&ready, 1, static_cast<int>(wait.count())) <= 0)
        return -1;
    const auto count = ::recv(m_fd, into, capacity, 0);
    if (count < 0)
        return errno == ECONNRESET ? 0 : -1;
    return count;
}

Bytes TestClient::read(std::size_t count, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    Bytes received;
    std::array<std::uint8_t, 65536> chunk {};
    while (received.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const auto got = readSome(chunk.data(), std::min(chunk.size(), count - received.size()), left);
        if (got <= 0)
            break;
        received.insert(received.end(), chunk.begin(), chunk.begin() + got);
    }
    return received;
}

Bytes TestClient::readToEnd(std::chrono::milliseconds wait)
{
    return read(std::size_t(-1), wait);
}

bool TestClient::closedByServer(std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::array<std::uint8_t, 65536> chunk {};
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        const auto got = readSome(chunk.data(), chunk.size(), left);
        if (got == 0)
            return true;
        if (got < 0)
            return false;
    }
}

void TestClient::reset()
{
    const linger abort {1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
    ::close(m_fd);
    m_fd = -1;
}

Bytes maskedFrame(std::uint8_t byte0, ByteView payload, std::array<std::uint8_t, 4> key)
{
    Bytes frame;
    frame.reserve(payload.size() + 14);
    frame.push_back(byte0);
    if (payload.size() < 126) {
        frame.push_back(static_cast<std::uint8_t>(0x80 | payload.size()));
    } else if (payload.size() < 65536) {
        frame.push_back(0xFE);
        frame.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
        frame.push_back(static_cast<std::uint8_t>(payload.size()));
    } else {
        frame.push_back(0xFF);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(static_cast<std::uint8_t>(std::uint64_t(payload.size()) >> shift));
    }
    frame.insert(frame.end(), key.begin(), key.end());
    for (std::size_t i = 0; i < payload.size(); ++i)
        frame.push_back(payload[i] ^ key[i % 4]);
    return frame;
}

Bytes serverFrame(std::uint8_t opcode, ByteView payload)
{
    return WebSocketFramer::encode(static_cast<WSOpcode>(opcode), payload);
}

std::string upgradeRequest(std::uint16_t port, std::string_view origin)
{
    const std::string host = "127.0.0.1:" + std::to_string(port);
    return "GET /ws HTTP/1.1\r\nHost: " + host + "\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n"
           "Origin: " + (origin.empty() ? "http://" + host : std::string(origin))
        + "\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}

TempFolder::TempFolder()
{
    std::string pattern = "/tmp/ferlow-server-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr)
        m_path = pattern;
}

TempFolder::~TempFolder() noexcept
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

void TempFolder::write(const std::string& relative, std::string_view contents) const
{
    const auto file = m_path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(contents.data(), std::streamsize(contents.size()));
}

} // namespace ferlow::test
