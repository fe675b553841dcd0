// Any bytes may arrive as a phone message once a frame opens: the decoder must
// answer with a value or its designed error, and nothing else. The compact
// move reader must agree with the general decoder wherever it answers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"
#include "FerlowCore/MessageCodec.h"
#include "fuzz/FuzzSupport.h"

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
    fuzz::require(general && move && sameNumber(general->dx, move->dx) && sameNumber(general->dy, move->dy),
        "the compact reader reads the move the general decoder reads");
    const auto* ts = JSONCoding::optional(json, "ts");
    fuzz::require(ts ? compact->ts && sameNumber(JSONCoding::number(*ts, "ts"), *compact->ts) : !compact->ts,
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
        if (!(again == stamped.message))
            std::abort();
    } catch (const ferlow::DecodingError&) {
    } catch (const ferlow::MessageCodecError&) {
    } catch (const ferlow::EncodingError&) {
    }
    return 0;
}
