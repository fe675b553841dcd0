#pragma once

namespace ferlow {

// The right to inject input into the desktop session. Everything outside the
// platform layer reads only isTrusted() and request(); the app re-reads them
// when the platform tells of a change (or now and then where it cannot) and
// announces it itself, so prompt() and openSettings() just lead the user
// towards granting it. Each platform supplies one
// implementation. All calls are synchronous and may be made from any thread;
// prompt() never waits for the user's answer.
class Permissions {
public:
    // Where the system's own request for the permission stands, on systems
    // whose desktop asks the user itself (a portal's dialog) and may say no.
    enum class Request {
        none,    // nothing asked, or the permission is there
        pending, // asked; the answer comes by itself
        refused, // the user or the desktop said no; prompt() asks again
        ended,   // it was given, then the desktop took it back
    };

    virtual ~Permissions() = default;

    // Whether input may be posted now. Never asks the user anything.
    virtual bool isTrusted() const = 0;
    // Shows the system's own request for the permission when there is one and
    // it is not granted yet; does nothing visible otherwise.
    virtual void prompt() = 0;
    // Opens the place where the user grants the permission; whether that
    // worked is not reported.
    virtual void openSettings() = 0;
    // Never blocks; read as often as isTrusted().
    virtual Request request() const { return Request::none; }
    // Whether the desktop itself asks the user, in a dialog of its own, and
    // may say no; fixed for the life of the object.
    virtual bool desktopAsks() const { return false; }
};

} // namespace ferlow
