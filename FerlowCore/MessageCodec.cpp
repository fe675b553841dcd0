#include "FerlowCore/MessageCodec.h"

#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

namespace {
Bytes bytesOf(const OrderedJson& json)
{
    const std::string text = dump(json);
    return Bytes(text.begin(), text.end());
}
} // namespace

Bytes MessageCodec::encode(const MacMessage& message) { return bytesOf(message.encode()); }

MacMessage MessageCodec::decodeMac(ByteView data) { return MacMessage::decode(parse(data)); }

Bytes MessageCodec::encodePhone(const PhoneMessage& message) { return bytesOf(message.encode()); }

PhoneMessage MessageCodec::decodePhone(ByteView data) { return PhoneMessage::decode(parse(data)); }

MessageCodec::Stamped MessageCodec::decodePhoneStamped(ByteView data)
{
    // One parse serves both readings: the message, then its "ts" stamp.
    const Json json = parse(data);
    Stamped result {PhoneMessage::decode(json), std::nullopt};
    if (result.message.is<PhoneMessage::Ping>())
        return result;
    if (const auto* ts = optional(json, "ts"))
        result.ts = number(*ts, "ts");
    return result;
}

} // namespace ferlow
