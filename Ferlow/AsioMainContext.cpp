#include "Ferlow/AsioMainContext.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

namespace ferlow {

namespace {

// The timer's state outlives the handle while a wait is pending; a wait that
// completes after the handle went finds `cancelled` set and stops.
struct RepeatingTimer final : MainContext::Timer {
    struct State {
        State(asio::io_context& context, std::chrono::steady_clock::duration step, MainContext::Task work)
            : timer(context), interval(step), task(std::move(work))
        {
        }
        asio::steady_timer timer;
        std::chrono::steady_clock::duration interval;
        MainContext::Task task;
        bool cancelled = false;
    };

    explicit RepeatingTimer(std::shared_ptr<State> state) : m_state(std::move(state)) { arm(m_state); }
    ~RepeatingTimer() override
    {
        m_state->cancelled = true;
        m_state->timer.cancel();
    }

    static void arm(const std::shared_ptr<State>& state)
    {
        // Due times advance by whole intervals, so a slow task does not make
        // the timer drift.
        state->timer.expires_at(state->timer.expiry() + state->interval);
        state->timer.async_wait([state](const std::error_code& error) {
            if (error || state->cancelled)
                return;
            state->task();
            if (!state->cancelled)
                arm(state);
        });
    }

    std::shared_ptr<State> m_state;
};

} // namespace

void AsioMainContext::post(Task task) { asio::post(m_context, std::move(task)); }

std::unique_ptr<MainContext::Timer> AsioMainContext::every(double interval, Task task)
{
    const auto step = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(interval));
    auto state = std::make_shared<RepeatingTimer::State>(m_context, step, std::move(task));
    state->timer.expires_at(std::chrono::steady_clock::now());
    return std::make_unique<RepeatingTimer>(std::move(state));
}

void AsioMainContext::run() { m_context.run(); }

void AsioMainContext::stop()
{
    m_work.reset();
    m_context.stop();
}

} // namespace ferlow
