// Pairing ids and nonces arrive as text from the network.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "FerlowCore/Base64URL.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto bytes = ferlow::Base64URL::decode(text)) {
        // Canonical text round-trips; the decoded length follows the text's.
        if (bytes->size() != text.size() * 3 / 4)
            std::abort();
        if (text.find_first_of("+/") == std::string_view::npos && ferlow::Base64URL::decode(ferlow::Base64URL::encode(*bytes)) != bytes)
            std::abort();
    }
    return 0;
}
