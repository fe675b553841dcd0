#include "FerlowHost/IOQueue.h"

#include <algorithm>

#include <asio/dispatch.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "FerlowHost/SessionController.h"

namespace ferlow {

using Clock = std::chrono::steady_clock;

// The tick and wake timers of one controller. Lives and runs on the queue.
class IOQueue::Driver final : public std::enable_shared_from_this<IOQueue::Driver> {
public:
    Driver(asio::io_context& io, const std::shared_ptr<SessionController>& controller, Clock::duration interval)
        : m_tick(io), m_wake(io), m_interval(interval), m_controller(controller)
    {
    }

    void start()
    {
        const auto target = m_controller.lock();
        if (!target)
            return;
        target->requestWake = [weak = weak_from_this()](double at) {
            if (const auto self = weak.lock())
                self->wakeAt(at);
        };
        target->requestTick = [weak = weak_from_this()] {
            if (const auto self = weak.lock())
                self->startTicking();
        };
        if (target->needsTick())
            startTicking();
    }

    void cancel()
    {
        m_tick.cancel();
        m_wake.cancel();
        m_ticking = m_wakeArmed = false;
    }

private:
    // The tick runs only while the controller has something to look after,
    // so an idle computer is not woken ten times a second. One that falls
    // due soon while a wake runs anyway is run by that wake and the next one
    // is counted from there: a stream of moves spends no wake-up on it.
    void startTicking()
    {
        if (m_ticking)
            return;
        m_ticking = true;
        armTick(Clock::now() + m_interval);
    }

    void armTick(Clock::time_point due)
    {
        m_tick.expires_at(due);
        m_tick.async_wait([weak = weak_from_this()](const std::error_code& error) {
            if (const auto self = weak.lock(); self && !error)
                self->runTick();
        });
    }

    bool tickDueSoon() const { return m_ticking && Clock::now() >= m_tick.expiry() - m_interval / 4; }

    void runTick()
    {
        const auto controller = m_controller.lock();
        if (!controller)
            return;
        // Re-armed even when tick() throws. A queue that fell behind does
        // not make up the missed ticks.
        const auto next = [&] {
            if (controller->needsTick())
                return armTick(std::max(m_tick.expiry() + m_interval, Clock::now()));
            m_ticking = false;
            m_tick.cancel();
        };
        try {
            controller->tick();
        } catch (...) {
            next();
            throw;
        }
        next();
    }

    // `at` is on the controller's clock; the timer runs on the steady clock.
    // Each request replaces the armed wake: one that is no longer needed
    // would cost a wake-up, moving it costs only a system call. A stream of
    // moves asks again with nearly every message, so a request the armed
    // wake already serves (due a moment after it, within the drain's
    // tolerance) leaves it alone.
    void wakeAt(double at)
    {
        const auto controller = m_controller.lock();
        if (!controller)
            return;
        const auto delay = std::chrono::duration<double>(std::max(at - controller->now(), 0.0));
        const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(delay);
        constexpr auto served = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(SessionController::drainTolerance));
        if (m_wakeArmed && due >= m_wake.expiry() && due <= m_wake.expiry() + served)
            return;
        m_wakeArmed = true;
        m_wake.expires_at(due);
        m_wake.async_wait([weak = weak_from_this(), generation = ++m_wakeGeneration](const std::error_code& error) {
            const auto self = weak.lock();
            if (error || !self)
                return;
            if (generation == self->m_wakeGeneration)
                self->m_wakeArmed = false;
            if (const auto target = self->m_controller.lock())
                target->drain();
            if (self->tickDueSoon())
                self->runTick();
        });
    }

    asio::steady_timer m_tick;
    asio::steady_timer m_wake;
    Clock::duration m_interval;
    bool m_ticking = false;
    bool m_wakeArmed = false;
    std::uint64_t m_wakeGeneration = 0; // tells the armed wait from one it replaced
    std::weak_ptr<SessionController> m_controller;
};

IOQueue::IOQueue()
    : m_core(std::make_shared<Core>())
    , m_work(asio::make_work_guard(m_core->io))
{
    std::promise<void> finished;
    m_finished = finished.get_future();
    m_thread = std::thread([core = m_core, finished = std::move(finished)]() mutable {
        for (;;) {
            try {
                core->io.run();
                break;
            } catch (...) {
                // A task threw. The queue carries every phone's input and the
                // server; it goes on with the next task rather than stop.
            }
        }
        finished.set_value();
    });
}

IOQueue::~IOQueue() noexcept { stop(); }

void IOQueue::post(std::function<void()> task) { asio::post(m_core->io, std::move(task)); }

void IOQueue::after(std::chrono::milliseconds delay, std::function<void()> task)
{
    auto timer = std::make_shared<asio::steady_timer>(m_core->io, delay);
    timer->async_wait([timer, task = std::move(task)](const std::error_code& error) {
        if (!error)
            task();
    });
}

bool IOQueue::isCurrentThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

void IOQueue::drive(const std::shared_ptr<SessionController>& controller, std::chrono::milliseconds tick)
{
    asio::dispatch(m_core->io, [core = m_core, weak = std::weak_ptr<SessionController>(controller), tick] {
        if (core->driver)
            core->driver->cancel();
        const auto target = weak.lock();
        core->driver = target ? std::make_shared<Driver>(core->io, target, tick) : nullptr;
        if (core->driver)
            core->driver->start();
    });
}

void IOQueue::stop()
{
    if (m_stopped.exchange(true))
        return;
    if (isCurrentThread())
        std::terminate(); // joining itself would never return
    const auto deadline = std::chrono::steady_clock::now() + stopLimit;
    // The timers are cancelled after the tasks already queued, which may be
    // the phones' last releases. Connections that still hold work are not
    // waited for.
    auto cancelled = std::make_shared<std::promise<void>>();
    auto timersCancelled = cancelled->get_future();
    asio::post(m_core->io, [core = m_core, cancelled] {
        if (core->driver)
            core->driver->cancel();
        cancelled->set_value();
    });
    m_work.reset();
    timersCancelled.wait_until(deadline);
    m_core->io.stop();
    // Once stopped, the thread leaves as soon as its current task returns.
    if (m_finished.wait_until(deadline + std::chrono::milliseconds(100)) == std::future_status::ready) {
        m_thread.join();
        m_core->driver.reset();
    } else {
        m_thread.detach();
    }
}

} // namespace ferlow
