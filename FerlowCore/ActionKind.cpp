#include "FerlowCore/ActionKind.h"

#include <array>
#include <limits>
#include <string_view>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

namespace {
constexpr std::array<std::string_view, 5> caseKeys {"key", "media", "mouse", "gesture", "appSwitcher"};
}

nlohmann::ordered_json ActionKind::encode() const
{
    OrderedJson payload = OrderedJson::object();
    std::string_view name;
    if (const auto* k = as<Key>()) {
        name = "key";
        payload["code"] = k->code;
        payload["modifiers"] = k->modifiers;
    } else if (const auto* m = as<Media>()) {
        name = "media";
        payload["_0"] = rawValue(m->key);
    } else if (const auto* mouse = as<Mouse>()) {
        name = "mouse";
        payload["button"] = mouse->button;
    } else if (const auto* g = as<Gesture>()) {
        name = "gesture";
        payload["_0"] = rawValue(g->gesture);
    } else {
        name = "appSwitcher";
    }
    OrderedJson result = OrderedJson::object();
    result[std::string(name)] = std::move(payload);
    return result;
}

ActionKind ActionKind::decode(const nlohmann::json& json)
{
    object(json, "kind");
    std::string_view found;
    int count = 0;
    for (const auto key : caseKeys) {
        if (json.contains(key)) {
            found = key;
            ++count;
        }
    }
    if (count != 1)
        throw DecodingError(DecodingError::Kind::typeMismatch, "Invalid number of keys found, expected one.");

    const Json& payload = object(json.at(found), found);
    if (found == "key") {
        const std::uint64_t code = unsignedInteger(require(payload, "code"), "code");
        if (code > std::numeric_limits<std::uint16_t>::max())
            throw DecodingError(DecodingError::Kind::typeMismatch, "typeMismatch: \"code\" does not fit 16 bits");
        const std::uint64_t modifiers = unsignedInteger(require(payload, "modifiers"), "modifiers");
        return key(static_cast<std::uint16_t>(code), modifiers);
    }
    if (found == "media") {
        const auto key = mediaKeyFromRaw(requireString(payload, "_0"));
        if (!key)
            throw DecodingError(DecodingError::Kind::dataCorrupted, "dataCorrupted: unknown media key");
        return media(*key);
    }
    if (found == "mouse")
        return mouse(requireInteger(payload, "button"));
    if (found == "gesture") {
        const auto g = systemGestureFromRaw(requireString(payload, "_0"));
        if (!g)
            throw DecodingError(DecodingError::Kind::dataCorrupted, "dataCorrupted: unknown system gesture");
        return gesture(*g);
    }
    return appSwitcher();
}

} // namespace ferlow
