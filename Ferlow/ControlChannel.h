#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include <asio/io_context.hpp>
#include <nlohmann/json.hpp>

namespace ferlow {

// How `ferlow --pair`, `--forget` and the other commands reach a Ferlow that
// is already running: a Unix stream socket in the private data folder. Each
// connection carries one request, a JSON object on one line, and gets one
// reply line back. Only the user's own processes may ask (the folder is
// 0700, the socket 0600 and the peer's uid is checked).
class ControlChannel final {
public:
    // Sends the reply; `sent` (may be empty) runs once it is written or lost.
    using Reply = std::function<void(const nlohmann::json& reply, std::function<void()> sent)>;
    // Runs on the context's thread; must call `reply` once, then or later.
    using Handler = std::function<void(const nlohmann::json& request, Reply reply)>;

    static constexpr std::size_t maxRequest = 4096;
    static constexpr std::size_t maxClients = 4;
    static constexpr auto requestTimeout = std::chrono::seconds(5);

    // Listens at `socket`, replacing a stale socket file left there (the
    // caller holds the instance lock, so nobody else listens). Throws
    // std::system_error when it cannot listen.
    ControlChannel(asio::io_context& context, const std::filesystem::path& socket, Handler handler);
    ~ControlChannel() noexcept; // stops listening, removes the socket file

    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    static constexpr auto connectRetry = std::chrono::milliseconds(20);

    // Sends `request` to the instance listening at `socket` and waits at most
    // `limit` for the reply; absent when nobody answers in time. Only a
    // running instance is asked, so a socket that is not there yet is tried
    // again until then.
    static std::optional<nlohmann::json> ask(
        const std::filesystem::path& socket, const nlohmann::json& request, std::chrono::milliseconds limit);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace ferlow
