#include "FerlowCore/TrackpadPrefs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/CodingError.h"

namespace ferlow {
namespace {

using Json = nlohmann::json;

// The mapping from macOS's trackpad settings is kept for a macOS build.
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

TEST(TrackpadPrefsMapping, GestureFlagsAndTheirDefaults)
{
    auto prefs = fromTrackpad(R"({"TrackpadPinch":1})");
    EXPECT_TRUE(prefs.fromTrackpad);
    EXPECT_FALSE(prefs.threeFingerDrag);
    EXPECT_TRUE(prefs.missionControl);
    EXPECT_FALSE(prefs.appExpose); // off unless the dock says so
    EXPECT_FALSE(prefs.lookUp);
    EXPECT_TRUE(prefs.smartZoom && prefs.rotate && prefs.pinch && prefs.rightClick);
    EXPECT_TRUE(prefs.showDesktop && prefs.apps);

    prefs = fromTrackpad(R"({"TrackpadThreeFingerTapGesture":2,"TrackpadTwoFingerDoubleTapGesture":0,
        "TrackpadRotate":0,"TrackpadPinch":0,"TrackpadRightClick":0})",
        R"({"showMissionControlGestureEnabled":0,"showAppExposeGestureEnabled":1,"showDesktopGestureEnabled":0})");
    EXPECT_TRUE(prefs.lookUp);
    EXPECT_FALSE(prefs.smartZoom || prefs.rotate || prefs.pinch || prefs.rightClick || prefs.missionControl);
    EXPECT_TRUE(prefs.appExpose);
    EXPECT_FALSE(prefs.showDesktop);
    EXPECT_TRUE(prefs.apps);

    // A four-finger pinch setting other than 2 turns both off whatever the dock says.
    prefs = fromTrackpad(R"({"TrackpadFourFingerPinchGesture":0})",
        R"({"showDesktopGestureEnabled":1,"showLaunchpadGestureEnabled":1})");
    EXPECT_FALSE(prefs.showDesktop || prefs.apps);
}

TEST(TrackpadPrefsCoding, FourteenKeysAllRequired)
{
    TrackpadPrefs prefs = TrackpadPrefs::builtIn(false);
    prefs.swipeH = {3, 4};
    const auto json = prefs.encode();
    EXPECT_EQ(json.size(), 14u);
    EXPECT_EQ(TrackpadPrefs::decode(Json::parse(json.dump())), prefs);
    for (const auto& [key, value] : json.items()) {
        auto missing = Json::parse(json.dump());
        missing.erase(key);
        EXPECT_THROW(TrackpadPrefs::decode(missing), DecodingError) << key;
    }
    auto wrong = Json::parse(json.dump());
    wrong["swipeH"] = {3, "4"};
    EXPECT_THROW(TrackpadPrefs::decode(wrong), DecodingError);
    EXPECT_TRUE(TrackpadPrefs::isTrackpad("AppleMultitouchTrackpadHIDEventDriver"));
    EXPECT_FALSE(TrackpadPrefs::isTrackpad("AppleMultitouchtrackpad"));
}

} // namespace
} // namespace ferlow
