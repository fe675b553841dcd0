// Any bytes may arrive as a phone message once a frame opens: the decoder must
// answer with a value or its designed error, and nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/UTF8.h"
#include "fuzz/FuzzSupport.h"

using ferlow::fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
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
