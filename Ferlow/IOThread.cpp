#include "Ferlow/IOThread.h"

#include "Ferlow/MainContext.h"
#include "FerlowHost/SessionController.h"

namespace ferlow {

IOThread::IOThread() : m_work(asio::make_work_guard(m_context))
{
    auto finished = std::make_shared<std::promise<void>>();
    m_finished = finished->get_future();
    m_thread = std::thread([this, finished] {
        m_context.run();
        finished->set_value();
    });
}

IOThread::~IOThread() noexcept { stop(std::chrono::milliseconds(0)); }

void IOThread::drive(const std::shared_ptr<SessionController>& controller)
{
    post([this, weak = std::weak_ptr(controller)] {
        m_controller = weak;
        if (const auto held = weak.lock())
            held->requestWake = [this](double at) { wake(at); };
        m_ticker.expires_after(tickInterval);
        tick();
    });
}

void IOThread::tick()
{
    m_ticker.async_wait([this](const std::error_code& error) {
        const auto controller = m_controller.lock();
        if (error || !controller)
            return;
        m_ticker.expires_at(m_ticker.expiry() + tickInterval);
        controller->tick();
        tick();
    });
}

void IOThread::wake(double at)
{
    if (m_wakeAt && *m_wakeAt <= at)
        return;
    m_wakeAt = at;
    const double delay = std::max(at - MainContext::steadyNow(), 0.0);
    m_waker.expires_after(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(delay)));
    m_waker.async_wait([this](const std::error_code& error) {
        if (error)
            return; // re-armed earlier, or stopping
        m_wakeAt.reset();
        if (const auto controller = m_controller.lock())
            controller->drain();
    });
}

void IOThread::stop(std::chrono::milliseconds grace)
{
    if (!m_thread.joinable())
        return;
    asio::post(m_context, [this] {
        m_ticker.cancel();
        m_waker.cancel();
        m_controller.reset();
    });
    m_work.reset();
    // Pending socket writes (a close frame, a last "revoked") may finish in
    // the grace period; the queue then runs out of work and returns.
    m_finished.wait_for(grace);
    m_context.stop();
    m_thread.join();
}

} // namespace ferlow
