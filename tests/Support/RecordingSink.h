#pragma once

// The platform seam of the Linux layer in tests: a sink that remembers every
// event, and readable events in assertion failures.

#include <ostream>
#include <utility>
#include <vector>

#include "FerlowLinux/LinuxEvent.h"

namespace ferlow {

inline void PrintTo(const LinuxEvent& event, std::ostream* out) { *out << event.description(); }

class RecordingSink final : public LinuxEventSink {
public:
    void post(std::span<const LinuxEvent> posted) override { events.insert(events.end(), posted.begin(), posted.end()); }

    // Every event posted so far, and forget them.
    std::vector<LinuxEvent> take() { return std::exchange(events, {}); }

    std::vector<LinuxEvent> events;
};

} // namespace ferlow
