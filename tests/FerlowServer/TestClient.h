#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FerlowCore/Bytes.h"

namespace ferlow::test {

// A blocking TCP client speaking raw bytes, for driving the server as a
// browser or a hostile peer would. Every wait is bounded.
class TestClient final {
public:
    static constexpr auto patience = std::chrono::seconds(5);

    explicit TestClient(std::uint16_t port, const std::string& host = "127.0.0.1");
    ~TestClient() noexcept;
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    // Sends everything; false when the peer refused some of it.
    bool send(ByteView bytes);
    bool send(std::string_view text) { return send(asBytes(text)); }
    // Reads until the server closes (or the wait runs out).
    Bytes readToEnd(std::chrono::milliseconds wait = patience);
    // Reads until `count` bytes have arrived, the server closes, or the wait runs out.
    Bytes read(std::size_t count, std::chrono::milliseconds wait = patience);
    // Whether the server has closed the connection (EOF or reset) within the wait.
    bool closedByServer(std::chrono::milliseconds wait = patience);
    // Vanishes without a goodbye: the kernel sends a reset.
    void reset();

private:
    // One bounded read; 0 = the server closed, -1 = nothing within the wait.
    long readSome(std::uint8_t* into, std::size_t capacity, std::chrono::milliseconds wait);
    int m_fd = -1;
};

// A client frame as RFC 6455 5.3 requires: masked with `key`.
Bytes maskedFrame(std::uint8_t byte0, ByteView payload, std::array<std::uint8_t, 4> key = {0x37, 0xfa, 0x21, 0x3d});
// The server's frame as it should arrive (unmasked, FIN set).
Bytes serverFrame(std::uint8_t opcode, ByteView payload);
// A same-origin upgrade request for the server on `port`.
std::string upgradeRequest(std::uint16_t port, std::string_view origin = {});

// A folder under /tmp made with mkdtemp and removed with everything in it.
class TempFolder final {
public:
    TempFolder();
    ~TempFolder() noexcept;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    void write(const std::string& relative, std::string_view contents) const;

private:
    std::filesystem::path m_path;
};

} // namespace ferlow::test
