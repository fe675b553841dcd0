#include "FerlowCore/TrackpadPrefs.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

namespace {

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
