#include "FerlowCore/ActionButton.h"

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

nlohmann::ordered_json ActionButton::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["id"] = id;
    json["title"] = title;
    json["kind"] = kind.encode();
    if (conflict)
        json["conflict"] = *conflict;
    json["keep"] = keep;
    if (group)
        json["group"] = *group;
    return json;
}

ActionButton ActionButton::decode(const nlohmann::json& json)
{
    object(json, "ActionButton");
    ActionButton button;
    button.id = requireString(json, "id");
    button.title = requireString(json, "title");
    button.kind = ActionKind::decode(require(json, "kind"));
    if (const auto* conflict = optional(json, "conflict"))
        button.conflict = string(*conflict, "conflict");
    button.keep = requireBool(json, "keep");
    if (const auto* group = optional(json, "group"))
        button.group = string(*group, "group");
    return button;
}

nlohmann::ordered_json ActionButton::encodeList(const std::vector<ActionButton>& buttons)
{
    OrderedJson list = OrderedJson::array();
    for (const auto& button : buttons)
        list.push_back(button.encode());
    return list;
}

std::vector<ActionButton> ActionButton::decodeList(const nlohmann::json& json)
{
    if (!json.is_array())
        throw DecodingError(DecodingError::Kind::typeMismatch, "typeMismatch: expected an array of buttons");
    std::vector<ActionButton> buttons;
    buttons.reserve(json.size());
    for (const auto& element : json)
        buttons.push_back(decode(element));
    return buttons;
}

nlohmann::ordered_json AppContext::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["name"] = name;
    json["actions"] = ActionButton::encodeList(actions);
    return json;
}

AppContext AppContext::decode(const nlohmann::json& json)
{
    object(json, "AppContext");
    AppContext context;
    context.name = requireString(json, "name");
    context.actions = ActionButton::decodeList(require(json, "actions"));
    return context;
}

} // namespace ferlow
