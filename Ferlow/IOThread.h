#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

namespace ferlow {

class SessionController;

// The I/O queue: one io_context run by one thread of its own, started by the
// constructor. Server, sessions, translator and poster live here; everything
// else reaches them by post() or call().
class IOThread final {
public:
    using Task = std::function<void()>;

    static constexpr auto tickInterval = std::chrono::milliseconds(100);
    static constexpr auto callLimit = std::chrono::seconds(5);

    IOThread();
    ~IOThread() noexcept; // stop()
    IOThread(const IOThread&) = delete;
    IOThread& operator=(const IOThread&) = delete;

    asio::io_context& context() { return m_context; }
    bool isCurrentThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

    void post(Task task) { asio::post(m_context, std::move(task)); }

    // Runs `task` on the queue and waits at most `limit` for its result;
    // nothing when it did not finish in time (it may still run later, so it
    // must own what it uses). On the queue's own thread it runs at once.
    template <typename F>
    auto call(F task, std::chrono::milliseconds limit = callLimit)
        -> std::conditional_t<std::is_void_v<std::invoke_result_t<F>>, bool,
            std::optional<std::invoke_result_t<F>>>
    {
        using R = std::invoke_result_t<F>;
        if (isCurrentThread()) {
            if constexpr (std::is_void_v<R>) {
                task();
                return true;
            } else {
                return task();
            }
        }
        auto job = std::make_shared<std::packaged_task<R()>>(std::move(task));
        auto result = job->get_future();
        post([job] { (*job)(); });
        if (result.wait_for(limit) != std::future_status::ready)
            return {};
        if constexpr (std::is_void_v<R>) {
            result.get();
            return true;
        } else {
            return result.get();
        }
    }

    // Drives the controller from the queue: its tick every 0.1 s, and its
    // wake requests through one timer that is re-armed only when a request
    // is earlier than the wake already set (a later one is served by the
    // drain that the earlier wake runs). Call once.
    void drive(const std::shared_ptr<SessionController>& controller);

    // Cancels the timers, lets queued work and pending writes finish for at
    // most `grace`, then stops the queue and joins its thread. Idempotent;
    // never call it on the queue's own thread.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(1000));

private:
    void tick();
    void wake(double at);

    asio::io_context m_context;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> m_work;
    asio::steady_timer m_ticker {m_context};
    asio::steady_timer m_waker {m_context};
    std::optional<double> m_wakeAt; // monotonic seconds of the armed wake
    std::weak_ptr<SessionController> m_controller;
    std::future<void> m_finished; // ready when run() has returned
    std::thread m_thread;
};

} // namespace ferlow
