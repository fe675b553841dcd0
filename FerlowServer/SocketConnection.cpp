#include "FerlowServer/SocketConnection.h"

#include <asio/write.hpp>

namespace ferlow {

namespace {

// RFC 6455 7.4.1: 1000, normal closure. Also the answer to every violation,
// so a peer learns nothing about what it got wrong.
constexpr std::array<std::uint8_t, 2> normalClosure {0x03, 0xE8};

} // namespace

SocketConnection::SocketConnection(asio::ip::tcp::socket socket, IPAddress remote, Bytes preamble,
    const ServerLimits& limits, std::shared_ptr<void> admission, std::weak_ptr<const void> serverAlive,
    std::function<void()> spoke)
    : m_socket(std::move(socket))
    , m_lingerTimer(m_socket.get_executor())
    , m_remote(remote)
    , m_limits(limits)
    , m_admission(std::move(admission))
    , m_serverAlive(std::move(serverAlive))
    , m_spoke(std::move(spoke))
    , m_watchesServer(!m_serverAlive.expired())
{
    // Queued only: writing needs shared_from_this, which a constructor cannot use.
    if (!preamble.empty()) {
        m_queuedBytes = preamble.size();
        m_queue.push_back(std::move(preamble));
    }
}

SocketConnection::~SocketConnection() noexcept
{
    std::error_code ignored;
    m_socket.close(ignored);
}

void SocketConnection::send(std::string_view text)
{
    if (!m_closed)
        enqueue(WebSocketFramer::encode(WSOpcode::text, asBytes(text)));
}

void SocketConnection::send(ByteView binary)
{
    if (!m_closed)
        enqueue(WebSocketFramer::encode(WSOpcode::binary, binary));
}

void SocketConnection::close()
{
    if (m_closed)
        return;
    enqueue(WebSocketFramer::encode(WSOpcode::close, normalClosure));
    finish();
}

void SocketConnection::finish()
{
    if (m_closed)
        return;
    m_closed = true;
    m_admission.reset();
    runSpoke();
    onMessage = nullptr;
    auto closed = std::move(onClose);
    onClose = nullptr;
    if (m_writing.empty()) {
        closeSocket();
    } else {
        // Let the frames already queued (the close frame among them) go out,
        // but not for longer than the linger time.
        m_lingerTimer.expires_after(m_limits.closeLinger);
        m_lingerTimer.async_wait([self = shared_from_this()](const std::error_code& error) {
            if (!error)
                self->closeSocket();
        });
    }
    if (closed) {
        try {
            closed();
        } catch (...) {
            // The owner's close-out failed; the connection has ended all the
            // same, and nothing may escape onto the I/O thread.
        }
    }
}

void SocketConnection::feed(ByteView data)
{
    if (m_closed)
        return;
    m_framer.append(data);
    while (!m_closed) {
        std::optional<WSFrame> frame;
        try {
            frame = m_framer.nextFrame();
        } catch (const WSError&) {
            close();
            return;
        }
        if (!frame)
            return;
        switch (frame->opcode) {
        case WSOpcode::ping:
            enqueue(WebSocketFramer::encode(WSOpcode::pong, frame->payload));
            break;
        case WSOpcode::pong:
            break;
        case WSOpcode::close:
            close();
            return;
        case WSOpcode::text:
        case WSOpcode::binary:
            runSpoke();
            if (onMessage) {
                // A copy: the receiver may end the connection, which clears onMessage.
                const auto deliver = onMessage;
                try {
                    deliver(*frame);
                } catch (...) {
                    // Last resort: whatever the receiver failed at ends this
                    // connection only (its owner releases what it held in
                    // onClose), never the I/O thread that serves the others.
                    close();
                    return;
                }
            }
            break;
        case WSOpcode::continuation:
            break; // never returned by the framer
        }
    }
}

void SocketConnection::startReceiving()
{
    m_readBuffer.resize(WebSocketFramer::maxMessage);
    if (m_writing.empty() && !m_queue.empty())
        writeQueued();
    receive();
}

void SocketConnection::runSpoke()
{
    if (!m_spoke)
        return;
    const auto spoke = std::move(m_spoke);
    m_spoke = nullptr;
    spoke();
}

bool SocketConnection::serverGone() const
{
    return m_watchesServer && m_serverAlive.expired();
}

void SocketConnection::receive()
{
    if (m_closed)
        return;
    m_socket.async_read_some(asio::buffer(m_readBuffer),
        [self = shared_from_this()](const std::error_code& error, std::size_t count) {
            if (self->m_closed)
                return;
            if (count > 0)
                self->feed(ByteView(self->m_readBuffer).first(count));
            if (error) {
                self->finish(); // the peer left, or the connection broke
                return;
            }
            if (!self->serverGone())
                self->receive();
        });
}

void SocketConnection::enqueue(Bytes bytes)
{
    if (m_socketClosed)
        return;
    if (m_queuedBytes + bytes.size() > m_limits.maxQueuedBytes) {
        // The peer has stopped reading: drop it rather than buffer without end.
        dropQueue();
        finish();
        closeSocket();
        return;
    }
    m_queuedBytes += bytes.size();
    m_queue.push_back(std::move(bytes));
    if (m_writing.empty())
        writeQueued();
}

void SocketConnection::writeQueued()
{
    // Everything waiting goes out in one gathered write; only one write is
    // ever under way, so frames are never interleaved.
    m_writing.assign(std::make_move_iterator(m_queue.begin()), std::make_move_iterator(m_queue.end()));
    m_queue.clear();
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(m_writing.size());
    for (const auto& bytes : m_writing)
        buffers.push_back(asio::buffer(bytes));
    asio::async_write(m_socket, buffers, [self = shared_from_this()](const std::error_code& error, std::size_t) {
        for (const auto& bytes : self->m_writing)
            self->m_queuedBytes -= bytes.size();
        self->m_writing.clear();
        if (error) {
            self->dropQueue();
            self->finish();
            self->closeSocket();
        } else if (!self->m_queue.empty()) {
            self->writeQueued();
        } else if (self->m_closed) {
            self->closeSocket();
        }
    });
}

void SocketConnection::dropQueue()
{
    for (const auto& bytes : m_queue)
        m_queuedBytes -= bytes.size();
    m_queue.clear();
}

void SocketConnection::closeSocket()
{
    if (m_socketClosed)
        return;
    m_socketClosed = true;
    dropQueue();
    std::error_code ignored;
    m_lingerTimer.cancel();
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    m_socket.close(ignored);
}

} // namespace ferlow
