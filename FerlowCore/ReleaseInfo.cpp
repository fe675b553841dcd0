#include "FerlowCore/ReleaseInfo.h"

#include "FerlowCore/JSONCoding.h"
#include "FerlowCore/Version.h"

namespace ferlow {

using namespace JSONCoding;

UpdateStatus ReleaseInfo::status(std::string_view current) const
{
    if (Version::isOlder(current, minimum))
        return UpdateStatus::required(latest);
    if (Version::isOlder(current, latest))
        return UpdateStatus::available(latest);
    return UpdateStatus::upToDate();
}

nlohmann::ordered_json ReleaseInfo::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["latest"] = latest;
    json["minimum"] = minimum;
    if (notes)
        json["notes"] = *notes;
    if (terms)
        json["terms"] = *terms;
    return json;
}

ReleaseInfo ReleaseInfo::decode(const nlohmann::json& json)
{
    object(json, "release");
    ReleaseInfo info;
    info.latest = requireString(json, "latest");
    info.minimum = requireString(json, "minimum");
    if (const auto* notes = optional(json, "notes"))
        info.notes = string(*notes, "notes");
    if (const auto* terms = optional(json, "terms"))
        info.terms = integer(*terms, "terms");
    return info;
}

ReleaseInfo ReleaseInfo::decode(ByteView document)
{
    return decode(parse(document));
}

} // namespace ferlow
