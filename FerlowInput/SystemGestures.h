#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "FerlowCore/SystemGesture.h"
#include "FerlowInput/EventSpec.h"

namespace ferlow {

// The fixed key sequences that perform system gestures, and the shortcut
// builder they share with key action buttons. Pure; no state.
struct SystemGestures {
    // The application opened for the `apps` gesture.
    static constexpr std::string_view appsBundleID = "com.apple.apps.launcher";

    // A modifier key to hold: its key code and its flag bit.
    struct ModifierKey {
        std::uint16_t code;
        std::uint64_t bit;
    };

    // One shortcut split into what to post on press and on release.
    struct Stroke {
        std::vector<EventSpec> press;
        std::vector<EventSpec> release;
    };

    // Presses the modifiers in order, each with the flags held so far, then
    // the main key with all of them plus `extra` (function / numeric-pad
    // bits the main key needs); the release lifts the main key, then the
    // modifiers in reverse order, the last with flags 0.
    static Stroke stroke(std::uint16_t main, std::span<const ModifierKey> modifiers, std::uint64_t extra);

    // The whole shortcut: the press of `stroke` followed by its release.
    static std::vector<EventSpec> combo(std::uint16_t main, std::span<const ModifierKey> modifiers, std::uint64_t extra);

    static std::vector<EventSpec> specs(SystemGesture gesture);
};

} // namespace ferlow
