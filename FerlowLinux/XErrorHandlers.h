#pragma once

namespace ferlow {

// Xlib's default handlers end the process: on any protocol error, and on a
// broken server connection even when the connection has an exit handler of
// its own (XSetIOErrorExitHandler, libX11 1.7). Installs, once per process,
// handlers that return instead wherever Xlib's defaults are still in place:
// protocol errors are ignored, and a broken connection is left to its own
// exit handler, which stays Xlib's exit(1) for connections that set none.
// Call it before opening a connection that sets an exit handler. Safe from
// any thread, any number of times.
void installXErrorHandlers();

} // namespace ferlow
