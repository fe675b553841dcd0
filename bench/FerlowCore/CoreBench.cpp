// Costs on the input path and of the biggest message the computer sends.
#include <benchmark/benchmark.h>

#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/SealingChannel.h"
#include "FerlowInput/ActionStore.h"

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

void encodeReady(benchmark::State& state)
{
    const auto ready = MacMessage::ready(true, ActionStore::defaults(), "office", TrackpadPrefs {}, std::nullopt,
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
