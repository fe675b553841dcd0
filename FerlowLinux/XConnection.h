#pragma once

#include <string>

struct _XDisplay; // Xlib's Display, kept out of the headers that include this one

namespace ferlow {

// One connection to an X server, used by one thread at a time.
//
// A server that goes away never ends the process. Xlib's answer to a broken
// connection is exit(); every XConnection replaces it (libX11 1.8's
// per-display exit handler) by marking itself lost, after which each Xlib
// call on it fails at once. Protocol errors, such as asking about a window
// that was destroyed a moment earlier, are ignored process-wide: each call's
// own return status tells its caller.
class XConnection final {
public:
    // Connects to `name` (":0"), or to $DISPLAY when empty. Without a server
    // the connection is simply absent.
    explicit XConnection(const std::string& name = {});
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    // Null when no server could be reached. Still valid (but failing) once lost.
    _XDisplay* display() const { return m_display; }
    bool usable() const { return m_display != nullptr && !m_lost; }
    bool lost() const { return m_lost; }

private:
    static void markLost(_XDisplay* display, void* connection);

    _XDisplay* m_display = nullptr;
    bool m_lost = false;
};

} // namespace ferlow
