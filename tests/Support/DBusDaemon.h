#pragma once

#include <string>

#include "tests/Support/ReportingProcess.h"
#include "tests/Support/TestSupport.h"

namespace ferlow::test {

// A private D-Bus message bus for one test: dbus-daemon with the session
// bus's rules on a socket in a fresh folder. available() is false when
// dbus-daemon is missing or did not come up, with the reason in reason(), so
// a suite can skip rather than hang.
class DBusDaemon final {
public:
    DBusDaemon()
        : m_daemon({"dbus-daemon", "--session", "--nofork", "--nopidfile",
              "--address=unix:path=" + (m_folder.path() / "bus").string(), "--print-address={fd}"})
    {
    }

    bool available() const { return !m_daemon.line().empty(); }
    const std::string& reason() const { return m_daemon.problem(); }
    // For g_dbus_connection_new_for_address() or $DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& address() const { return m_daemon.line(); }

private:
    TemporaryDirectory m_folder;
    ReportingProcess m_daemon;
};

} // namespace ferlow::test
