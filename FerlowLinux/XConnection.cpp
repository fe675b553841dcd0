#include "FerlowLinux/XConnection.h"

#include <mutex>

#include <X11/Xlib.h>

namespace ferlow {

namespace {

int ignoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

// Returning lets Xlib go on to the connection's exit handler instead of
// exiting here.
int continueAfterIOError(Display*)
{
    return 0;
}

void installHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Setting null reinstates Xlib's default and returns what was set,
        // so the default can be told apart from a handler someone chose.
        const XErrorHandler current = XSetErrorHandler(nullptr);
        const XErrorHandler builtIn = XSetErrorHandler(current);
        if (current == builtIn)
            XSetErrorHandler(ignoreProtocolError);
        const XIOErrorHandler currentIO = XSetIOErrorHandler(nullptr);
        const XIOErrorHandler builtInIO = XSetIOErrorHandler(currentIO);
        if (currentIO == builtInIO)
            XSetIOErrorHandler(continueAfterIOError);
    });
}

} // namespace

XConnection::XConnection(const std::string& name)
{
    installHandlers();
    m_display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (m_display)
        XSetIOErrorExitHandler(m_display, markLost, this);
}

XConnection::~XConnection()
{
    // Closing a lost connection only frees its memory.
    if (m_display)
        XCloseDisplay(m_display);
}

void XConnection::markLost(Display*, void* connection)
{
    static_cast<XConnection*>(connection)->m_lost.store(true, std::memory_order_relaxed);
}

} // namespace ferlow
