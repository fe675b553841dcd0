#include "FerlowCore/MacMessage.h"

#include <array>

#include "FerlowCore/JSONCoding.h"
#include "FerlowCore/MessageCodec.h"

namespace ferlow {

using namespace JSONCoding;

namespace {
constexpr std::array<std::string_view, 10> tags {
    "ready", "ax", "actions", "prefs", "ctx", "update", "pong", "replaced", "revoked", "untyped",
};
} // namespace

std::string_view MacMessage::tag() const { return tags[value.index()]; }

nlohmann::ordered_json MacMessage::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["t"] = tag();
    std::visit([&json](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Ready>) {
            json["ax"] = m.accessibility;
            json["actions"] = ActionButton::encodeList(m.actions);
            json["name"] = m.macName;
            json["g"] = m.prefs.encode();
            if (m.app)
                json["app"] = m.app->encode();
            json["u"] = m.update.encode();
            if (m.typing)
                json["txt"] = true;
        } else if constexpr (std::is_same_v<T, Accessibility>) {
            json["ok"] = m.granted;
        } else if constexpr (std::is_same_v<T, Actions>) {
            json["actions"] = ActionButton::encodeList(m.actions);
        } else if constexpr (std::is_same_v<T, Prefs>) {
            json["g"] = m.prefs.encode();
        } else if constexpr (std::is_same_v<T, Context>) {
            if (m.app)
                json["app"] = m.app->encode();
        } else if constexpr (std::is_same_v<T, Update>) {
            json["u"] = m.status.encode();
        } else if constexpr (std::is_same_v<T, Pong>) {
            json["ts"] = finite(m.ts, "ts");
        } else if constexpr (std::is_same_v<T, Untyped>) {
            json["s"] = m.characters;
        }
    }, value);
    return json;
}

MacMessage MacMessage::decode(const nlohmann::json& json)
{
    object(json, "message");
    const std::string t = requireString(json, "t");
    if (t == "ready") {
        Ready ready;
        ready.accessibility = requireBool(json, "ax");
        ready.actions = ActionButton::decodeList(require(json, "actions"));
        if (const auto* name = optional(json, "name"))
            ready.macName = string(*name, "name");
        if (const auto* g = optional(json, "g"))
            ready.prefs = TrackpadPrefs::decode(*g);
        if (const auto* app = optional(json, "app"))
            ready.app = AppContext::decode(*app);
        if (const auto* u = optional(json, "u"))
            ready.update = UpdateStatus::decode(*u);
        if (const auto* txt = optional(json, "txt"))
            ready.typing = boolean(*txt, "txt");
        return {std::move(ready)};
    }
    if (t == "ax")
        return accessibility(requireBool(json, "ok"));
    if (t == "actions")
        return actions(ActionButton::decodeList(require(json, "actions")));
    if (t == "prefs")
        return prefs(TrackpadPrefs::decode(require(json, "g")));
    if (t == "ctx") {
        std::optional<AppContext> app;
        if (const auto* value = optional(json, "app"))
            app = AppContext::decode(*value);
        return context(std::move(app));
    }
    if (t == "update")
        return update(UpdateStatus::decode(require(json, "u")));
    if (t == "pong")
        return pong(requireNumber(json, "ts"));
    if (t == "replaced")
        return replaced();
    if (t == "revoked")
        return revoked();
    if (t == "untyped")
        return untyped(requireString(json, "s"));
    throw MessageCodecError::unknownType(t);
}

} // namespace ferlow
