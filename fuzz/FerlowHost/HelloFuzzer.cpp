// The plaintext hello is the first thing any client on the network may send.
// A hello is accepted only with a 16-byte nonce, and what is accepted reads
// back the same when the phone's own form of it is written out again.
#include <nlohmann/json.hpp>

#include "FerlowCore/Base64URL.h"
#include "FerlowHost/SessionController.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto hello = SessionController::parseHello(asText({data, size}));
    if (!hello)
        return 0;
    require(hello->nonce.size() == 16, "a nonce is 16 bytes");
    const nlohmann::json canonical {{"t", "hello"}, {"v", 1}, {"id", hello->id}, {"n", Base64URL::encode(hello->nonce)}};
    const auto again = SessionController::parseHello(canonical.dump());
    require(again && again->id == hello->id && again->nonce == hello->nonce, "a hello reads back as written");
    return 0;
}
