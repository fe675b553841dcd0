#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include "Ferlow/MainContext.h"

namespace ferlow {

// The main context of `ferlow --headless`: an io_context run by the thread
// that calls run(), which returns after stop().
class AsioMainContext final : public MainContext {
public:
    AsioMainContext() = default;
    AsioMainContext(const AsioMainContext&) = delete;
    AsioMainContext& operator=(const AsioMainContext&) = delete;

    void post(Task task) override;
    std::unique_ptr<Timer> every(double interval, Task task) override;
    double now() const override { return steadyNow(); }

    // Runs queued tasks and timers until stop(); returns at once if stopped.
    void run();
    // Safe from any thread; tasks still queued are dropped.
    void stop();

    asio::io_context& context() { return m_context; }

private:
    asio::io_context m_context;
    asio::executor_work_guard<asio::io_context::executor_type> m_work = asio::make_work_guard(m_context);
};

} // namespace ferlow
