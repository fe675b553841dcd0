#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FerlowCore/PhoneMessage.h"

namespace ferlow {

// Remembers which gestures and presses one phone's messages left open, and
// produces the phone messages that close them all: after `timeout` seconds
// of silence (`expired`) or when the session ends (`finishAll`). The caller
// feeds those through the translator like real input, so closing uses the
// same translation as the phone would have.
//
// At most `maxOpenPresses` buttons and as many actions are remembered; past
// that the oldest are forgotten, so a phone cannot grow the lists without
// bound with made-up button indexes or action ids. Not thread-safe.
class Watchdog final {
public:
    using Clock = std::function<double()>; // monotonic seconds

    static constexpr std::size_t maxOpenPresses = 64;

    struct OpenDock {
        DockKind kind;
        double progress;
        bool operator==(const OpenDock&) const = default;
    };

    Watchdog(double timeout, Clock now);

    void observe(const PhoneMessage& message);

    // The close-out once more than `timeout` seconds passed since the last
    // message; otherwise nothing.
    std::vector<PhoneMessage> expired();

    // When the silence would have to end for expired() to close something:
    // `timeout` after the last message, while anything is open; otherwise
    // nothing.
    std::optional<double> expiresAt() const;

    // The close-out now: scroll end, momentum end, pinch end, rotate end,
    // dock cancel, then button and action releases in press order. Leaves
    // nothing open.
    std::vector<PhoneMessage> finishAll();

    const std::vector<std::int64_t>& held() const { return m_held; }
    const std::vector<std::string>& heldActions() const { return m_heldActions; }
    const std::optional<OpenDock>& dock() const { return m_dock; }

private:
    double m_timeout;
    Clock m_now;
    double m_lastSeen;
    bool m_scrollOpen = false;
    bool m_momentumOpen = false;
    bool m_pinchOpen = false;
    bool m_rotateOpen = false;
    std::optional<OpenDock> m_dock;
    std::vector<std::int64_t> m_held;       // button indexes, in press order
    std::vector<std::string> m_heldActions; // action ids, in press order
};

} // namespace ferlow
