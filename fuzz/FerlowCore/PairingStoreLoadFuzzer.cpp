// pairings.json may hold anything after a crash, a disk fault or a hand edit.
// Loading it must write nothing (the folder stays byte for byte as it was),
// and whatever pairings it yields must survive their own JSON form.
#include <cmath>

#include <nlohmann/json.hpp>

#include "FerlowCore/PairingStore.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzz::scratchFolder() / "store";
    fuzz::plantFile(folder, "pairings.json", {data, size});
    const auto before = fuzz::snapshot(folder);

    // A clock that is no time at all: nothing expires, so nothing is pruned and saved.
    PairingStore store(folder, [] { return std::nan(""); });
    const auto pairings = store.all();
    require(fuzz::snapshot(folder) == before, "loading writes nothing");

    for (const auto& pairing : pairings)
        require(Pairing::decode(nlohmann::json::parse(pairing.encode().dump())) == pairing, "a pairing survives its JSON form");
    return 0;
}
