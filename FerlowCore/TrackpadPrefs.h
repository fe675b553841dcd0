#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace ferlow {

// A snapshot of how the computer's trackpad gestures are set up, sent to the
// phone so the pad can imitate them.
//
// JSON form: exactly the 14 keys "natural", "drag3", "swipeH", "swipeV", "mc",
// "expose", "lookUp", "zoom", "rotate", "pinch", "right", "desktop", "apps",
// "trackpad", all required when decoding.
struct TrackpadPrefs {
    bool naturalScroll = true;
    bool threeFingerDrag = false;
    std::vector<int> swipeH {4};
    std::vector<int> swipeV {3};
    bool missionControl = true;
    bool appExpose = true;
    bool lookUp = true;
    bool smartZoom = true;
    bool rotate = true;
    bool pinch = true;
    bool rightClick = true;
    bool showDesktop = true;
    bool apps = true;
    bool fromTrackpad = false;

    bool operator==(const TrackpadPrefs&) const = default;

    // The built-in snapshot used without a trackpad (all gestures on, four
    // fingers swipe between spaces, three open Mission Control).
    static TrackpadPrefs builtIn(bool naturalScroll);

    nlohmann::ordered_json encode() const;
    static TrackpadPrefs decode(const nlohmann::json& json); // throws DecodingError
};

} // namespace ferlow
