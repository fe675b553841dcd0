#pragma once

namespace ferlow {

// The right to inject input into the desktop session. Everything outside the
// platform layer reads only isTrusted(); the app re-reads it periodically and
// announces a change itself, so prompt() and openSettings() just lead the
// user towards granting it. Each platform supplies one implementation. All
// three calls are synchronous, may be made from any thread and keep no state.
class Permissions {
public:
    virtual ~Permissions() = default;

    // Whether input may be posted now. Never asks the user anything.
    virtual bool isTrusted() const = 0;
    // Shows the system's own request for the permission when there is one and
    // it is not granted yet; does nothing visible otherwise.
    virtual void prompt() = 0;
    // Opens the place where the user grants the permission; whether that
    // worked is not reported.
    virtual void openSettings() = 0;
};

} // namespace ferlow
