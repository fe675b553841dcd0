#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tests/Support/ServerProcess.h"
#include "tests/Support/TestSupport.h"

typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusMessage GDBusMessage;
typedef struct _GVariant GVariant;

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

// A stand-in for a desktop service on such a bus. Every method call it gets,
// whatever the object or interface, is answered on GDBus's worker thread with
// the body `answer` returns (an empty reply for nullptr). Signals emitted from
// inside `answer` follow its reply, as a real service's would.
class BusService final {
public:
    struct Call {
        std::string sender, path, interface, method;
        GVariant* parameters; // null for a call without arguments
    };
    using Answer = std::function<GVariant*(const Call&)>;

    BusService(const std::string& busAddress, std::string name, Answer answer);
    ~BusService();
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

    // Takes or gives back the service's well-known name.
    bool own(bool on);
    void emit(const std::string& path, const char* interface, const char* signal, GVariant* parameters,
        const std::string& destination = "");

private:
    static GDBusMessage* filter(GDBusConnection*, GDBusMessage*, int incoming, void* self);

    GDBusConnection* m_connection;
    std::string m_name;
    Answer m_answer;
    unsigned m_filter = 0;
};

} // namespace ferlow::test
