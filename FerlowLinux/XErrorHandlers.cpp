#include "FerlowLinux/XErrorHandlers.h"

#include <mutex>

#include <X11/Xlib.h>

namespace ferlow {

namespace {

int ignoreProtocolError(Display*, XErrorEvent*) { return 0; }

// Returning hands the connection to its exit handler.
int returnFromIOError(Display*) { return 0; }

} // namespace

void installXErrorHandlers()
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
            XSetIOErrorHandler(returnFromIOError);
    });
}

} // namespace ferlow
