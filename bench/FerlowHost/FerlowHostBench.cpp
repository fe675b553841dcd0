// The whole input path of one stamped move on an active session: sealed
// frame bytes in, event posted (open, decode, pace, split, drain, translate).
#include <benchmark/benchmark.h>

#include "FerlowHost/SessionController.h"
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

void stampedMoveThroughTheSession(benchmark::State& state)
{
    double now = 1000; // a manual clock: the pacer schedules without waiting
    test::TemporaryDirectory folder;
    auto store = std::make_shared<PairingStore>(folder.path());
    const Pairing pairing = store->createPending();
    auto pointer = std::make_shared<PointerState>(Point {500, 500});
    auto translator = std::make_shared<Translator>(pointer,
        [] { return DisplayLayout {{Rect {{0, 0}, {2560, 1440}}, Rect {{2560, 0}, {1920, 1080}}}}; },
        [pointer] { return pointer->position; }, [&now] { return now; }, Translator::DockSwipes::emulated);
    auto poster = std::make_shared<CountingPoster>();
    SessionController::Suppliers suppliers;
    suppliers.accessibility = [] { return true; };
    suppliers.actions = [] { return std::vector<ActionButton> {}; };
    suppliers.macName = [] { return std::string("desk"); };
    suppliers.prefs = [] { return TrackpadPrefs {}; };
    suppliers.context = [] { return std::optional<AppContext> {}; };
    suppliers.update = [] { return UpdateStatus::upToDate(); };
    suppliers.now = [&now] { return now; };
    auto controller = std::make_shared<SessionController>(store, translator, poster, suppliers);

    auto socket = std::make_shared<NullSocket>();
    const auto handlers = controller->accept(socket);
    test::TestPhone phone(pairing);
    handlers.onText(phone.hello());
    phone.acceptHello(socket->lastText);
    handlers.onBinary(phone.seal(PhoneMessage::hi("bench", false)));

    // Sealed ahead of time, so only the computer's work is measured. The
    // phone samples at 60 Hz; each arrival plays what fell due since the last.
    const std::size_t count = static_cast<std::size_t>(state.max_iterations);
    std::vector<Bytes> frames;
    frames.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        frames.push_back(phone.seal(PhoneMessage::move(i % 2 ? 3 : -3, 1), 5000 + 16.667 * double(i)));

    std::size_t i = 0;
    for (auto _ : state) {
        now += 0.016667;
        handlers.onBinary(frames[i++]);
    }
    state.counters["events_per_message"] = double(poster->count) / double(state.iterations());
}
BENCHMARK(stampedMoveThroughTheSession)->Iterations(200000);

} // namespace
} // namespace ferlow
