#include "FerlowHost/SessionController.h"

#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "FerlowHost/IOQueue.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/RecordingPoster.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<EventSpec>;
using Messages = std::vector<MacMessage>;

// What crossed the fake sockets, in order: 't'ext, 'b'inary or 'c'lose.
struct Frame { int socket; char kind; Bytes bytes; };

// Like the server's connection, closing ends it at once and reports that
// through its close handler, exactly once.
class FakeSocket final : public MessageSocket {
public:
    FakeSocket(std::vector<Frame>& wire, int number) : m_wire(wire), m_number(number) { }
    void sendText(std::string_view text) override { m_wire.push_back({m_number, 't', toBytes(text)}); }
    void sendBinary(ByteView bytes) override { m_wire.push_back({m_number, 'b', Bytes(bytes.begin(), bytes.end())}); }
    void close() override
    {
        if (!std::exchange(closed, true))
            m_wire.push_back({m_number, 'c', {}});
        if (auto handler = std::exchange(onClose, nullptr))
            handler();
    }
    bool closed = false;
    std::function<void()> onClose;

private:
    std::vector<Frame>& m_wire;
    int m_number;
};

struct Phone {
    int number;
    std::shared_ptr<FakeSocket> socket;
    SessionController::Handlers handlers;
    test::TestPhone protocol;
    void send(const PhoneMessage& message, std::optional<double> ts = {}) { handlers.onBinary(protocol.seal(message, ts)); }
};

std::vector<double> deltas(const Events& specs)
{
    std::vector<double> result;
    for (const auto& spec : specs)
        if (const auto* mouse = spec.as<EventSpec::Mouse>())
            result.push_back(mouse->delta.dx);
    return result;
}

// The controller on a fake clock, with a recording poster; phones on fake
// sockets.
class SessionControllerTest : public testing::Test {
protected:
    SessionControllerTest()
    {
        controller->onChange = [this] { ++changes; };
        controller->requestWake = [this](double at) { wakes.push_back(at); };
        translator->setActions([this] { return buttons; });
    }

    std::shared_ptr<SessionController> makeController(SessionController::Clock clock = {})
    {
        return std::make_shared<SessionController>(store, translator, poster,
            SessionController::Suppliers {.accessibility = [this] { return accessibility; }, .actions = [this] { return buttons; },
                .macName = [] { return std::string("office"); }, .prefs = [] { return TrackpadPrefs {}; },
                .context = [this] { return context; }, .update = [this] { return update; },
                .typing = [this] { return typing; }, .now = clock ? clock : [this] { return now; }});
    }

    Phone connect(const Pairing& pairing)
    {
        auto socket = std::make_shared<FakeSocket>(wire, ++sockets);
        Phone phone {sockets, socket, controller->accept(socket), test::TestPhone(pairing)};
        socket->onClose = phone.handlers.onClose;
        return phone;
    }

    // A newly paired phone through both hellos and, given a name, "hi" and "ready".
    Phone paired(std::optional<std::string> name = "Pixel")
    {
        auto phone = connect(store->createPending());
        phone.handlers.onText(phone.protocol.hello());
        phone.protocol.acceptHello(std::string(asText(wire.back().bytes)));
        if (name) {
            phone.send(PhoneMessage::hi(*name, false));
            EXPECT_TRUE(heard(phone).at(0).is<MacMessage::Ready>());
        }
        return phone;
    }

    // The kinds of frame sent to this phone, in order.
    std::string kinds(const Phone& phone) const
    {
        std::string result;
        for (const auto& frame : wire)
            if (frame.socket == phone.number)
                result += frame.kind;
        return result;
    }

    // Every sealed message sent to this phone since the last call, opened.
    Messages heard(Phone& phone)
    {
        Messages messages;
        for (auto& i = m_opened[phone.number]; i < wire.size(); ++i)
            if (wire[i].socket == phone.number && wire[i].kind == 'b')
                messages.push_back(phone.protocol.open(wire[i].bytes));
        return messages;
    }

