#pragma once

#include <string>

#include "tests/Support/ServerProcess.h"

namespace ferlow::test {

// A private X server for one test: Xvfb started on a free display number
// (it picks one and reports it through -displayfd), with the RANDR and XTEST
// extensions, killed and reaped when the object goes. Construction waits at
// most a few seconds; available() is false when Xvfb is missing or did not
// come up, with the reason in reason(), so a suite can skip rather than hang.
class Xvfb final {
public:
    explicit Xvfb(const std::string& screen = "1920x1080x24");

    bool available() const { return !m_display.empty(); }
    const std::string& reason() const { return m_server.reason(); }
    // ":N", for XOpenDisplay or $DISPLAY.
    const std::string& display() const { return m_display; }
    // The server's process, for tests that stop and continue it.
    pid_t pid() const { return m_server.pid(); }

private:
    ServerProcess m_server;
    std::string m_display;
};

} // namespace ferlow::test
