#pragma once

#include <memory>
#include <string>

#include "tests/Support/ServerProcess.h"
#include "tests/Support/TestSupport.h"

namespace ferlow::test {

// A message bus of the test's own: dbus-daemon with a configuration that
// activates nothing, so no real service of the machine (a portal, Avahi)
// can answer on it. available() is false when dbus-daemon is missing or did
// not come up, so a suite can skip rather than hang.
class PrivateBus final {
public:
    PrivateBus();
    bool available() const { return !m_server->line().empty(); }
    const std::string& reason() const { return m_server->reason(); }
    const std::string& address() const { return m_server->line(); }
    // Ends the bus, as when the user's session goes.
    void stop() { m_server->stop(); }

private:
    TemporaryDirectory m_folder;
    std::unique_ptr<ServerProcess> m_server;
};

} // namespace ferlow::test