    test::TemporaryDirectory folder;
    double now = 1000;
    bool accessibility = true;
    UpdateStatus update = UpdateStatus::upToDate();
    bool typing = false;
    std::optional<AppContext> context;
    std::vector<ActionButton> buttons {{"copy", "Copy", ActionKind::key(8, 0x100000), std::nullopt, false, "Edit"},
        {"sw", "Switch", ActionKind::appSwitcher(), std::nullopt, false, std::nullopt}};
    std::vector<Frame> wire;
    int sockets = 0, changes = 0;
    std::vector<double> wakes;
    std::shared_ptr<PairingStore> store = std::make_shared<PairingStore>(folder.path() / "data");
    std::shared_ptr<PointerState> pointer = std::make_shared<PointerState>(Point {100, 100});
    std::shared_ptr<Translator> translator = std::make_shared<Translator>(pointer,
        [] { return DisplayLayout {{Rect {{0, 0}, {1920, 1080}}}}; }, [this] { return pointer->position; },
        [this] { return now; }, Translator::DockSwipes::emulated);
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::shared_ptr<SessionController> controller = makeController();

private:
    std::map<int, std::size_t> m_opened;
};

// One "ready" is the first sealed message and only the first hi names the
// phone; a frame out of turn, or one that does not open, ends the session.
// Anything but a proper hello ends the connection without a word; a proper
// one for a pairing nobody knows hears "unknown" first.
TEST_F(SessionControllerTest, OnlyAProperHelloAndAHandshakeInTurnEndInOneReady)
{
    context = AppContext {"Safari", {}};
    auto phone = paired(std::nullopt);
    phone.send(PhoneMessage::hi("Ana’s Pixel", true));
    EXPECT_EQ(heard(phone), Messages {MacMessage::ready(true, buttons, "office", TrackpadPrefs {}, context, update)});
    EXPECT_EQ(controller->activeDeviceName(), "Ana’s Pixel");
    phone.send(PhoneMessage::hi("again", false));
    EXPECT_EQ(heard(phone), Messages {});

    auto early = connect(Pairing::make(0)); // sealed before the hello
    early.handlers.onBinary(Bytes(40, 0));
    auto twice = paired(std::nullopt);
    twice.handlers.onText(twice.protocol.hello());
    auto notHi = paired(std::nullopt);
    notHi.send(PhoneMessage::ping(1));
    phone.handlers.onText(phone.protocol.hello()); // text once active
    EXPECT_EQ(kinds(early) + kinds(twice) + kinds(notHi) + kinds(phone), "ctctctbc");
    EXPECT_EQ(controller->activeDeviceName(), std::nullopt);
    EXPECT_EQ(changes, 2);

    auto unknown = paired();
    unknown.handlers.onBinary(unknown.protocol.channel().seal(asBytes(R"({"t":"warp"})")));
    auto tampered = paired();
    Bytes frame = tampered.protocol.seal(PhoneMessage::move(3, 0));
    frame.back() ^= 1; // the last byte of the tag
    tampered.handlers.onBinary(frame);
    EXPECT_TRUE(unknown.socket->closed && tampered.socket->closed);
    EXPECT_EQ(poster->take(), Events {});

    const std::string n = Base64URL::encode(Bytes(16, 1));
    const nlohmann::json good {{"t", "hello"}, {"v", 1}, {"id", store->createPending().id}, {"n", n}};
    std::vector<std::string> bad {R"(["hello"])", "not json", ""};
    for (const auto& [key, value] : std::vector<std::pair<std::string, nlohmann::json>> {{"v", 2}, {"v", "1"}, {"id", 5},
             {"t", "Hello"}, {"t", nullptr}, {"n", Base64URL::encode(Bytes(15, 1))}, {"n", Base64URL::encode(Bytes(17, 1))}, {"n", n + "="}}) {
        auto hello = good;
        hello[key] = value;
        bad.push_back(hello.dump());
    }
    for (const auto& text : bad) {
        auto peer = connect(Pairing::make(0));
        peer.handlers.onText(text);
        EXPECT_EQ(kinds(peer), "c") << text;
    }
    auto stranger = connect(Pairing::make(0));
    stranger.handlers.onText(stranger.protocol.hello());
    EXPECT_EQ(kinds(stranger), "tc");
    EXPECT_EQ(asText(wire[wire.size() - 2].bytes), SessionController::unknownPairingReply);
    EXPECT_EQ(controller->sessionCount(), 0u);
}

