#include "FerlowServer/Server.h"

#include <atomic>
#include <future>
#include <list>
#include <vector>

#include <asio/dispatch.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "FerlowServer/HTTPRequest.h"
#include "FerlowServer/WebSocketHandshake.h"

namespace ferlow {

using asio::ip::tcp;

namespace {

// After an accept error such as EMFILE the listener pauses briefly instead of
// spinning on a backlog it cannot take.
constexpr auto acceptRetryDelay = std::chrono::milliseconds(100);

struct Acceptor {
    explicit Acceptor(asio::io_context& queue) : acceptor(queue), retry(queue) { }
    tcp::acceptor acceptor;
    asio::steady_timer retry;
};

IPAddress peerAddress(const asio::ip::address& address)
{
    if (address.is_v4())
        return IPAddress::v4(address.to_v4().to_bytes());
    // A dual-stack socket reports IPv4 peers as ::ffff:a.b.c.d.
    return IPAddress::fromV6(address.to_v6().to_bytes());
}

ServerError mapError(const std::error_code& error)
{
    if (error == asio::error::address_in_use)
        return ServerError::portInUse();
    return ServerError::failed(error.message());
}

FileResponse plainText(int status, std::string_view text)
{
    return {status, "text/plain", toBytes(text), std::nullopt};
}

} // namespace

struct Server::State : std::enable_shared_from_this<Server::State> {
    State(asio::io_context& queue_, std::uint16_t port_, StaticFiles files_, Policy policy_, ServerLimits limits_,
        std::weak_ptr<const void> alive_)
        : queue(queue_), port(port_), files(std::move(files_)), policy(std::move(policy_)), limits(limits_),
          alive(std::move(alive_))
    {
    }

    asio::io_context& queue;
    const std::uint16_t port;
    const StaticFiles files;
    const Policy policy;
    const ServerLimits limits;
    const std::weak_ptr<const void> alive; // expires when the Server is discarded
    SocketHandler onSocket;
    std::function<void()> onReady;
    std::atomic<int> boundPort {-1};
    std::vector<std::shared_ptr<Acceptor>> acceptors;
    std::shared_ptr<std::atomic<std::size_t>> openConnections = std::make_shared<std::atomic<std::size_t>>(0);
    // Accepted connections that hold a slot without having said anything:
    // readers without a whole request head, then, after an upgrade, the same
    // connections as WebSockets without a first message (a phone sends its
    // hello at once). Longest waiting since accept first; each connection
    // removes its own entry.
    struct Waiting {
        IPAddress remote;
        std::weak_ptr<RequestReader> reader;    // until the head is complete
        std::weak_ptr<SocketConnection> socket; // from the upgrade to the first message
    };
    std::list<Waiting> waiting;

    bool gone() const { return alive.expired(); }
    std::optional<ServerError> listen();
    std::error_code listenOn(const tcp::endpoint& endpoint, bool dualStack, bool& dualStackGranted);
    void accept(const std::shared_ptr<Acceptor>& acceptor);
    void admit(tcp::socket socket);
    bool evictLongestWaiting(const IPAddress* from);
    std::shared_ptr<void> takeConnectionSlot();
    void closeAcceptors();
};

// One connection from accept to its single response, or to the upgrade that
// turns it into a SocketConnection.
class Server::RequestReader final : public std::enable_shared_from_this<Server::RequestReader> {
public:
    RequestReader(tcp::socket socket, IPAddress remote, std::weak_ptr<State> server, std::shared_ptr<void> slot)
        : m_socket(std::move(socket)), m_deadline(m_socket.get_executor()), m_remote(remote),
          m_server(std::move(server)), m_slot(std::move(slot))
    {
    }

    void start(const ServerLimits& limits, std::list<State::Waiting>::iterator waiting)
    {
        m_waiting = waiting;
        armDeadline(limits.headTimeout);
        m_chunk.resize(HTTPRequest::maxHead);
        read();
    }

