#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

namespace ferlow {

class SessionController;

// The I/O queue: one asio::io_context run by one dedicated thread. The
// server, the sessions, the translator and the poster live on it, and so do
// the session controller's 0.1 s tick and its wake-ups.
//
// A task that throws does not stop the queue: the thread goes on with the
// next one. Whatever owns objects that post to the queue (a Server, a
// controller driven here) must let them go before the queue is destroyed.
class IOQueue final {
public:
    static constexpr auto tickInterval = std::chrono::milliseconds(100);
    // The longest stop() waits for the tasks already queued and the thread.
    static constexpr auto stopLimit = std::chrono::milliseconds(500);

    IOQueue();           // starts the thread
    ~IOQueue() noexcept; // stop()

    IOQueue(const IOQueue&) = delete;
    IOQueue& operator=(const IOQueue&) = delete;

    asio::io_context& context() { return m_core->io; }

    void post(std::function<void()> task);
    // Runs `task` on the queue once `delay` has passed, unless the queue
    // stops first. Callable from any thread.
    void after(std::chrono::milliseconds delay, std::function<void()> task);

    // Runs `task` on the queue and returns its result (or rethrows what it
    // threw). Waits at most `limit`, then throws std::runtime_error; a task
    // that has not started by then never runs, but one already running
    // finishes on its own, so it must not capture what the caller is about
    // to destroy. Throws std::logic_error when called on the queue itself,
    // which would wait for itself.
    template <typename F> auto call(F task, std::chrono::milliseconds limit = std::chrono::seconds(5)) -> decltype(task());

    bool isCurrentThread() const;

    // Gives the controller its tick every `tick` while it needs one, and the
    // drain()s it asks for through requestWake (this sets requestWake and
    // requestTick). The controller is held
    // weakly: once it is gone the timers stop. A second call drives the new
    // controller instead.
    void drive(const std::shared_ptr<SessionController>& controller, std::chrono::milliseconds tick = tickInterval);

    // Lets the tasks already queued run, cancels the timers, stops the queue
    // and joins its thread, waiting at most about stopLimit: a thread stuck
    // in a task (on a display server that stopped answering, say) is left
    // to finish on its own, keeping what the queue's tasks hold alive, or to
    // end with the process. Tasks not run by then are dropped. Idempotent;
    // never call it on the queue itself.
    void stop();

private:
    class Driver;

    // Shared with the thread, which may outlive the queue object (see stop()).
    struct Core {
        asio::io_context io;
        std::shared_ptr<Driver> driver; // touched on the queue only
    };

    enum class Job { waiting, running, abandoned };

    std::shared_ptr<Core> m_core;
    asio::executor_work_guard<asio::io_context::executor_type> m_work;
    std::atomic<bool> m_stopped {false};
    std::future<void> m_finished; // ready once the thread has left the queue
    std::thread m_thread;
};

template <typename F> auto IOQueue::call(F task, std::chrono::milliseconds limit) -> decltype(task())
{
    using Result = decltype(task());
    if (isCurrentThread())
        throw std::logic_error("IOQueue::call on the I/O queue would wait for itself");
    if (m_stopped)
        throw std::runtime_error("the I/O queue has stopped");
    auto job = std::make_shared<std::packaged_task<Result()>>(std::move(task));
    auto state = std::make_shared<std::atomic<Job>>(Job::waiting);
    auto result = job->get_future();
    post([job, state] {
        auto expected = Job::waiting;
        if (state->compare_exchange_strong(expected, Job::running))
            (*job)();
    });
    if (result.wait_for(limit) != std::future_status::ready) {
        auto expected = Job::waiting;
        state->compare_exchange_strong(expected, Job::abandoned);
        throw std::runtime_error("the I/O queue did not answer in time");
    }
    return result.get();
}

} // namespace ferlow