// A phone sampling at 120 Hz has no room for halves 1/120 s apart plus the
// pacer's catch-up gap: its moves play whole and keep pace with the phone,
// while a 60 Hz phone's moves are split.
TEST_F(SessionControllerTest, MovesSplitOnlyWhenThePhoneLeavesRoomAndNeverFallBehind)
{
    for (const double hz : {120.0, 60.0}) {
        SCOPED_TRACE(hz);
        auto phone = paired();
        pointer->position = {100, 100};
        const double start = now;
        double worst = 0;
        std::size_t events = 0;
        for (int i = 0; i < 600; ++i) {
            now = start + i / hz + (i % 7) * 0.001; // a little network jitter
            phone.send(PhoneMessage::move(1, 0), 1000.0 * i / hz);
            // Play everything due before the next sample arrives.
            for (; now < start + (i + 1) / hz; now += 0.0005)
                controller->drain();
            events += deltas(poster->take()).size();
            worst = std::max(worst, wakes.empty() ? 0 : wakes.back() - now);
        }
        EXPECT_LT(worst, 0.05); // nothing queued far into the future
        EXPECT_GE(events, hz == 60 ? 1150u : 590u);
        EXPECT_LE(events, hz == 60 ? 1199u : 600u); // a gesture's first sample plays whole
        phone.socket->close();
        EXPECT_EQ(pointer->position, (Point {700, 100})); // halves are halves
        wakes.clear();
    }
}

// A 60 Hz gesture: its first move plays whole; a second half asks for no
// wake-up of its own while the phone's next move may still come to play it,
// and keeps its time once that came early. At 120 Hz, a move that arrives
// late, due within a quarter of the buffer, plays on its arrival.
TEST_F(SessionControllerTest, SecondHalvesRideOnTheNextArrivalAndNearlyDueMovesPlayAtOnce)
{
    auto phone = paired();
    const double start = now;
    const auto send = [&](double hz, int i, double later = 0) {
        now = start + i / hz + later;
        wakes.clear();
        phone.send(PhoneMessage::move(4, 0), 1000 + 1000 * i / hz);
        return deltas(poster->take());
    };
    const auto playAt = [&](double at) {
        now = start + at;
        wakes.clear();
        controller->drain();
        return deltas(poster->take());
    };
    const auto wake = [&] { return wakes.empty() ? -1 : wakes.back() - start; };
    const double frame = 1.0 / 60, buffer = Session::minBuffer, half = SessionController::splitOffset;

    EXPECT_EQ(send(60, 0), std::vector<double> {});
    EXPECT_NEAR(wake(), buffer, 1e-9);
    EXPECT_EQ(playAt(buffer), std::vector<double> {4});
    send(60, 1);
    EXPECT_EQ(playAt(frame + buffer), std::vector<double> {2});
    EXPECT_NEAR(wake(), frame + buffer + half + SessionController::rideAllowance, 1e-9);
    EXPECT_EQ(send(60, 2), std::vector<double> {2}); // 2.3 ms late, on the next move's arrival
    EXPECT_NEAR(wake(), 2 * frame + buffer, 1e-9);
    EXPECT_EQ(playAt(2 * frame + buffer), std::vector<double> {2});
    EXPECT_EQ(send(60, 3, -0.005), std::vector<double> {}); // before the second half is due
    EXPECT_NEAR(wake(), 2 * frame + buffer + half, 1e-9);

    phone = paired(); // a new session, a new pacer; the old one's queue plays
    poster->take();
    const double early = 5.0 / 120; // the 120 Hz moves below start then
    EXPECT_EQ(send(120, 5), std::vector<double> {});
    EXPECT_EQ(playAt(early + buffer), std::vector<double> {4});
    EXPECT_EQ(send(120, 6, 0.005), std::vector<double> {4}); // due in 1 ms
    EXPECT_TRUE(wakes.empty());
}

