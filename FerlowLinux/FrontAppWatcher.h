#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "FerlowLinux/FrontApp.h"

namespace ferlow {

// Follows the application in front on X11: the window manager's
// _NET_ACTIVE_WINDOW (EWMH), that window's WM_CLASS, then FrontApp's table.
//
// It waits on its own thread and its own X connection for the root window's
// PropertyNotify events; nothing is polled. Each change, and the application
// in front at the start, is handed to `changed` through `post`, so `changed`
// runs wherever `post` runs its tasks (the main context); `post` itself is
// called on the watcher's thread. Only real changes are delivered, and
// nothing while no window is active (the desktop has focus). Without an X
// server (or once it is gone) nothing is delivered at all.
class FrontAppWatcher final {
public:
    using Task = std::function<void()>;
    using Post = std::function<void(Task)>;
    using Changed = std::function<void(const FrontApp&)>;

    // The longest the destructor waits for the thread, which only takes long
    // when the X server stops answering in the middle of a request: a quit
    // must not hang on a stopped server.
    static constexpr std::chrono::milliseconds stopLimit {200};

    // Starts watching at once. `display` as for XConnection: empty means
    // $DISPLAY.
    FrontAppWatcher(Post post, Changed changed, const std::string& display = {});

    // Stops the thread; no `changed` call starts after this returns (tasks
    // already posted then do nothing).
    ~FrontAppWatcher();

    FrontAppWatcher(const FrontAppWatcher&) = delete;
    FrontAppWatcher& operator=(const FrontAppWatcher&) = delete;

    bool connected() const { return m_connected; }

private:
    struct State;
    static void watch(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
    std::future<void> m_finished;
    bool m_connected = false;
};

} // namespace ferlow