    // Makes way for a newer connection: closed silently, like a time-out.
    void evict() { closeSocket(); }

private:
    void armDeadline(std::chrono::milliseconds limit)
    {
        m_deadline.expires_after(limit);
        m_deadline.async_wait([self = shared_from_this()](const std::error_code& error) {
            if (!error)
                self->closeSocket(); // silently: the peer took too long
        });
    }

    void read()
    {
        m_socket.async_read_some(asio::buffer(m_chunk),
            [self = shared_from_this()](const std::error_code& error, std::size_t count) {
                self->onRead(error, count);
            });
    }

    void onRead(const std::error_code& error, std::size_t count)
    {
        const auto server = m_server.lock();
        if (!server || server->gone()) {
            closeSocket(); // a discarded server reads no further
            return;
        }
        m_buffer.insert(m_buffer.end(), m_chunk.begin(), m_chunk.begin() + std::ptrdiff_t(count));
        std::optional<HTTPRequest> request;
        try {
            request = HTTPRequest::parse(m_buffer, m_searched);
        } catch (const HTTPError&) {
            respond(*server, plainText(400, "Bad request"), BodyMode::include);
            return;
        }
        if (!request) {
            if (error)
                closeSocket(); // the peer left (or the deadline passed) before a whole head
            else
                read();
            return;
        }
        try {
            route(*server, *request);
        } catch (const std::exception&) {
            closeSocket(); // nothing may escape onto the I/O thread
        }
    }

    void route(State& server, const HTTPRequest& request)
    {
        if (isWebSocketUpgrade(request)) {
            const auto key = request.header("sec-websocket-key");
            if (originMatchesHost(request) && key)
                upgrade(server, *key);
            else
                respond(server, plainText(403, "Forbidden"), BodyMode::include);
        } else if (request.method == "GET" || request.method == "HEAD") {
            respond(server, server.files.response(request.path, request.header("range")),
                request.method == "HEAD" ? BodyMode::omit : BodyMode::include);
        } else {
            respond(server, plainText(405, "Method not allowed"), BodyMode::include);
        }
    }

    void respond(const State& server, const FileResponse& response, BodyMode mode)
    {
        leaveWaiting();
        m_deadline.cancel();
        armDeadline(server.limits.responseTimeout);
        auto bytes = std::make_shared<Bytes>(response.bytes(mode));
        asio::async_write(m_socket, asio::buffer(*bytes),
            [self = shared_from_this(), bytes](const std::error_code&, std::size_t) {
                self->closeSocket(); // one request per connection
            });
    }

    void upgrade(State& server, std::string_view key)
    {
        m_deadline.cancel();
        const std::string head = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Accept: "
            + websocketAccept(key) + "\r\n\r\n";
        // The connection keeps its place among the waiting until its first message.
        std::function<void()> spoke;
        if (m_waiting)
            spoke = [weak = m_server, entry = *m_waiting] {
                if (const auto state = weak.lock())
                    state->waiting.erase(entry);
            };
        auto connection = std::make_shared<SocketConnection>(std::move(m_socket), m_remote, toBytes(head),
            server.limits, std::move(m_slot), server.alive, std::move(spoke));
        if (m_waiting) {
            (*m_waiting)->reader.reset();
            (*m_waiting)->socket = connection;
            m_waiting.reset();
        }
        // The receiver installs onMessage and onClose here, before any frame is dispatched.
        if (const auto handler = server.onSocket)
            handler(connection);
        if (!m_buffer.empty())
            connection->feed(m_buffer); // a first frame that came with the head
        connection->startReceiving();
    }

    void leaveWaiting()
    {
        if (!m_waiting)
            return;
        if (const auto server = m_server.lock())
            server->waiting.erase(*m_waiting);
        m_waiting.reset();
    }

    void closeSocket()
    {
        leaveWaiting();
        m_slot.reset(); // before the peer can see the close, so a new peer finds the slot free
        m_deadline.cancel();
        std::error_code ignored;
        m_socket.shutdown(tcp::socket::shutdown_both, ignored);
        m_socket.close(ignored);
    }

