#pragma once

#include <atomic>
#include <chrono>
#include <string>

struct _XDisplay; // Xlib's Display, kept out of the headers that include this one

namespace ferlow {

// One connection to an X server, used by one thread at a time (lost() may be
// read from any thread).
//
// A server that goes away never ends the process. Xlib's answer to a broken
// connection is exit(), even for a connection with an exit handler of its
// own, unless the process-wide I/O-error handler returns. So the first
// XConnection replaces Xlib's default handlers (and only the defaults, not
// handlers a toolkit chose): protocol errors, such as asking about a window
// that was destroyed a moment earlier, are ignored, since each call's own
// return status tells its caller; and a broken connection goes on to this
// connection's exit handler (libX11 1.7's XSetIOErrorExitHandler), which
// marks it lost, after which each Xlib call on it fails at once.
class XConnection final {
public:
    // The longest the destructor waits for the server to see the connection
    // closed.
    static constexpr std::chrono::milliseconds closeLimit {100};

    // Connects to `name` (":0"), or to $DISPLAY when empty. Without a server
    // the connection is simply absent.
    explicit XConnection(const std::string& name = {});
    // Waits at most closeLimit for the server, never longer.
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    // Null when no server could be reached. Still valid (but failing) once lost.
    _XDisplay* display() const { return m_display; }
    bool usable() const { return m_display != nullptr && !lost(); }
    bool lost() const { return m_lost.load(std::memory_order_relaxed); }
    // For a caller that met the broken connection through XCB, which Xlib's
    // handlers never hear of.
    void markLost() { m_lost.store(true, std::memory_order_relaxed); }

private:
    static void exitHandler(_XDisplay* display, void* connection);

    _XDisplay* m_display = nullptr;
    std::atomic<bool> m_lost {false};
};

} // namespace ferlow
