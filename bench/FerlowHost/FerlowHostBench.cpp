// The whole input path of one stamped move on an active session: sealed
// frame bytes in, event posted (open, decode, pace, split, drain, translate);
// and how a session plays a simulated stream, with its wake-ups.
#include <functional>
#include <limits>
#include <optional>

#include <benchmark/benchmark.h>

#include "FerlowHost/SessionController.h"
#include "bench/Support/SimulatedNetwork.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

class NullSocket final : public MessageSocket {
public:
    void sendText(std::string_view text) override { lastText.assign(text); }
    void sendBinary(ByteView) override { }
    void close() override { }
    std::string lastText;
};

class CountingPoster final : public EventPoster {
public:
    void post(const std::vector<EventSpec>& specs) override { count += specs.size(); }
    std::size_t count = 0;
};

// The mouse moves posted: when (on the manual clock), and where to.
class TimingPoster final : public EventPoster {
public:
    explicit TimingPoster(const double& now) : m_now(now) { }
    void post(const std::vector<EventSpec>& specs) override
    {
        for (const auto& spec : specs)
            if (const auto* mouse = spec.as<EventSpec::Mouse>())
                moves.push_back({m_now, mouse->at.x});
    }
    struct Move {
        double at, x;
    };
    std::vector<Move> moves;

private:
    const double& m_now;
};

// A controller on a manual clock with an active phone, sealing ahead of time
// so that only the computer's work is measured.
struct ActiveSession {
    using MakePoster = std::function<std::shared_ptr<EventPoster>(const double& now)>;

    explicit ActiveSession(const MakePoster& makePoster) : poster(makePoster(now))
    {
        const Pairing pairing = store->createPending();
        SessionController::Suppliers suppliers;
        suppliers.accessibility = [] { return true; };
        suppliers.actions = [] { return std::vector<ActionButton> {}; };
        suppliers.macName = [] { return std::string("desk"); };
        suppliers.prefs = [] { return TrackpadPrefs {}; };
        suppliers.context = [] { return std::optional<AppContext> {}; };
        suppliers.update = [] { return UpdateStatus::upToDate(); };
        suppliers.now = [this] { return now; };
        controller = std::make_shared<SessionController>(store, translator, poster, suppliers);
        handlers = controller->accept(socket);
        phone = std::make_unique<test::TestPhone>(pairing);
        handlers.onText(phone->hello());
        phone->acceptHello(socket->lastText);
        handlers.onBinary(phone->seal(PhoneMessage::hi("bench", false)));
    }

    double now = 1000;
    test::TemporaryDirectory folder;
    std::shared_ptr<PairingStore> store = std::make_shared<PairingStore>(folder.path());
    static constexpr Point start {500, 500};
    std::shared_ptr<PointerState> pointer = std::make_shared<PointerState>(start);
    // Wide enough that no move of the simulated streams is clamped.
    std::shared_ptr<Translator> translator = std::make_shared<Translator>(pointer,
        [] { return DisplayLayout {{Rect {{-1e9, -1e9}, {2e9, 2e9}}}}; }, [this] { return pointer->position; },
        [this] { return now; }, Translator::DockSwipes::emulated);
    std::shared_ptr<EventPoster> poster;
    std::shared_ptr<NullSocket> socket = std::make_shared<NullSocket>();
    std::shared_ptr<SessionController> controller;
    SessionController::Handlers handlers;
    std::unique_ptr<test::TestPhone> phone;
};

void stampedMoveThroughTheSession(benchmark::State& state)
{
    std::shared_ptr<CountingPoster> poster;
    ActiveSession session([&](const double&) { return poster = std::make_shared<CountingPoster>(); });
    // The phone samples at 60 Hz; each arrival plays what fell due since the last.
    const std::size_t count = static_cast<std::size_t>(state.max_iterations);
    std::vector<Bytes> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        frames.push_back(session.phone->seal(PhoneMessage::move(i % 2 ? 3 : -3, 1), 5000 + 16.667 * double(i)));

    std::size_t i = 0;
    for (auto _ : state) {
        session.now += 0.016667;
        session.handlers.onBinary(frames[i++]);
    }
    state.counters["events_per_message"] = double(poster->count) / double(state.iterations());
}
BENCHMARK(stampedMoveThroughTheSession)->Iterations(200000);

// A simulated stream (bench/Support/SimulatedNetwork.h) of moves 3 points to
// the right, played by a session as the I/O queue drives it: each arrival
// wakes it, and so does the wake it asks for, which replaces the armed one
// unless that serves it within the drain's tolerance. Arguments: the phone's
// rate in Hz and the network's jitter in ms. Figures: wake-ups and events a
// sample; the spacing of the samples' first events (what the pacer's
// simulatedStream measures) and of all events; the latency from a sample's
// arrival to its first event.
void simulatedSession(benchmark::State& state)
{
    const auto stream = bench::makeStream(static_cast<double>(state.range(0)), static_cast<double>(state.range(1)));
    const std::size_t samples = stream.arrivals.size();
    std::shared_ptr<TimingPoster> poster;
    std::size_t wakeUps = 0;
    double origin = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ActiveSession session([&](const double& now) { return poster = std::make_shared<TimingPoster>(now); });
        std::optional<double> wake;
        session.controller->requestWake = [&wake](double at) {
            if (!wake || at < *wake || at > *wake + SessionController::drainTolerance)
                wake = at;
        };
        std::vector<Bytes> frames;
        for (std::size_t i = 0; i < samples; ++i)
            frames.push_back(session.phone->seal(PhoneMessage::move(3, 0), stream.stamps[i]));
        origin = session.now;
        wakeUps = 0;
        state.ResumeTiming();

        const auto wakeUntil = [&](double until) {
            while (wake && *wake < until) {
                session.now = std::max(session.now, *wake);
                wake.reset();
                ++wakeUps;
                session.controller->drain();
            }
        };
        for (std::size_t i = 0; i < samples; ++i) {
            wakeUntil(origin + stream.arrivals[i]);
            session.now = std::max(session.now, origin + stream.arrivals[i]);
            ++wakeUps;
            session.handlers.onBinary(frames[i]);
        }
        wakeUntil(std::numeric_limits<double>::infinity());
    }

    // Sample k's first event is the one that takes the pointer past 3k.
    std::vector<double> starts, events, latency;
    for (const auto& move : poster->moves) {
        events.push_back(move.at);
        const double travelled = move.x - ActiveSession::start.x;
        while (starts.size() < samples && travelled > 3.0 * static_cast<double>(starts.size()))
            starts.push_back(move.at);
    }
    for (std::size_t i = 0; i < starts.size(); ++i)
        latency.push_back((starts[i] - origin - stream.arrivals[i]) * 1000);
    state.counters["wake_ups_per_sample"] = double(wakeUps) / double(samples);
    state.counters["events_per_sample"] = double(events.size()) / double(samples);
    state.counters["played_spacing_sd_ms"] = bench::spacingDeviationMs(starts);
    state.counters["event_spacing_sd_ms"] = bench::spacingDeviationMs(events);
    state.counters["latency_median_ms"] = bench::percentile(latency, 0.5);
    state.counters["latency_p99_ms"] = bench::percentile(latency, 0.99);
}
BENCHMARK(simulatedSession)->ArgNames({"hz", "jitter_ms"})->Args({120, 8})->Args({60, 8})->Args({120, 1})->Args({60, 1})
    ->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ferlow
