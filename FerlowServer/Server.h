#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <asio/io_context.hpp>

#include "FerlowCore/IPAddress.h"
#include "FerlowServer/ServerError.h"
#include "FerlowServer/ServerLimits.h"
#include "FerlowServer/SocketConnection.h"
#include "FerlowServer/StaticFiles.h"

namespace ferlow {

// The only listener: serves the pad's files over HTTP/1.1 (one request per
// connection) and upgrades same-origin WebSocket requests to
// SocketConnections. Every listener and connection callback runs on the
// thread that runs `queue`; peers the policy refuses are closed before a
// byte is read. The io_context must outlive the server.
class Server final {
public:
    // Whether a peer may connect at all. `scope` is the interface index of
    // an IPv6 link-local peer's address (its zone), 0 for every other peer.
    using Policy = std::function<bool(const IPAddress& remote, std::uint32_t scope)>;
    using SocketHandler = std::function<void(const std::shared_ptr<SocketConnection>&)>;

    // Port 0 asks for any free port (see boundPort()).
    Server(asio::io_context& queue, std::uint16_t port, StaticFiles files, Policy policy, ServerLimits limits = {});
    // Stops listening; requests still being read are dropped. WebSockets
    // already handed out stay open but stop reading.
    ~Server() noexcept;

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Set both before start(). onSocket receives each upgraded connection and
    // may install its callbacks before any frame is dispatched; onReady runs
    // when the listener is ready. Both run on the I/O thread.
    void setOnSocket(SocketHandler handler);
    void setOnReady(std::function<void()> handler);

    // Listens on IPv6 and IPv4 (one dual-stack socket where the system
    // allows it, IPv4 alone where it has no IPv6) and returns once the
    // listener is ready. Blocks at most ServerLimits::startTimeout; never
    // call it on the I/O thread. Throws ServerError: portInUse for
    // EADDRINUSE, failed(description) for anything else ("timed out" when
    // the I/O thread did not answer in time).
    void start();
    // The same without waiting: the listener is opened on the I/O thread,
    // which then calls `done` with the error start() would throw, or with
    // nothing once listening. `done` is called exactly once, also when the
    // server is discarded before the I/O thread got to it.
    using Started = std::function<void(std::optional<ServerError>)>;
    void start(Started done);
    // Closes the listener. Connections already accepted are not touched.
    void stop();

    // The port actually bound, once start() has returned.
    std::optional<std::uint16_t> boundPort() const;
    std::uint16_t port() const { return m_port; }

private:
    struct State;
    class RequestReader;

    asio::io_context& m_queue;
    std::uint16_t m_port;
    std::shared_ptr<State> m_state;
    std::shared_ptr<const void> m_alive; // handlers and connections watch it weakly
};

} // namespace ferlow
