#include "FerlowLinux/XConnection.h"

#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include <unistd.h>

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

// Closing no longer marks anything lost: the connection object may be gone
// by the time a close that waited on the server meets a broken connection.
void forgetLoss(Display*, void*) { }

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
        XSetIOErrorExitHandler(m_display, exitHandler, this);
}

XConnection::~XConnection()
{
    if (!m_display)
        return;
    if (!lost()) {
        // XCloseDisplay waits for the server's answer (XSync), so a server
        // that stopped answering (a stopped or hung X server) would hold
        // the caller for ever. It runs on a thread of its own, waited for
        // only so long; past that the thread is left to finish whenever the
        // server answers, or to end with the process.
        XSetIOErrorExitHandler(m_display, forgetLoss, nullptr);
        auto closed = std::make_shared<std::promise<void>>();
        auto done = closed->get_future();
        std::thread([display = m_display, closed] {
            XCloseDisplay(display);
            closed->set_value();
        }).detach();
        done.wait_for(closeLimit);
        return;
    }
    // Xlib can leave a lost display marked as being read by the thread that
    // met the loss, and XCloseDisplay then waits for that reader for ever.
    // So only the socket is released; the few kilobytes of the display
    // structure stay behind, once per lost server.
    ::close(XConnectionNumber(m_display));
}

void XConnection::exitHandler(Display*, void* connection) { static_cast<XConnection*>(connection)->markLost(); }

} // namespace ferlow