TEST_F(SessionControllerTest, OnlyMovesAndOngoingScrollsSplitOrMerge)
{
    const auto scroll = [](double dy, std::optional<Phase> phase, MomentumPhase momentum = MomentumPhase::none) {
        return PhoneMessage::scroll(2, dy, phase, momentum);
    };
    const std::pair<PhoneMessage, bool> cases[] = {{PhoneMessage::move(3, -1), true}, {scroll(4, Phase::changed), true},
        {scroll(4, std::nullopt, MomentumPhase::continue_), true}, {scroll(4, Phase::began), false},
        {scroll(4, std::nullopt, MomentumPhase::begin), false}, {scroll(4, std::nullopt), false}, {PhoneMessage::button(0, true, 1), false}};
    for (const auto& [message, splits] : cases) {
        const auto halves = SessionController::split(message);
        EXPECT_EQ(halves.has_value(), splits) << message.description();
        EXPECT_EQ(SessionController::merge(message, message).has_value(), splits) << message.description();
        EXPECT_TRUE(!halves || halves->first == halves->second);
    }
}

// Not held back for a later release either: ending the session posts nothing.
TEST_F(SessionControllerTest, WithoutPermissionOrWhileAnUpdateIsRequiredInputIsRefusedButPingsAnswered)
{
    for (const bool permitted : {false, true}) {
        auto phone = paired();
        accessibility = permitted;
        update = permitted ? UpdateStatus::required("9.0") : UpdateStatus::upToDate();
        phone.send(PhoneMessage::button(1, true, 1), 10);
        phone.send(PhoneMessage::ping(2.5));
        EXPECT_EQ(heard(phone), Messages {MacMessage::pong(2.5)});
        accessibility = true;
        phone.socket->close();
        EXPECT_EQ(poster->take(), Events {});
        EXPECT_TRUE(wakes.empty());
    }
}

// Typing is announced only where the desktop can type; text is input like
// any other, played in order (a click after it lands after it); and the
// phone hears once of characters the desktop could not type.
TEST_F(SessionControllerTest, TypingIsAnnouncedPacedInOrderAndUntypedCharactersToldOnce)
{
    typing = true;
    auto phone = paired(std::nullopt);
    phone.send(PhoneMessage::hi("Pixel", false));
    const auto ready = heard(phone).at(0);
    ASSERT_TRUE(ready.is<MacMessage::Ready>());
    EXPECT_TRUE(ready.as<MacMessage::Ready>()->typing);

    phone.send(PhoneMessage::text(1, "ok", TextKey::enter), 10);
    phone.send(PhoneMessage::button(0, true, 1), 11);
    now += 0.1;
    controller->drain();
    EXPECT_EQ(poster->take(), (Events {EventSpec::text(1, "ok", 36), EventSpec::mouse(1, {100, 100}, 0, 1, {})}));

    controller->reportUntyped("日本");
    controller->reportUntyped("✓");
    EXPECT_EQ(heard(phone), Messages {MacMessage::untyped("日本")});
}

// The active phone hears "replaced" before the new one hears "ready", and
// works on (and hears the news) while the new one is still in its handshake.
// Revoking a pairing closes even a session in its handshake, silently.
TEST_F(SessionControllerTest, ANewPhoneReplacesTheActiveOneAndARevokedPairingIsClosedAtOnce)
{
    auto a = paired("A");
    auto b = paired(std::nullopt);
    a.send(PhoneMessage::move(3, 0));
    EXPECT_EQ(deltas(poster->take()), std::vector<double> {3});
    controller->broadcastActions(); // reaches only the established phone
    EXPECT_EQ(heard(a), Messages {MacMessage::actions(buttons)});
    EXPECT_EQ(kinds(b), "t");
    b.send(PhoneMessage::hi("B", false));
    EXPECT_EQ(wire[wire.size() - 2].socket, a.number); // A's close before B's "ready"
    EXPECT_EQ(heard(a), Messages {MacMessage::replaced()});
    EXPECT_EQ(kinds(a), "tbbbc");
    EXPECT_TRUE(heard(b).at(0).is<MacMessage::Ready>());
    EXPECT_EQ(changes, 3); // A's start and end, then B's start
    EXPECT_EQ(controller->activeDeviceName(), "B");
    EXPECT_EQ(controller->sessionCount(), 1u);

    auto pending = paired(std::nullopt);
    controller->revoke(pending.protocol.id());
    EXPECT_EQ(kinds(pending), "tc");
    EXPECT_FALSE(store->lookup(pending.protocol.id()));
    controller->revoke("nobody"); // still tells the app
    EXPECT_EQ(changes, 5);
}

