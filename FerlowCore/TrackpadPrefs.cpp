#include "FerlowCore/TrackpadPrefs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

namespace {

// The setting as a number, or nothing when it is absent or not a number.
std::optional<double> setting(const std::optional<nlohmann::json>& settings, std::string_view key)
{
    if (!settings || !settings->is_object())
        return std::nullopt;
    const auto found = settings->find(key);
    if (found == settings->end())
        return std::nullopt;
    // Booleans are numbers in the property-list sense (true is 1).
    if (found->is_boolean())
        return found->get<bool>() ? 1.0 : 0.0;
    if (!found->is_number())
        return std::nullopt;
    return found->get<double>();
}

long long integerSetting(const std::optional<nlohmann::json>& settings, std::string_view key, long long fallback)
{
    const auto value = setting(settings, key);
    if (!value || !std::isfinite(*value))
        return fallback;
    // A number's integer value: truncated, and saturated for absurd sizes.
    const double limit = 9.2e18;
    return static_cast<long long>(std::trunc(std::clamp(*value, -limit, limit)));
}

bool boolSetting(const std::optional<nlohmann::json>& settings, std::string_view key, bool fallback)
{
    const auto value = setting(settings, key);
    return value ? *value != 0 : fallback;
}

std::vector<int> fingers(const std::optional<nlohmann::json>& trackpad, bool threeFingerDrag,
    std::string_view threeKey, std::string_view fourKey)
{
    std::vector<int> list;
    if (!threeFingerDrag && integerSetting(trackpad, threeKey, 0) == 2)
        list.push_back(3);
    const auto four = setting(trackpad, fourKey);
    if (!four || integerSetting(trackpad, fourKey, 0) == 2)
        list.push_back(4);
    return list;
}

std::vector<int> intList(const Json& json, std::string_view key)
{
    const Json& value = require(json, key);
    if (!value.is_array())
        throw DecodingError(DecodingError::Kind::typeMismatch,
            "typeMismatch: expected an array at \"" + std::string(key) + "\"");
    std::vector<int> list;
    for (const auto& element : value) {
        const auto n = integer(element, key);
        if (n < std::numeric_limits<int>::min() || n > std::numeric_limits<int>::max())
            throw DecodingError(DecodingError::Kind::dataCorrupted, "dataCorrupted: finger count out of range");
        list.push_back(static_cast<int>(n));
    }
    return list;
}

} // namespace

TrackpadPrefs TrackpadPrefs::builtIn(bool naturalScroll)
{
    TrackpadPrefs prefs;
    prefs.naturalScroll = naturalScroll;
    return prefs;
}

TrackpadPrefs TrackpadPrefs::from(const std::optional<nlohmann::json>& trackpad,
    const std::optional<nlohmann::json>& dock, bool naturalScroll, bool hasTrackpad)
{
    if (!hasTrackpad || !trackpad || !trackpad->is_object() || trackpad->empty())
        return builtIn(naturalScroll);

    TrackpadPrefs prefs;
    prefs.naturalScroll = naturalScroll;
    prefs.threeFingerDrag = integerSetting(trackpad, "TrackpadThreeFingerDrag", 0) == 1;
    prefs.swipeH = fingers(trackpad, prefs.threeFingerDrag,
        "TrackpadThreeFingerHorizSwipeGesture", "TrackpadFourFingerHorizSwipeGesture");
    prefs.swipeV = fingers(trackpad, prefs.threeFingerDrag,
        "TrackpadThreeFingerVertSwipeGesture", "TrackpadFourFingerVertSwipeGesture");
    prefs.missionControl = boolSetting(dock, "showMissionControlGestureEnabled", true);
    prefs.appExpose = boolSetting(dock, "showAppExposeGestureEnabled", false);
    prefs.lookUp = integerSetting(trackpad, "TrackpadThreeFingerTapGesture", 0) == 2;
    prefs.smartZoom = integerSetting(trackpad, "TrackpadTwoFingerDoubleTapGesture", 1) == 1;
    prefs.rotate = integerSetting(trackpad, "TrackpadRotate", 1) == 1;
    prefs.pinch = integerSetting(trackpad, "TrackpadPinch", 1) == 1;
    prefs.rightClick = integerSetting(trackpad, "TrackpadRightClick", 1) == 1;
    const bool fourFingerPinch = integerSetting(trackpad, "TrackpadFourFingerPinchGesture", 2) == 2;
    prefs.showDesktop = fourFingerPinch && boolSetting(dock, "showDesktopGestureEnabled", true);
    prefs.apps = fourFingerPinch && boolSetting(dock, "showLaunchpadGestureEnabled", true);
    prefs.fromTrackpad = true;
    return prefs;
}

bool TrackpadPrefs::isTrackpad(std::string_view driverClass)
{
    return driverClass.find("Trackpad") != std::string_view::npos;
}

nlohmann::ordered_json TrackpadPrefs::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["natural"] = naturalScroll;
    json["drag3"] = threeFingerDrag;
    json["swipeH"] = swipeH;
    json["swipeV"] = swipeV;
    json["mc"] = missionControl;
    json["expose"] = appExpose;
    json["lookUp"] = lookUp;
    json["zoom"] = smartZoom;
    json["rotate"] = rotate;
    json["pinch"] = pinch;
    json["right"] = rightClick;
    json["desktop"] = showDesktop;
    json["apps"] = apps;
    json["trackpad"] = fromTrackpad;
    return json;
}

TrackpadPrefs TrackpadPrefs::decode(const nlohmann::json& json)
{
    object(json, "prefs");
    TrackpadPrefs prefs;
    prefs.naturalScroll = requireBool(json, "natural");
    prefs.threeFingerDrag = requireBool(json, "drag3");
    prefs.swipeH = intList(json, "swipeH");
    prefs.swipeV = intList(json, "swipeV");
    prefs.missionControl = requireBool(json, "mc");
    prefs.appExpose = requireBool(json, "expose");
    prefs.lookUp = requireBool(json, "lookUp");
    prefs.smartZoom = requireBool(json, "zoom");
    prefs.rotate = requireBool(json, "rotate");
    prefs.pinch = requireBool(json, "pinch");
    prefs.rightClick = requireBool(json, "right");
    prefs.showDesktop = requireBool(json, "desktop");
    prefs.apps = requireBool(json, "apps");
    prefs.fromTrackpad = requireBool(json, "trackpad");
    return prefs;
}

} // namespace ferlow
