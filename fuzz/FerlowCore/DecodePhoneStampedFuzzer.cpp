// Any bytes may arrive as a phone message once a frame opens: the decoder must
// answer with a value or its designed error, and nothing else. The compact
// move reader must agree with the general decoder wherever it answers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"
#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/UTF8.h"
#include "fuzz/FuzzSupport.h"

using ferlow::fuzz::require;

namespace {

// Equal as stored, so -0 and 0 differ: the two readers must give one value.
bool sameNumber(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void checkCompactMove(ferlow::ByteView data)
{
    using namespace ferlow;
    const auto compact = MessageCodec::decodeCompactMove(data);
    if (!compact)
        return;
    const auto json = JSONCoding::parse(data); // throws if the reader took what is not JSON
    const auto message = PhoneMessage::decode(json);
    const auto* general = message.as<PhoneMessage::Move>();
    const auto* move = compact->message.as<PhoneMessage::Move>();
    require(general && move && sameNumber(general->dx, move->dx) && sameNumber(general->dy, move->dy),
        "the compact reader reads the move the general decoder reads");
    const auto* ts = JSONCoding::optional(json, "ts");
    require(ts ? compact->ts && sameNumber(JSONCoding::number(*ts, "ts"), *compact->ts) : !compact->ts,
        "the compact reader reads the stamp the general decoder reads");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkCompactMove({data, size});
    try {
        const auto stamped = ferlow::MessageCodec::decodePhoneStamped({data, size});
        // What decodes must encode again (when finite) and decode to the same.
        const auto again = ferlow::MessageCodec::decodePhone(ferlow::MessageCodec::encodePhone(stamped.message));
        require(again == stamped.message, "a phone message survives a round trip");
        // Typed text reaches the desktop bounded and without control characters.
        if (const auto* text = stamped.message.as<ferlow::PhoneMessage::Text>()) {
            const auto characters = ferlow::UTF8::codePoints(text->text);
            require(characters.size() <= ferlow::PhoneMessage::maxTextLength, "typed text is bounded");
            require(std::none_of(characters.begin(), characters.end(), ferlow::UTF8::isControl),
                "typed text holds no control character");
            require(text->deletions >= 0 && text->deletions <= ferlow::PhoneMessage::maxDeletions, "deletions are bounded");
        }
    } catch (const ferlow::DecodingError&) {
    } catch (const ferlow::MessageCodecError&) {
    } catch (const ferlow::EncodingError&) {
    }
    return 0;
}