// After more than half a second of silence (the open switcher closes with
// it), when the switcher has sat unused for 1.5 s, and when the phone goes,
// once what was still queued has played.
TEST_F(SessionControllerTest, WhatThePhoneLeftHeldIsReleasedOnSilenceAndAtTheEnd)
{
    auto phone = paired();
    const auto tickAfter = [&](double seconds) {
        now += seconds;
        controller->tick();
        return poster->take();
    };
    phone.send(PhoneMessage::button(2, true, 1));
    phone.send(PhoneMessage::action("sw", true));
    phone.send(PhoneMessage::action("sw", false));
    poster->take();
    // Let go as soon as the silence is up, at the wake asked for then, not
    // at the next tick.
    ASSERT_FALSE(wakes.empty());
    EXPECT_NEAR(wakes.back() - now, Session::watchdogTimeout + SessionController::watchdogSlack, 1e-9);
    now = wakes.back();
    controller->drain();
    EXPECT_EQ(poster->take(), (Events {EventSpec::mouse(26, {100, 100}, 2, 1, {}), EventSpec::key(55, 0, false)}));
    phone.send(PhoneMessage::action("sw", true));
    poster->take();
    EXPECT_EQ(tickAfter(1.5), Events {});
    EXPECT_EQ(tickAfter(0.1), Events {EventSpec::key(55, 0, false)});

    phone.send(PhoneMessage::action("copy", true));
    phone.send(PhoneMessage::button(0, true, 1), 100);
    phone.send(PhoneMessage::move(6, 0), 120);
    EXPECT_EQ(poster->take().size(), 2u); // the unstamped press at once: command and C down
    phone.socket->close(); // mid-drag
    EXPECT_EQ(poster->take(), (Events {EventSpec::mouse(1, {100, 100}, 0, 1, {}), EventSpec::mouse(6, {103, 100}, 0, 0, {3, 0}),
                                  EventSpec::mouse(6, {106, 100}, 0, 0, {3, 0}), EventSpec::mouse(2, {106, 100}, 0, 1, {}),
                                  EventSpec::key(8, 0x100000, false), EventSpec::key(55, 0, false)}));
}

// Presses cannot merge: beyond the queue's bound the oldest play at once.
TEST_F(SessionControllerTest, AFloodOfPressesCannotGrowTheQueueAndLosesNothing)
{
    auto phone = paired();
    for (int i = 0; i < 1000; ++i)
        phone.send(PhoneMessage::button(0, i % 2 == 0, 1), 20.0 * i);
    const auto early = poster->take().size();
    EXPECT_GE(early, 1000 - SessionController::maxPending);
    phone.socket->close();
    EXPECT_EQ(early + poster->take().size(), 1000u);
}

