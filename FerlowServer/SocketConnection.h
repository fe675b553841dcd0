#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "FerlowCore/IPAddress.h"
#include "FerlowCore/MessageSocket.h"
#include "FerlowServer/ServerLimits.h"
#include "FerlowServer/WebSocketFramer.h"

namespace ferlow {

// One accepted WebSocket. Everything here, callbacks included, runs on the
// I/O thread that runs the socket's io_context; nothing locks.
//
// Frames go out in the order they were sent, one write at a time. Ending the
// connection (finish, close, the peer leaving, a protocol violation) happens
// once: onMessage is cleared, onClose is called exactly once, later sends do
// nothing, and frames already queued are still flushed before the socket
// closes (bounded by ServerLimits::closeLinger). Always owned by a
// std::shared_ptr: pending reads and writes keep it alive.
class SocketConnection final : public MessageSocket, public std::enable_shared_from_this<SocketConnection> {
public:
    // Wraps an accepted socket. `preamble` (the handshake answer) is written
    // before any frame. `admission` is released when the connection ends, so
    // the server can count open connections. `serverAlive` expires when the
    // server is discarded; the connection then stops reading but stays open.
    // `spoke` runs once, on the I/O thread, when the first text or binary
    // message arrives or the connection ends before one has: until then the
    // server may end it to make way for a newcomer.
    SocketConnection(asio::ip::tcp::socket socket, IPAddress remote, Bytes preamble = {},
        const ServerLimits& limits = {}, std::shared_ptr<void> admission = {},
        std::weak_ptr<const void> serverAlive = {}, std::function<void()> spoke = {});
    ~SocketConnection() noexcept override;

    SocketConnection(const SocketConnection&) = delete;
    SocketConnection& operator=(const SocketConnection&) = delete;

    const IPAddress& remote() const { return m_remote; }
    bool isClosed() const { return m_closed; }

    std::function<void(const WSFrame&)> onMessage; // each text or binary message
    std::function<void()> onClose;                 // once, when the connection ends

    void send(std::string_view text); // one text frame; nothing once closed
    void send(ByteView binary);       // one binary frame; nothing once closed
    // A close frame with status 1000, then finish(). Nothing once closed.
    void close() override;
    // Ends the connection without a close frame; see the class comment.
    void finish();

    // Hands received bytes to the framer and dispatches every complete frame:
    // pings are answered with pongs, a close or any violation ends the
    // connection with a normal close, messages go to onMessage.
    void feed(ByteView data);
    // Begins the receive loop (after the owner has installed its callbacks).
    void startReceiving();

    void sendText(std::string_view text) override { send(text); }
    void sendBinary(ByteView bytes) override { send(bytes); }

private:
    void enqueue(Bytes bytes);
    void writeQueued();
    void dropQueue();
    void closeSocket();
    void receive();
    bool serverGone() const;
    void runSpoke();

    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_lingerTimer;
    IPAddress m_remote;
    ServerLimits m_limits;
    std::shared_ptr<void> m_admission;
    std::weak_ptr<const void> m_serverAlive;
    std::function<void()> m_spoke;
    bool m_watchesServer;
    WebSocketFramer m_framer;
    bool m_closed = false;
    bool m_socketClosed = false;

    std::deque<Bytes> m_queue;         // frames waiting for the current write to finish
    std::size_t m_queuedBytes = 0;    // in m_queue and m_writing together
    std::vector<Bytes> m_writing;      // frames in the write under way
    std::vector<std::uint8_t> m_readBuffer;
};

} // namespace ferlow
