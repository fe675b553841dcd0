#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/Support/PrivateBus.h"

namespace ferlow::test {

// A RemoteDesktop portal (org.freedesktop.portal.Desktop) on a private bus.
// It records every call it gets, one line each ("NotifyPointerButton 272 1",
// "SelectDevices types=3 persist=2 token=none"), and answers each Request
// with the response set for its method (0 unless told), or never for a
// method that is silenced. Start grants `grant`'s devices (3 unless told)
// and hands out "token-1", "token-2", ...
class FakePortal final {
public:
    explicit FakePortal(const std::string& busAddress, std::uint32_t availableTypes = 3);

    void answer(const std::string& method, std::uint32_t response);
    void silence(const std::string& method);
    void grant(std::uint32_t devices);

    // Every call so far, or only those whose line starts with `prefix`.
    std::vector<std::string> calls(const std::string& prefix = "") const;
    // Waits, boundedly, until `count` calls start with `prefix` (with none:
    // until there have been `count` calls).
    bool waitFor(const std::string& prefix, std::size_t count) const;
    // Emits Session.Closed for the last session made, as a desktop does
    // when the user stops the sharing.
    void closeSession();

private:
    GVariant* respond(const BusService::Call& call);
    GVariant* request(const BusService::Call& call);
    void record(std::string line);

    std::uint32_t m_availableTypes;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_recorded;
    std::map<std::string, std::uint32_t> m_responses;
    std::uint32_t m_granted = 3;
    unsigned m_tokens = 0;
    std::string m_lastSession;
    std::vector<std::string> m_calls;
    BusService m_service; // last: it answers on another thread until it goes
};

} // namespace ferlow::test