// A 120 Hz phone after a stall sends its whole backlog at once. It plays on
// at the catch-up pace without a pause, ends exactly where the moves add up
// to, within 300 ms, in order around a drag, and the next move after it is
// paced normally again.
TEST_F(SessionControllerTest, ABurstAfterAStallCatchesUpWithinAQuarterSecond)
{
    for (const int count : {100, 600, 3000}) {
        SCOPED_TRACE(count);
        auto phone = paired();
        pointer->position = {100, 100};
        double stamp = 0;
        const auto send = [&](const PhoneMessage& message) { phone.send(message, stamp += 1000.0 / 120); };
        for (int i = 0; i < 20; ++i, now += 1.0 / 120)
            send(PhoneMessage::move(0.5, 0.25));
        now += 1;
        controller->drain();
        poster->take();

        now += count / 120.0; // the stall
        const double arrival = now;
        // Moves, a drag, then a scroll gesture, all in one go.
        const int drag = count / 2, scrolls = count * 3 / 4;
        for (int i = 0; i < count; ++i) {
            if (i == drag || i == scrolls)
                send(PhoneMessage::button(0, i == drag, 1));
            else if (i < scrolls)
                send(PhoneMessage::move(0.5, 0.25));
            else
                send(PhoneMessage::scroll(0, 1, i == scrolls + 1 ? Phase::began : i + 1 == count ? Phase::ended : Phase::changed,
                    MomentumPhase::none));
        }

        double last = arrival, pause = 0, wheel = 0;
        std::vector<std::int32_t> types;
        for (;;) {
            for (const auto& spec : poster->take()) {
                pause = std::max(pause, now - std::exchange(last, now));
                if (const auto* mouse = spec.as<EventSpec::Mouse>(); mouse && (types.empty() || types.back() != mouse->type))
                    types.push_back(mouse->type);
                if (const auto* scroll = spec.as<EventSpec::Scroll>())
                    wheel += scroll->dy;
            }
            if (wakes.empty())
                break;
            now = std::max(now, wakes.back());
            wakes.clear();
            controller->drain();
        }
        EXPECT_EQ(types, (std::vector<std::int32_t> {5, 1, 6, 2}));
        EXPECT_EQ(pointer->position, (Point {100 + 0.5 * (scrolls + 19), 100 + 0.25 * (scrolls + 19)}));
        EXPECT_EQ(wheel, count - scrolls - 1);
        EXPECT_LE(pause, Session::catchUpSpacing + 1e-9);
        EXPECT_LE(last - arrival, 0.3);

        now += 0.1;
        stamp += 100;
        send(PhoneMessage::move(1, 0));
        now += Session::maxBuffer;
        controller->drain();
        EXPECT_EQ(deltas(poster->take()), std::vector<double> {1});
    }
}

// The queue's wake timer follows the controller's clock (the fake one), and
// each request replaces the one before, a later one too. Its tick runs only
// while a connection lives, also while wakes keep coming, and closes a
// handshake that outlived its limit.
TEST_F(SessionControllerTest, TheIOQueueWakesWhenLastAskedAndTicksOnlyWhileAConnectionLives)
{
    std::atomic<int> clockReads = 0;
    controller = makeController([&] { return ++clockReads, now; });
    const auto posted = [&](IOQueue& queue) { return queue.call([&] { return poster->take().size(); }); };
    IOQueue queue;
    queue.drive(controller, 1h); // no tick to drain in the wake's place
    std::optional<Phone> phone, idle;
    queue.call([&] {
        phone = paired();
        phone->send(PhoneMessage::move(10, 0), 5000); // due in 6 ms
        controller->requestWake(now + 60);
        now += 0.02;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(posted(queue), 0u);
    queue.call([&] { controller->requestWake(now); });
    EXPECT_TRUE(test::eventually([&] { return posted(queue) == 1; }));

    queue.drive(controller, 1ms);
    EXPECT_TRUE(test::eventually([&] { return clockReads > 10; }));
    queue.call([&] { phone->socket->close(); });
    std::this_thread::sleep_for(20ms);
    const int settled = clockReads;
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(clockReads, settled);
    queue.drive(controller, 40ms);
    queue.call([&] {
        idle = connect(Pairing::make(0));
        now += SessionController::handshakeLimit + 1;
    });
    // Wakes keep coming: the tick runs on them, but it runs.
    EXPECT_TRUE(test::eventually([&] {
        return queue.call([&] {
            controller->requestWake(now);
            return idle->socket->closed;
        });
    }));
}

// A backend that throws while a frame is handled ends that connection (the
// server's tests show how): what the phone held is let go, and the next
// phone is served.
TEST_F(SessionControllerTest, AFailingBackendEndsOnlyItsSessionAndLetsGo)
{
    auto phone = paired();
    poster->fails = [](const EventSpec& spec) { return spec == EventSpec::mouse(6, {105, 105}, 0, 0, {5, 5}); };
    phone.send(PhoneMessage::button(0, true, 1));
    EXPECT_ANY_THROW(phone.send(PhoneMessage::move(5, 5))); // a left drag, which the backend fails to post
    phone.socket->close();
    EXPECT_EQ(poster->take(), (Events {EventSpec::mouse(1, {100, 100}, 0, 1, {}), EventSpec::mouse(2, {105, 105}, 0, 1, {})}));
    poster->fails = nullptr;
    auto next = paired();
    next.send(PhoneMessage::move(3, 0));
    EXPECT_EQ(deltas(poster->take()), std::vector<double> {3});
}

} // namespace
} // namespace ferlow
