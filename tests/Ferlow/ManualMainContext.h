#pragma once

// A main context run by hand: tasks wait until the test runs them, and timers
// fire only when the test moves the clock. Other threads may post at any time.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "Ferlow/MainContext.h"

namespace ferlow::test {

class ManualMainContext final : public MainContext {
public:
    // How long after its due time each timer fires, as on a busy main thread.
    double timerLateness = 0;

    void post(Task task) override
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_posted.notify_all();
    }

    std::unique_ptr<Timer> every(double interval, Task task) override
    {
        auto state = std::make_shared<TimerState>(TimerState {m_now + interval, interval, std::move(task)});
        m_timers.push_back(state);
        return std::make_unique<Handle>(state);
    }

    double now() const override { return m_now; }

    // Runs queued tasks, and those they queue, until none is left.
    void runPending()
    {
        for (;;) {
            Task task;
            {
                std::lock_guard lock(m_mutex);
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    // Moves the clock on, firing every timer that falls due on the way in
    // time order, with the queued tasks run after each.
    void advance(double seconds)
    {
        const double end = m_now + seconds;
        for (;;) {
            runPending();
            std::erase_if(m_timers, [](const auto& timer) { return timer->cancelled; });
            const auto next = std::min_element(m_timers.begin(), m_timers.end(),
                [](const auto& a, const auto& b) { return a->due < b->due; });
            if (next == m_timers.end() || (*next)->due + timerLateness > end)
                break;
            const auto timer = *next;
            m_now = timer->due + timerLateness;
            timer->due += timer->interval;
            timer->task();
        }
        m_now = end;
    }

    // Runs tasks as they arrive until `done` holds or `limit` passed.
    template <typename Predicate> bool runUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(5))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            runPending();
            if (done())
                return true;
            std::unique_lock lock(m_mutex);
            if (!m_posted.wait_until(lock, deadline, [this] { return !m_tasks.empty(); }))
                return done();
        }
    }

private:
    struct TimerState {
        double due;
        double interval;
        Task task;
        bool cancelled = false;
    };
    struct Handle final : Timer {
        explicit Handle(std::shared_ptr<TimerState> timer) : state(std::move(timer)) { }
        ~Handle() override { state->cancelled = true; }
        std::shared_ptr<TimerState> state;
    };

    double m_now = 1000;
    std::vector<std::shared_ptr<TimerState>> m_timers;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Task> m_tasks;
};

} // namespace ferlow::test
