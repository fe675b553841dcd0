#include "FerlowCore/UpdateStatus.h"

#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

nlohmann::ordered_json UpdateStatus::encode() const
{
    OrderedJson json = OrderedJson::object();
    switch (kind) {
    case Kind::available:
        json["s"] = "available";
        json["v"] = version;
        break;
    case Kind::required:
        json["s"] = "required";
        json["v"] = version;
        break;
    case Kind::upToDate:
        json["s"] = "ok";
        break;
    }
    return json;
}

UpdateStatus UpdateStatus::decode(const nlohmann::json& json)
{
    object(json, "update");
    std::string v;
    if (const auto* value = optional(json, "v"))
        v = string(*value, "v");
    const std::string s = requireString(json, "s");
    if (s == "required")
        return required(std::move(v));
    if (s == "available")
        return available(std::move(v));
    return upToDate();
}

} // namespace ferlow
