#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "FerlowCore/Bytes.h"
#include "FerlowCore/MacMessage.h"
#include "FerlowCore/PhoneMessage.h"

namespace ferlow {

// A message whose "t" names no known type; carries the tag verbatim.
class MessageCodecError : public std::runtime_error {
public:
    enum class Kind { unknownType };

    static MessageCodecError unknownType(std::string tag) { return MessageCodecError(std::move(tag)); }

    Kind kind() const noexcept { return Kind::unknownType; }
    const std::string& tag() const noexcept { return m_tag; }

private:
    explicit MessageCodecError(std::string tag)
        : std::runtime_error("unknownType: \"" + tag + "\""), m_tag(std::move(tag)) { }
    std::string m_tag;
};

// Phone and Mac messages to bytes (compact UTF-8 JSON, one object) and back.
// Decoders throw DecodingError for malformed JSON, a non-object, a missing
// "t", missing or ill-typed fields and out-of-range enumerations, and
// MessageCodecError for an unknown tag. Encoders throw EncodingError for
// non-finite numbers. Stateless; safe on any thread.
struct MessageCodec {
    struct Stamped {
        PhoneMessage message;
        std::optional<double> ts; // the phone's clock in ms when the message was made
    };

    static Bytes encode(const MacMessage& message);
    static MacMessage decodeMac(ByteView data);
    static Bytes encodePhone(const PhoneMessage& message);
    static PhoneMessage decodePhone(ByteView data);
    // The message and its "ts" stamp. A ping comes back without a stamp (its
    // "ts" is its payload); a present "ts" that is not a number fails the
    // whole call.
    static Stamped decodePhoneStamped(ByteView data);
    // A move in the compact shape the pad sends many times a second,
    // {"t":"m","x":1.5,"y":-2,"ts":1234.5} (keys in any order, "ts" optional,
    // no spaces), read without building a JSON tree. Nothing for any other
    // text, which then needs the general decoder; where it answers, it gives
    // exactly what the general decoder gives.
    static std::optional<Stamped> decodeCompactMove(ByteView data);
};

} // namespace ferlow
