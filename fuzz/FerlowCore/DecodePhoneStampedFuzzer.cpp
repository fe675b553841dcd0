// Any bytes may arrive as a phone message once a frame opens: the decoder must
// answer with a value or its designed error, and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/MessageCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
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
