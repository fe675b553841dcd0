#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace ferlow {

// The context the app model and its views live on: the Qt event loop in the
// tray app, an Asio loop on the main thread when headless, a hand-run queue
// in tests. Everything the model publishes is read and written here only;
// other threads reach it by post().
class MainContext {
public:
    using Task = std::function<void()>;

    // A repeating timer; it stops when the object goes.
    class Timer {
    public:
        virtual ~Timer() = default;
    };

    virtual ~MainContext() = default;

    // Queues `task` to run on this context after what is already queued.
    // Safe from any thread; never runs the task before returning.
    virtual void post(Task task) = 0;
    // Runs `task` every `interval` seconds, the first time one interval from
    // now, until the returned timer is destroyed. Call on this context.
    virtual std::unique_ptr<Timer> every(double interval, Task task) = 0;
    // Monotonic seconds; the same clock the I/O side uses.
    virtual double now() const = 0;

    static double steadyNow()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

} // namespace ferlow
