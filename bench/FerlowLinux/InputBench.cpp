// Costs of the Linux end of the input path: the chord mapper per event, one
// pointer move through XTest to a private Xvfb, one through the portal
// poster to a fake RemoteDesktop portal on a private bus, and typing through
// XTest.

#include <functional>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "FerlowCore/UTF8.h"
#include "FerlowLinux/ChordMapper.h"
#include "FerlowLinux/PortalPoster.h"
#include "FerlowLinux/XTestPoster.h"
#include "tests/Support/FakePortal.h"
#include "tests/Support/XTestWindow.h"
#include "tests/Support/Xvfb.h"

namespace ferlow {
namespace {

class CountingSink final : public LinuxEventSink {
public:
    void post(std::span<const LinuxEvent> events) override { count += events.size(); }
    std::size_t count = 0;
};

// Runs `specs` through a GNOME mapper over and over; the figure is per event.
void mapSpecs(benchmark::State& state, const std::vector<std::vector<EventSpec>>& posts)
{
    auto sink = std::make_shared<CountingSink>();
    ChordMapper mapper(KeyProfile(KeyProfile::Desktop::gnome), sink);
    std::size_t specs = 0;
    for (auto _ : state) {
        for (const auto& post : posts) {
            mapper.post(post);
            specs += post.size();
        }
    }
    benchmark::DoNotOptimize(sink->count);
    state.SetItemsProcessed(static_cast<std::int64_t>(specs));
}

void mapperMove(benchmark::State& state)
{
    mapSpecs(state, {{EventSpec::mouse(5, {400.5, 300.25}, 0, 0, {3, -1})}});
}
BENCHMARK(mapperMove);

void mapperScroll(benchmark::State& state) { mapSpecs(state, {{EventSpec::scroll(0, 7, 2, 0)}}); }
BENCHMARK(mapperScroll);

// Command-C as a button sends it: Command down, C down, then C up, Command up.
void mapperKeyChord(benchmark::State& state)
{
    mapSpecs(state, {{EventSpec::key(55, 0x100000, true), EventSpec::key(8, 0x100000, true)},
                        {EventSpec::key(8, 0x100000, false), EventSpec::key(55, 0, false)}});
}
BENCHMARK(mapperKeyChord);

// One motion request written to the server, flushed, and any events read
// back, as every post does; the server's handling runs in its own process.
void xtestMoveWithFlush(benchmark::State& state)
{
    test::Xvfb server;
    if (!server.available()) {
        state.SkipWithError(server.reason().c_str());
        return;
    }
    auto poster = XTestPoster::open(server.display(), {});
    if (!poster) {
        state.SkipWithError("no XTEST");
        return;
    }
    const std::vector<LinuxEvent> moves[] = {{LinuxEvent::motion(400, 300, 1, 0)}, {LinuxEvent::motion(401, 300, 1, 0)}};
    std::size_t i = 0;
    for (auto _ : state)
        poster->post(moves[i++ & 1]);
}
BENCHMARK(xtestMoveWithFlush);

// A started portal session on a private bus, or the reason there is none.
struct PortalSession {
    PortalSession()
    {
        if (!bus.available()) {
            problem = bus.reason();
            return;
        }
        portal = std::make_unique<test::FakePortal>(bus.address());
        PortalPoster::Options options;
        options.busAddress = bus.address();
        poster = PortalPoster::open(options, &problem);
        if (!poster)
            return;
        poster->start();
        if (!test::eventually([&] { return poster->connected(); }))
            problem = "the fake portal's session did not start";
    }
    // Each move reaches the portal before the bus and the portal go.
    ~PortalSession()
    {
        if (poster)
            portal->waitFor("", sessionCalls + moves);
    }

    static constexpr std::size_t sessionCalls = 3; // CreateSession, SelectDevices, Start
    test::PrivateBus bus;
    std::unique_ptr<test::FakePortal> portal;
    std::unique_ptr<PortalPoster> poster;
    std::string problem;
    std::size_t moves = 0;
};

// One move at a time through the portal poster. "queued": what the posting
// thread (the I/O thread) pays, as the message is built and queued and
// GDBus's own thread writes it. "delivered": in batches of 100, each waited
// for until the portal has it; wall time and the whole process's CPU per
// move, which includes GDBus's writer thread and also the fake portal's
// reading and recording, which a real portal pays in its own process.
void portalMove(benchmark::State& state, bool delivered)
{
    PortalSession session;
    if (!session.problem.empty()) {
        state.SkipWithError(session.problem.c_str());
        return;
    }
    const std::vector<LinuxEvent> move {LinuxEvent::motion(0, 0, 1, 0)};
    const int batch = delivered ? 100 : 1;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i)
            session.poster->post(move);
        session.moves += static_cast<std::size_t>(batch);
        if (delivered && !session.portal->waitFor("", PortalSession::sessionCalls + session.moves)) {
            state.SkipWithError("the portal did not receive the moves in time");
            return;
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(session.moves));
}
BENCHMARK_CAPTURE(portalMove, queued, false);
BENCHMARK_CAPTURE(portalMove, delivered, true)->MeasureProcessCPUTime()->UseRealTime();

// 1,000 characters as the pad sends them (messages of 256), typed through
// XTest; four of them (Ä, Ö, Ü, ✓) are not on the server's US keyboard and
// go on spare keys. The figure is the poster's own CPU time a character;
// the window reading them back is not timed.
void xtestTypeText(benchmark::State& state)
{
    test::Xvfb server;
    if (!server.available()) {
        state.SkipWithError(server.reason().c_str());
        return;
    }
    test::XTestWindow window(server.display(), 1920, 1080);
    auto poster = XTestPoster::open(server.display(), {});
    std::vector<std::function<void()>> pauses;
    poster->setTyping([&](auto, std::function<void()> task) { pauses.push_back(std::move(task)); }, {});
    std::u32string text;
    while (text.size() < 1000)
        text += U"Typing from the phone: 12 words, ÄÖÜ & ✓. ";
    text.resize(1000);
    std::vector<std::vector<LinuxEvent>> messages;
    for (std::size_t at = 0; at < text.size(); at += 256)
        messages.push_back({LinuxEvent::text(UTF8::encode(text.substr(at, 256)))});

    for (auto _ : state) {
        for (const auto& message : messages)
            poster->post(message);
        state.PauseTiming();
        std::size_t typed = 0;
        window.read([&](const std::vector<test::XTestWindow::Event>& seen) {
            if (!seen.empty() && seen.back().kind == test::XTestWindow::Event::Kind::key)
                typed += UTF8::codePoints(seen.back().text).size();
            return typed >= text.size() && seen.back().kind == test::XTestWindow::Event::Kind::release;
        });
        for (const auto& pause : std::exchange(pauses, {}))
            pause();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(xtestTypeText)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ferlow
