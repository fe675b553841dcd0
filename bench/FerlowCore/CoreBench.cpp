// Costs on the input path and of the biggest message the computer sends.
#include <benchmark/benchmark.h>

#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/SealingChannel.h"

namespace ferlow {
namespace {

void decodeStampedMove(benchmark::State& state)
{
    const std::string frame = R"({"t":"m","x":3.25,"y":-1.5,"ts":183746.25})";
    for (auto _ : state)
        benchmark::DoNotOptimize(MessageCodec::decodePhoneStamped(asBytes(frame)));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(frame.size()));
}
BENCHMARK(decodeStampedMove);

// A list shaped like the 34 default buttons: short ids and titles, a page
// name each, key, media, gesture and switcher kinds.
std::vector<ActionButton> defaultSizedButtons()
{
    std::vector<ActionButton> buttons;
    const char* groups[] = {"Keys", "Edit", "Windows", "Media"};
    for (int i = 0; i < 34; ++i) {
        ActionKind kind = ActionKind::key(static_cast<std::uint16_t>(i), i % 3 ? 0x100000 : 0);
        if (i >= 26)
            kind = ActionKind::media(allMediaKeys[std::size_t(i - 26)]);
        else if (i == 19 || i == 22)
            kind = ActionKind::gesture(SystemGesture::missionControl);
        else if (i == 17)
            kind = ActionKind::appSwitcher();
        buttons.push_back({"button" + std::to_string(i), "Title " + std::to_string(i), kind, std::nullopt, i == 18,
            groups[std::min(i / 9, 3)]});
    }
    return buttons;
}

void encodeReady(benchmark::State& state)
{
    const auto ready = MacMessage::ready(true, defaultSizedButtons(), "office", TrackpadPrefs {}, std::nullopt,
        UpdateStatus::upToDate());
    std::size_t size = 0;
    for (auto _ : state) {
        const auto bytes = MessageCodec::encode(ready);
        size = bytes.size();
        benchmark::DoNotOptimize(bytes.data());
    }
    state.counters["bytes"] = double(size);
}
BENCHMARK(encodeReady);

void sealAndOpen40Bytes(benchmark::State& state)
{
    const Bytes secret(32, 9), phoneNonce(16, 1), macNonce(16, 2);
    SealingChannel phone(SessionCrypto::deriveKeys(secret, phoneNonce, macNonce, Role::phone));
    SealingChannel mac(SessionCrypto::deriveKeys(secret, phoneNonce, macNonce, Role::mac));
    const std::string message = R"({"t":"m","x":3.25,"y":-1.5,"ts":18374.2})";
    for (auto _ : state) {
        const Bytes sealed = phone.seal(asBytes(message));
        benchmark::DoNotOptimize(mac.open(sealed));
    }
}
BENCHMARK(sealAndOpen40Bytes);

void deriveKeys(benchmark::State& state)
{
    const Bytes secret(32, 9), phoneNonce(16, 1), macNonce(16, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(SessionCrypto::deriveKeys(secret, phoneNonce, macNonce, Role::mac));
}
BENCHMARK(deriveKeys);

} // namespace
} // namespace ferlow