    tcp::socket m_socket;
    asio::steady_timer m_deadline;
    IPAddress m_remote;
    std::weak_ptr<State> m_server;
    std::shared_ptr<void> m_slot;
    std::optional<std::list<State::Waiting>::iterator> m_waiting; // until the head is complete
    Bytes m_buffer;
    std::size_t m_searched = 0; // how much of m_buffer holds no end of head
    Bytes m_chunk;
};

std::error_code Server::State::listenOn(const tcp::endpoint& endpoint, bool dualStack, bool& dualStackGranted)
{
    auto listener = std::make_shared<Acceptor>(queue);
    std::error_code error;
    listener->acceptor.open(endpoint.protocol(), error);
    if (error)
        return error;
    listener->acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (endpoint.address().is_v6()) {
        // Ask for IPv4 on the same socket explicitly: the system default may be IPv6 only.
        std::error_code refused;
        listener->acceptor.set_option(asio::ip::v6_only(!dualStack), refused);
        dualStackGranted = dualStack && !refused;
    }
    listener->acceptor.bind(endpoint, error);
    if (!error)
        listener->acceptor.listen(tcp::acceptor::max_listen_connections, error);
    if (error)
        return error;
    const auto local = listener->acceptor.local_endpoint(error);
    if (error)
        return error;
    boundPort = local.port();
    acceptors.push_back(std::move(listener));
    return {};
}

std::optional<ServerError> Server::State::listen()
{
    bool dualStack = false;
    const auto v6Error = listenOn(tcp::endpoint(asio::ip::address_v6::any(), port), true, dualStack);
    if (v6Error == asio::error::address_in_use)
        return mapError(v6Error);
    if (!v6Error && dualStack)
        return std::nullopt;
    // No IPv6 here, or a system that keeps IPv6 sockets IPv6-only: IPv4 on
    // its own socket, on the port IPv6 got if it got one.
    const auto v4Port = v6Error ? port : static_cast<std::uint16_t>(boundPort.load());
    const auto v4Error = listenOn(tcp::endpoint(asio::ip::address_v4::any(), v4Port), false, dualStack);
    if (!v4Error)
        return std::nullopt;
    if (v4Error == asio::error::address_in_use || v6Error)
        return mapError(v4Error);
    // Listening on IPv6 alone would look like a start while most phones,
    // which reach the computer over IPv4, could not connect.
    return ServerError::failed("cannot listen on IPv4: " + v4Error.message());
}

void Server::State::accept(const std::shared_ptr<Acceptor>& listener)
{
    listener->acceptor.async_accept(
        [weak = weak_from_this(), listener](const std::error_code& error, tcp::socket socket) {
            const auto self = weak.lock();
            if (!self || self->gone() || error == asio::error::operation_aborted || !listener->acceptor.is_open())
                return;
            if (error) {
                listener->retry.expires_after(acceptRetryDelay);
                listener->retry.async_wait([weak, listener](const std::error_code& waitError) {
                    const auto again = weak.lock();
                    if (!waitError && again && !again->gone() && listener->acceptor.is_open())
                        again->accept(listener);
                });
                return;
            }
            self->admit(std::move(socket));
            self->accept(listener);
        });
}

std::shared_ptr<void> Server::State::takeConnectionSlot()
{
    ++*openConnections;
    return std::shared_ptr<void>(static_cast<void*>(nullptr),
        [counter = openConnections](void*) { --*counter; });
}

void Server::State::admit(tcp::socket socket)
{
    // Refusals happen before anything is read: the socket is simply closed.
    std::error_code error;
    const auto endpoint = socket.remote_endpoint(error);
    if (error)
        return;
    const auto remote = peerAddress(endpoint.address());
    const auto scope = endpoint.address().is_v6() ? endpoint.address().to_v6().scope_id() : 0;
    if (!policy || !policy(remote, static_cast<std::uint32_t>(scope)))
        return;
    // A connection that never finishes its head, or never sends a message
    // once upgraded, costs its peer nothing to hold, so such connections
    // make way for newer ones instead of locking everybody else out: first
    // within the peer's own share, then, at the cap, across all peers.
    std::size_t fromPeer = 0;
    for (const auto& entry : waiting)
        fromPeer += entry.remote == remote ? 1 : 0;
    if (fromPeer >= limits.maxWaitingPerPeer)
        evictLongestWaiting(&remote);
    if (*openConnections >= limits.maxConnections && !evictLongestWaiting(nullptr))
        return;
    socket.set_option(tcp::no_delay(true), error);
    auto reader = std::make_shared<RequestReader>(std::move(socket), remote, weak_from_this(), takeConnectionSlot());
    reader->start(limits, waiting.insert(waiting.end(), {remote, reader, {}}));
}

// Closes the connection (of `from`, if given) that has waited longest to say
// something; false when there is none. A WebSocket ends as any other does,
// so its owner hears onClose.
bool Server::State::evictLongestWaiting(const IPAddress* from)
{
    for (auto entry = waiting.begin(); entry != waiting.end();) {
        const auto reader = entry->reader.lock();
        const auto socket = reader ? nullptr : entry->socket.lock();
        if (!reader && !socket) {
            entry = waiting.erase(entry); // a connection that went without closing
            continue;
        }
        if (from && entry->remote != *from) {
            ++entry;
            continue;
        }
        // Either removes its entry.
        if (reader)
            reader->evict();
        else
            socket->close();
        return true;
    }
    return false;
}

void Server::State::closeAcceptors()
{
    for (const auto& listener : acceptors) {
        std::error_code ignored;
        listener->retry.cancel();
        listener->acceptor.close(ignored);
    }
    acceptors.clear();
}

Server::Server(asio::io_context& queue, std::uint16_t port, StaticFiles files, Policy policy, ServerLimits limits)
    : m_queue(queue), m_port(port), m_alive(std::make_shared<char>('\0'))
{
    m_state = std::make_shared<State>(queue, port, std::move(files), std::move(policy), limits, m_alive);
}

Server::~Server() noexcept
{
    m_alive.reset();
    // The state is only touched on the I/O thread, so it is torn down there.
    asio::post(m_queue, [state = std::move(m_state)] { state->closeAcceptors(); });
}

void Server::setOnSocket(SocketHandler handler)
{
    m_state->onSocket = std::move(handler);
}

void Server::setOnReady(std::function<void()> handler)
{
    m_state->onReady = std::move(handler);
}

void Server::start()
{
    if (m_queue.get_executor().running_in_this_thread())
        throw ServerError::failed("start() must not run on the I/O thread");
    auto outcome = std::make_shared<std::promise<std::optional<ServerError>>>();
    auto ready = outcome->get_future();
    start([outcome](std::optional<ServerError> error) { outcome->set_value(std::move(error)); });
    if (ready.wait_for(m_state->limits.startTimeout) != std::future_status::ready) {
        stop(); // runs after the listening step on the same queue, so nothing stays open
        throw ServerError::failed("timed out");
    }
    if (const auto error = ready.get())
        throw *error;
}

void Server::start(Started done)
{
    asio::post(m_queue, [weak = std::weak_ptr<State>(m_state), done = std::move(done)] {
        const auto state = weak.lock();
        if (!state || state->gone())
            return done(ServerError::failed("the server was stopped before it listened"));
        if (!state->acceptors.empty())
            return done(std::nullopt); // already listening
        auto error = state->listen();
        if (error) {
            state->closeAcceptors();
            state->boundPort = -1;
            return done(std::move(error));
        }
        done(std::nullopt);
        for (const auto& listener : state->acceptors)
            state->accept(listener);
        if (state->onReady)
            state->onReady();
    });
}

void Server::stop()
{
    asio::dispatch(m_queue, [weak = std::weak_ptr<State>(m_state)] {
        if (const auto state = weak.lock())
            state->closeAcceptors();
    });
}

std::optional<std::uint16_t> Server::boundPort() const
{
    const int port = m_state->boundPort.load();
    if (port < 0)
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

} // namespace ferlow
