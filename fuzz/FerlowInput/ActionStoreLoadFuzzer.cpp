// actions.json may hold anything after a crash, a disk fault or a hand edit.
// Loading it must write nothing (the folder stays byte for byte as it was),
// give the same list every time, and give buttons that survive their own
// JSON form.
#include <nlohmann/json.hpp>

#include "FerlowInput/ActionStore.h"
#include "fuzz/FuzzSupport.h"

using namespace ferlow;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto folder = fuzz::scratchFolder() / "store";
    fuzz::plantFile(folder, "actions.json", {data, size});
    const auto before = fuzz::snapshot(folder);

    ActionStore store(folder);
    const auto buttons = store.load();
    require(fuzz::snapshot(folder) == before, "loading writes nothing");
    require(store.load() == buttons, "loading again gives the same list");
    const auto json = nlohmann::json::parse(ActionButton::encodeList(buttons).dump());
    require(ActionButton::decodeList(json) == buttons, "the buttons survive their JSON form");
    return 0;
}
