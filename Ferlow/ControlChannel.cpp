#include "Ferlow/ControlChannel.h"

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <asio/local/stream_protocol.hpp>
#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using Local = asio::local::stream_protocol;

struct ControlChannel::State : std::enable_shared_from_this<ControlChannel::State> {
    State(asio::io_context& context, std::filesystem::path socketPath, Handler requestHandler)
        : acceptor(context), path(std::move(socketPath)), handler(std::move(requestHandler))
    {
    }

    void accept()
    {
        acceptor.async_accept([self = shared_from_this()](const std::error_code& error, Local::socket peer) {
            if (error == asio::error::operation_aborted || !self->acceptor.is_open())
                return;
            if (!error && self->clients < maxClients && sameUser(peer))
                serve(self, std::make_shared<Local::socket>(std::move(peer)));
            self->accept();
        });
    }

    static bool sameUser(Local::socket& peer)
    {
        ucred credentials {};
        socklen_t length = sizeof credentials;
        return ::getsockopt(peer.native_handle(), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0
            && credentials.uid == ::geteuid();
    }

    static void serve(const std::shared_ptr<State>& self, const std::shared_ptr<Local::socket>& peer)
    {
        ++self->clients;
        auto buffer = std::make_shared<asio::streambuf>(maxRequest);
        auto timer = std::make_shared<asio::steady_timer>(peer->get_executor(), requestTimeout);
        timer->async_wait([peer](const std::error_code& error) {
            if (!error)
                peer->close();
        });
        asio::async_read_until(*peer, *buffer, '\n',
            [self, peer, buffer, timer](const std::error_code& error, std::size_t length) {
                timer->cancel();
                const auto done = [self, peer](const nlohmann::json& reply, std::function<void()> sent) {
                    auto text = std::make_shared<std::string>(
                        reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
                    asio::async_write(*peer, asio::buffer(*text),
                        [self, peer, text, sent = std::move(sent)](const std::error_code&, std::size_t) {
                            --self->clients;
                            std::error_code ignored;
                            peer->close(ignored);
                            if (sent)
                                sent();
                        });
                };
                if (error) {
                    --self->clients;
                    return;
                }
                nlohmann::json request;
                try {
                    const auto* bytes = static_cast<const std::uint8_t*>(buffer->data().data());
                    request = JSONCoding::parse(ByteView(bytes, length - 1));
                } catch (const DecodingError&) {
                }
                if (!request.is_object())
                    return done({{"ok", false}, {"error", "not a request"}}, {});
                self->handler(request, done);
            });
    }

    Local::acceptor acceptor;
    std::filesystem::path path;
    Handler handler;
    std::size_t clients = 0;
};

ControlChannel::ControlChannel(asio::io_context& context, const std::filesystem::path& socket, Handler handler)
    : m_state(std::make_shared<State>(context, socket, std::move(handler)))
{
    ::unlink(socket.c_str());
    const Local::endpoint endpoint(socket.string());
    m_state->acceptor.open(endpoint.protocol());
    m_state->acceptor.bind(endpoint);
    ::chmod(socket.c_str(), 0600);
    m_state->acceptor.listen();
    m_state->accept();
}

ControlChannel::~ControlChannel() noexcept
{
    std::error_code ignored;
    m_state->acceptor.close(ignored);
    ::unlink(m_state->path.c_str());
}

std::optional<nlohmann::json> ControlChannel::ask(
    const std::filesystem::path& socket, const nlohmann::json& request, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    asio::io_context context;
    Local::socket peer(context);
    Local::endpoint endpoint;
    try {
        endpoint = Local::endpoint(socket.string());
    } catch (const std::system_error&) {
        return std::nullopt; // a path too long for a socket address
    }
    // An app that has just taken the instance lock opens its channel a
    // moment later.
    for (std::error_code error;;) {
        peer.connect(endpoint, error);
        if (!error)
            break;
        peer.close(error);
        if (std::chrono::steady_clock::now() + connectRetry > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(connectRetry);
    }
    asio::streambuf buffer(64 * 1024);
    const std::string text = request.dump() + "\n";
    std::optional<nlohmann::json> reply;
    asio::async_write(peer, asio::buffer(text), [&](const std::error_code& writeError, std::size_t) {
        if (writeError)
            return;
        asio::async_read_until(peer, buffer, '\n', [&](const std::error_code& readError, std::size_t length) {
            if (readError)
                return;
            try {
                const auto* bytes = static_cast<const std::uint8_t*>(buffer.data().data());
                reply = JSONCoding::parse(ByteView(bytes, length - 1));
            } catch (const DecodingError&) {
            }
        });
    });
    context.run_until(deadline);
    return reply;
}

} // namespace ferlow
