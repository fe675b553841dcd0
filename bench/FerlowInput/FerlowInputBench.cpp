// Costs of the input path and the smoothness the pacer achieves.

#include <algorithm>
#include <cmath>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "FerlowInput/Pacer.h"
#include "FerlowInput/Translator.h"
#include "bench/Support/SimulatedNetwork.h"

namespace ferlow {
namespace {

const DisplayLayout twoDisplays {{{{0, 0}, {2560, 1440}}, {{2560, 0}, {1920, 1080}}}};

// The session's pacer settings.
Pacer sessionPacer() { return Pacer(0.006, 0.024, 0.004, 120); }

Translator makeTranslator(double& now)
{
    return Translator(std::make_shared<PointerState>(Point {1000, 700}), [] { return twoDisplays; },
        [] { return Point {1000, 700}; }, [&now] { return now; }, Translator::DockSwipes::emulated);
}

void translateMove(benchmark::State& state)
{
    double now = 0;
    auto translator = makeTranslator(now);
    const PhoneMessage messages[] = {PhoneMessage::move(3.4, -1.2), PhoneMessage::move(-3.4, 1.2)};
    std::size_t i = 0;
    for (auto _ : state) {
        now += 0.004;
        benchmark::DoNotOptimize(translator.translate(messages[i++ & 1]));
    }
}
BENCHMARK(translateMove);

void pacerPlayTimeSteadyState(benchmark::State& state)
{
    // Stamps 8.33 ms apart arriving with jitter; the window is already full.
    std::mt19937_64 random(42);
    std::normal_distribution<double> jitter(0, 8);
    std::vector<double> stamps, arrivals;
    double arrival = 0;
    for (int i = 0; i < 4096; ++i) {
        stamps.push_back(i * 1000.0 / 120);
        arrival = std::max(arrival, 0.010 + (stamps.back() + std::max(0.0, jitter(random))) / 1000);
        arrivals.push_back(arrival);
    }
    auto pacer = sessionPacer();
    for (int i = 0; i < 200; ++i)
        pacer.playTime(stamps[static_cast<std::size_t>(i)], arrivals[static_cast<std::size_t>(i)]);
    // Keep going from where the warm-up stopped; wrap by shifting both clocks.
    std::size_t i = 200;
    double shift = 0;
    for (auto _ : state) {
        if (i == stamps.size()) {
            i = 0;
            shift += arrivals.back() + 1;
        }
        benchmark::DoNotOptimize(pacer.playTime(stamps[i] + shift * 1000, arrivals[i] + shift));
        ++i;
    }
}
BENCHMARK(pacerPlayTimeSteadyState);

// A simulated stream (bench/Support/SimulatedNetwork.h). Each arrival gets
// its play time from the pacer and is translated then. With `split`, it is
// played as two half moves 1/120 s apart, the second reserved in the pacer,
// when the phone's samples leave room for that (at least 1/120 s plus the
// catch-up gap apart), else whole. How a session really plays them, and
// with how many wake-ups, is FerlowHostBench's simulatedSession.
using bench::Stream;
using bench::makeStream;
using bench::streamLength;
using bench::spacingDeviationMs;
using bench::percentile;

// Play times of the samples (of the first half when split).
std::vector<double> play(const Stream& s, bool split, Translator& translator, double& now)
{
    constexpr double halfSpacing = 1.0 / 120;
    auto pacer = sessionPacer();
    std::vector<double> plays;
    plays.reserve(s.stamps.size());
    const PhoneMessage whole = PhoneMessage::move(3, -1);
    const PhoneMessage half = PhoneMessage::move(1.5, -0.5);
    for (std::size_t i = 0; i < s.stamps.size(); ++i) {
        const double at = pacer.playTime(s.stamps[i], s.arrivals[i]);
        plays.push_back(at);
        now = at;
        const bool room = i == 0 || s.stamps[i] - s.stamps[i - 1] >= (halfSpacing + 0.004) * 1000;
        if (!split || !room) {
            benchmark::DoNotOptimize(translator.translate(whole));
            continue;
        }
        pacer.reserve(at + halfSpacing);
        benchmark::DoNotOptimize(translator.translate(half));
        now = at + halfSpacing;
        benchmark::DoNotOptimize(translator.translate(half));
    }
    return plays;
}

// Arguments: the phone's rate in Hz, and whether moves are split.
void simulatedStream(benchmark::State& state)
{
    const double rate = static_cast<double>(state.range(0));
    const bool split = state.range(1) != 0;
    const Stream stream = makeStream(rate);
    double now = 0;
    auto translator = makeTranslator(now);
    std::vector<double> plays;
    for (auto _ : state)
        plays = play(stream, split, translator, now);

    std::vector<double> phone, latency;
    for (std::size_t i = 0; i < streamLength; ++i) {
        phone.push_back(stream.stamps[i] / 1000);
        latency.push_back((plays[i] - stream.arrivals[i]) * 1000);
    }
    state.counters["per_message"] = benchmark::Counter(
        static_cast<double>(streamLength * state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["phone_spacing_sd_ms"] = spacingDeviationMs(phone);
    state.counters["arrival_spacing_sd_ms"] = spacingDeviationMs(stream.arrivals);
    state.counters["played_spacing_sd_ms"] = spacingDeviationMs(plays);
    state.counters["latency_median_ms"] = percentile(latency, 0.5);
    state.counters["latency_p99_ms"] = percentile(latency, 0.99);
}
BENCHMARK(simulatedStream)->ArgNames({"hz", "split"})->Args({120, 0})->Args({120, 1})->Args({60, 1})->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ferlow
