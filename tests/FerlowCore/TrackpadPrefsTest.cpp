#include "FerlowCore/TrackpadPrefs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace ferlow {
namespace {

using Json = nlohmann::json;

// The mapping from macOS's trackpad settings, kept for a macOS build: no
// Linux path reads it, so only the finger lists, where settings interact.
TrackpadPrefs fromTrackpad(const char* trackpad, const char* dock = "{}")
{
    return TrackpadPrefs::from(Json::parse(trackpad), Json::parse(dock), true, true);
}

TEST(TrackpadPrefsMapping, WithoutATrackpadTheBuiltInSnapshotKeepsOnlyTheScrollDirection)
{
    for (const bool natural : {true, false}) {
        const auto settings = Json::parse(R"({"TrackpadThreeFingerDrag":1,"TrackpadRotate":0})");
        const auto prefs = TrackpadPrefs::from(settings, std::nullopt, natural, false);
        EXPECT_EQ(prefs, TrackpadPrefs::builtIn(natural));
    }
    EXPECT_EQ(TrackpadPrefs::from(Json::object(), std::nullopt, false, true), TrackpadPrefs::builtIn(false));
    EXPECT_EQ(TrackpadPrefs::from(std::nullopt, std::nullopt, true, true), TrackpadPrefs::builtIn(true));
}

TEST(TrackpadPrefsMapping, FingerListsFollowTheSwipeAndDragSettings)
{
    const struct {
        const char* trackpad;
        std::vector<int> swipeH;
    } cases[] = {
        {R"({"TrackpadThreeFingerHorizSwipeGesture":2})", {3, 4}},
        {R"({"TrackpadThreeFingerHorizSwipeGesture":2,"TrackpadThreeFingerDrag":1})", {4}},
        {R"({"TrackpadThreeFingerHorizSwipeGesture":2,"TrackpadFourFingerHorizSwipeGesture":0})", {3}},
        {R"({"TrackpadThreeFingerHorizSwipeGesture":1,"TrackpadFourFingerHorizSwipeGesture":0})", {}},
        {R"({"TrackpadFourFingerHorizSwipeGesture":2})", {4}},
        {R"({"TrackpadThreeFingerHorizSwipeGesture":"2","TrackpadFourFingerHorizSwipeGesture":"0"})", {4}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fromTrackpad(c.trackpad).swipeH, c.swipeH) << c.trackpad;
}

} // namespace
} // namespace ferlow
