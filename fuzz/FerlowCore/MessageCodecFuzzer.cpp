// Any text may arrive as a phone message once a frame opens, and the phone
// reads the computer's messages with the same rules. Whatever decodes, as a
// phone message or a computer's message, must encode (no error) to bytes
// that decode to the same message and encode to the same bytes again.
#include "FerlowCore/CodingError.h"
#include "FerlowCore/MessageCodec.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView bytes(data, size);
    try {
        const auto message = MessageCodec::decodePhone(bytes);
        const auto encoded = MessageCodec::encodePhone(message);
        const auto again = MessageCodec::decodePhone(encoded);
        require(again == message, "a phone message survives a round trip");
        require(MessageCodec::encodePhone(again) == encoded, "a phone message encodes the same way twice");
    } catch (const DecodingError&) {
    } catch (const MessageCodecError&) {
    }
    try {
        const auto message = MessageCodec::decodeMac(bytes);
        const auto encoded = MessageCodec::encode(message);
        const auto again = MessageCodec::decodeMac(encoded);
        require(again == message, "a computer's message survives a round trip");
        require(MessageCodec::encode(again) == encoded, "a computer's message encodes the same way twice");
    } catch (const DecodingError&) {
    } catch (const MessageCodecError&) {
    }
    return 0;
}
