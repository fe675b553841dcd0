#include "FerlowHost/SessionController.h"
#include "FerlowHost/IOQueue.h"

#include <cmath>
#include <limits>
#include <map>

#include <gtest/gtest.h>

#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/RecordingPoster.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::TestPhone;

// What crossed any socket, in order, so tests can check ordering across phones.
struct Wire {
    struct Frame {
        int socket;
        enum class Kind { text, binary, close } kind;
        Bytes bytes;
    };
    std::vector<Frame> frames;
};

// An in-memory connection that behaves like the server's: closing it ends it
// at once and reports that through its close handler, exactly once.
class FakeSocket final : public MessageSocket {
public:
    FakeSocket(Wire& wire, int number) : m_wire(wire), m_number(number) { }

    void sendText(std::string_view text) override
    {
        if (!closed)
            m_wire.frames.push_back({m_number, Wire::Frame::Kind::text, toBytes(text)});
    }
    void sendBinary(ByteView bytes) override
    {
        if (!closed)
            m_wire.frames.push_back({m_number, Wire::Frame::Kind::binary, Bytes(bytes.begin(), bytes.end())});
    }
    void close() override
    {
        if (closed)
            return;
        closed = true;
        m_wire.frames.push_back({m_number, Wire::Frame::Kind::close, {}});
        if (auto handler = std::exchange(onClose, nullptr))
            handler();
    }

    bool closed = false;
    std::function<void()> onClose;

private:
    Wire& m_wire;
    int m_number;
};

struct Connection {
    std::shared_ptr<FakeSocket> socket;
    SessionController::Handlers handlers;
    std::unique_ptr<TestPhone> phone;
    int number;
};

struct SessionControllerTest : ::testing::Test {
    test::TemporaryDirectory temporary;
    double now = 1000;
    double wall = 1'700'000'000;
    bool accessibility = true;
    UpdateStatus update = UpdateStatus::upToDate();
    std::optional<AppContext> context;
    std::vector<ActionButton> buttons {{"copy", "Copy", ActionKind::key(8, 0x100000), std::nullopt, false, "Edit"}};
    Wire wire;
    int changes = 0;
    std::vector<double> wakes;
    std::shared_ptr<PairingStore> store = std::make_shared<PairingStore>(temporary.path(), [this] { return wall; });
    std::shared_ptr<PointerState> pointer = std::make_shared<PointerState>(Point {100, 100});
    std::shared_ptr<Translator> translator = std::make_shared<Translator>(pointer,
        [] { return DisplayLayout {{Rect {{0, 0}, {1920, 1080}}}}; }, [this] { return pointer->position; },
        [this] { return now; }, Translator::DockSwipes::emulated);
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::shared_ptr<SessionController> controller;
    int sockets = 0;

    void SetUp() override
    {
        SessionController::Suppliers suppliers;
        suppliers.accessibility = [this] { return accessibility; };
        suppliers.actions = [this] { return buttons; };
        suppliers.macName = [] { return std::string("office"); };
        suppliers.prefs = [] { return TrackpadPrefs {}; };
        suppliers.context = [this] { return context; };
        suppliers.update = [this] { return update; };
        suppliers.now = [this] { return now; };
        controller = std::make_shared<SessionController>(store, translator, poster, suppliers);
        controller->onChange = [this] { ++changes; };
        controller->requestWake = [this](double at) { wakes.push_back(at); };
        translator->setActions([this] { return buttons; });
    }

    Connection connect(const std::optional<Pairing>& pairing = std::nullopt)
    {
        Connection c;
        c.number = ++sockets;
        c.socket = std::make_shared<FakeSocket>(wire, c.number);
        c.handlers = controller->accept(c.socket);
        c.socket->onClose = c.handlers.onClose;
        if (pairing)
            c.phone = std::make_unique<TestPhone>(*pairing);
        return c;
    }

    std::vector<Wire::Frame> framesOf(const Connection& c) const
    {
        std::vector<Wire::Frame> result;
        for (const auto& frame : wire.frames)
            if (frame.socket == c.number)
                result.push_back(frame);
        return result;
    }

    static std::string textOf(const Wire::Frame& frame) { return std::string(frame.bytes.begin(), frame.bytes.end()); }

    // Pairs a phone and completes the handshake up to "ready".
    Connection activePhone(const std::string& device = "Pixel")
    {
        const Pairing pairing = store->createPending();
        Connection c = connect(pairing);
        c.handlers.onText(c.phone->hello());
        c.phone->acceptHello(textOf(framesOf(c).back()));
        c.handlers.onBinary(c.phone->seal(PhoneMessage::hi(device, false)));
        EXPECT_TRUE(lastMessageTo(c).is<MacMessage::Ready>());
        return c;
    }

    // Opens every sealed frame sent to this phone since the last call.
    std::vector<MacMessage> received(Connection& c)
    {
        std::vector<MacMessage> messages;
        const auto frames = framesOf(c);
        for (std::size_t i = m_opened[c.number]; i < frames.size(); ++i)
            if (frames[i].kind == Wire::Frame::Kind::binary)
                messages.push_back(c.phone->open(frames[i].bytes));
        m_opened[c.number] = frames.size();
        return messages;
    }

    MacMessage lastMessageTo(Connection& c)
    {
        const auto messages = received(c);
        if (messages.empty())
            throw std::runtime_error("nothing sent");
        return messages.back();
    }

    std::vector<EventSpec> takePosted() { return poster->take(); }

    std::map<int, std::size_t> m_opened;
};

std::vector<double> mouseDeltas(const std::vector<EventSpec>& specs)
{
    std::vector<double> deltas;
    for (const auto& spec : specs)
        if (const auto* mouse = spec.as<EventSpec::Mouse>())
            deltas.push_back(mouse->delta.dx);
    return deltas;
}

std::vector<std::int32_t> mouseTypes(const std::vector<EventSpec>& specs)
{
    std::vector<std::int32_t> types;
    for (const auto& spec : specs)
        if (const auto* mouse = spec.as<EventSpec::Mouse>())
            types.push_back(mouse->type);
    return types;
}

TEST_F(SessionControllerTest, HandshakeEndsInExactlyOneReadySealedWithCounterZero)
{
    const Pairing pairing = store->createPending();
    auto c = connect(pairing);
    c.handlers.onText(c.phone->hello());
    auto frames = framesOf(c);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].kind, Wire::Frame::Kind::text);
    const std::string hello = textOf(frames[0]);
    EXPECT_EQ(hello.substr(0, 24), R"({"t":"hello","v":1,"n":")");
    EXPECT_EQ(hello.size(), 24u + 22u + 2u);
    c.phone->acceptHello(hello);
    EXPECT_EQ(changes, 0);

    context = AppContext {"Safari", {}};
    c.handlers.onBinary(c.phone->seal(PhoneMessage::hi("Ana’s Pixel", true)));
    frames = framesOf(c);
    ASSERT_EQ(frames.size(), 2u);
    // The phone's channel opens it as the first message: counter 0.
    EXPECT_EQ(c.phone->open(frames[1].bytes),
        MacMessage::ready(true, buttons, "office", TrackpadPrefs {}, AppContext {"Safari", {}}, UpdateStatus::upToDate()));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(controller->activeDeviceName(), "Ana’s Pixel");
    EXPECT_EQ(store->lookup(pairing.id).value().name, "Ana’s Pixel");

    // A repeated hi changes nothing; a text frame now ends the session.
    c.handlers.onBinary(c.phone->seal(PhoneMessage::hi("again", false)));
    EXPECT_EQ(framesOf(c).size(), 2u);
    c.handlers.onText(c.phone->hello());
    EXPECT_TRUE(c.socket->closed);
    EXPECT_EQ(controller->activeDeviceName(), std::nullopt);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(controller->sessionCount(), 0u);
}

TEST_F(SessionControllerTest, BadHellosCloseWithoutAWordAndUnknownPairingsGetTheUnknownReply)
{
    const Pairing pairing = store->createPending();
    const std::string nonce16 = Base64URL::encode(Bytes(16, 1));
    const std::string bad[] = {
        R"({"t":"hello","v":2,"id":")" + pairing.id + R"(","n":")" + nonce16 + "\"}",
        R"({"t":"hello","v":"1","id":")" + pairing.id + R"(","n":")" + nonce16 + "\"}",
        R"({"t":"hello","v":1,"id":")" + pairing.id + R"(","n":")" + Base64URL::encode(Bytes(15, 1)) + "\"}",
        R"({"t":"hello","v":1,"id":")" + pairing.id + R"(","n":")" + Base64URL::encode(Bytes(17, 1)) + "\"}",
        R"({"t":"hello","v":1,"id":")" + pairing.id + R"(","n":")" + nonce16 + "=\"}",
        R"({"t":"hello","v":1,"id":5,"n":")" + nonce16 + "\"}",
        R"({"t":"Hello","v":1,"id":")" + pairing.id + R"(","n":")" + nonce16 + "\"}",
        R"({"v":1,"id":")" + pairing.id + R"(","n":")" + nonce16 + "\"}",
        R"(["hello"])",
        "not json",
        "",
    };
    for (const auto& text : bad) {
        auto c = connect();
        c.handlers.onText(text);
        EXPECT_TRUE(c.socket->closed) << text;
        const auto frames = framesOf(c);
        ASSERT_EQ(frames.size(), 1u) << text; // the close, nothing else
        EXPECT_EQ(frames[0].kind, Wire::Frame::Kind::close);
    }

    auto unknown = connect();
    unknown.handlers.onText(R"({"t":"hello","v":1,"id":"nobodyknows","n":")" + nonce16 + "\"}");
    auto frames = framesOf(unknown);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(textOf(frames[0]), R"({"t":"unknown"})");
    EXPECT_EQ(frames[1].kind, Wire::Frame::Kind::close);
    EXPECT_EQ(controller->sessionCount(), 0u);
}

TEST_F(SessionControllerTest, FramesOutOfTurnOrThatFailToOpenEndTheSession)
{
    auto early = connect();
    early.handlers.onBinary(Bytes(40, 0));
    EXPECT_TRUE(early.socket->closed);

    // In the handshake: a second text frame, or a first sealed message that is not hi.
    for (const bool secondText : {true, false}) {
        const Pairing pairing = store->createPending();
        auto c = connect(pairing);
        c.handlers.onText(c.phone->hello());
        c.phone->acceptHello(textOf(framesOf(c)[0]));
        if (secondText)
            c.handlers.onText(c.phone->hello());
        else
            c.handlers.onBinary(c.phone->seal(PhoneMessage::ping(1)));
        EXPECT_TRUE(c.socket->closed);
        EXPECT_EQ(framesOf(c).size(), 2u); // the hello and the close
    }
    EXPECT_EQ(changes, 0);

    // An active phone's sealed message of an unknown type, a replayed one and
    // a tampered one: the session ends with nothing posted from them.
    for (const int fault : {0, 1, 2}) {
        auto c = activePhone();
        Bytes frame = fault == 0 ? c.phone->channel().seal(asBytes(R"({"t":"warp"})"))
                                 : c.phone->seal(PhoneMessage::move(3, 0));
        if (fault == 1)
            c.handlers.onBinary(frame);
        if (fault == 2)
            frame.back() ^= 1; // the last byte of the tag
        takePosted();
        c.handlers.onBinary(frame);
        EXPECT_TRUE(c.socket->closed) << fault;
        EXPECT_TRUE(takePosted().empty()) << fault;
    }
}

TEST_F(SessionControllerTest, StampedMovesSplitIntoHalvesThatPlayWhenDue)
{
    auto c = activePhone();
    std::vector<std::string> traced;
    controller->trace = [&](const std::string& line) { traced.push_back(line); };

    c.handlers.onBinary(c.phone->seal(PhoneMessage::move(10, 0), 5000));
    EXPECT_TRUE(takePosted().empty()); // the first sample plays 6 ms after arrival
    ASSERT_EQ(wakes.size(), 1u);
    EXPECT_DOUBLE_EQ(wakes[0], 1000.006);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0], "1000000.00 arrive move(10.00,  5000.00 play+6.00");

    // Due within half a millisecond plays now; 0.6 ms early waits.
    now = 1000.006 - 0.0006;
    controller->drain();
    EXPECT_TRUE(takePosted().empty());
    EXPECT_DOUBLE_EQ(wakes.back(), 1000.006);
    now = 1000.006 - 0.0004;
    controller->drain();
    EXPECT_EQ(mouseDeltas(takePosted()), std::vector<double> {5});
    EXPECT_DOUBLE_EQ(wakes.back(), 1000.006 + 1.0 / 120);
    now = 1000.006 + 1.0 / 120;
    controller->drain();
    EXPECT_EQ(mouseDeltas(takePosted()), std::vector<double> {5});

    // An unstamped move is not split and plays on arrival.
    now = 1001;
    c.handlers.onBinary(c.phone->seal(PhoneMessage::move(7, 0)));
    EXPECT_EQ(mouseDeltas(takePosted()), std::vector<double> {7});
    EXPECT_EQ(traced.back().substr(traced.back().size() - 15), "-1.00 play+0.00");
}

// A phone sampling at 120 Hz has no room for halves 1/120 s apart plus the
// pacer's catch-up gap: its moves play whole and keep pace with the phone,
// while a 60 Hz phone's moves are split.
TEST_F(SessionControllerTest, MovesSplitOnlyWhenThePhoneLeavesRoomAndNeverFallBehind)
{
    for (const double hz : {120.0, 60.0}) {
        SCOPED_TRACE(hz);
        auto c = activePhone();
        takePosted();
        const double start = now;
        double worst = 0;
        std::size_t events = 0;
        for (int i = 0; i < 600; ++i) {
            now = start + i / hz + (i % 7) * 0.001; // a little network jitter
            c.handlers.onBinary(c.phone->seal(PhoneMessage::move(4, 0), 1000.0 * i / hz));
            // Play everything due before the next sample arrives.
            for (double t = now; t < start + (i + 1) / hz; t += 0.0005) {
                now = t;
                controller->drain();
            }
            events += mouseDeltas(takePosted()).size();
            if (!wakes.empty())
                worst = std::max(worst, wakes.back() - now);
        }
        EXPECT_LT(worst, 0.05); // nothing queued far into the future
        EXPECT_GE(events, hz == 60 ? 1150u : 590u);
        EXPECT_LE(events, hz == 60 ? 1200u : 601u); // a first sample has room to split
        c.socket->close();
        wakes.clear();
    }
}

TEST_F(SessionControllerTest, OnlyMovesAndOngoingScrollsSplitOrMerge)
{
    const struct {
        PhoneMessage message;
        bool splits;
    } cases[] = {
        {PhoneMessage::move(3, -1), true},
        {PhoneMessage::scroll(2, 4, Phase::changed, MomentumPhase::none), true},
        {PhoneMessage::scroll(2, 4, std::nullopt, MomentumPhase::continue_), true},
        {PhoneMessage::scroll(2, 4, Phase::began, MomentumPhase::none), false},
        {PhoneMessage::scroll(2, 4, std::nullopt, MomentumPhase::begin), false},
        {PhoneMessage::scroll(2, 4, std::nullopt, MomentumPhase::none), false},
        {PhoneMessage::button(0, true, 1), false},
    };
    for (const auto& c : cases) {
        const auto halves = SessionController::split(c.message);
        EXPECT_EQ(halves.has_value(), c.splits) << c.message.description();
        EXPECT_EQ(SessionController::merge(c.message, c.message).has_value(), c.splits) << c.message.description();
        if (halves) {
            EXPECT_EQ(halves->first, halves->second);
        }
    }
    const auto scroll = PhoneMessage::scroll(3, -5, Phase::changed, MomentumPhase::none);
    EXPECT_EQ(SessionController::split(scroll)->first, PhoneMessage::scroll(1.5, -2.5, Phase::changed, MomentumPhase::none));
    EXPECT_EQ(SessionController::merge(scroll, PhoneMessage::scroll(1, 1, Phase::changed, MomentumPhase::none)),
        PhoneMessage::scroll(4, -4, Phase::changed, MomentumPhase::none));
    EXPECT_FALSE(SessionController::merge(scroll, PhoneMessage::scroll(1, 1, std::nullopt, MomentumPhase::continue_)));
    EXPECT_FALSE(SessionController::merge(PhoneMessage::move(1, 1), scroll));
}

TEST_F(SessionControllerTest, WithoutPermissionOrWhileAnUpdateIsRequiredInputIsRefusedButPingsAnswered)
{
    for (const bool permitted : {false, true}) {
        auto c = activePhone();
        accessibility = permitted;
        update = permitted ? UpdateStatus::required("9.0") : UpdateStatus::upToDate();
        c.handlers.onBinary(c.phone->seal(PhoneMessage::button(1, true, 1), 10));
        c.handlers.onBinary(c.phone->seal(PhoneMessage::ping(2.5)));
        EXPECT_EQ(received(c), std::vector<MacMessage> {MacMessage::pong(2.5)});
        EXPECT_TRUE(wakes.empty()); // nothing was queued
        // The refused press never reached the watchdog: ending releases nothing.
        accessibility = true;
        c.socket->close();
        EXPECT_TRUE(takePosted().empty());
    }
}

TEST_F(SessionControllerTest, ANewPhoneReplacesTheActiveOneWhichHearsItFirst)
{
    auto a = activePhone("A");
    received(a);
    const Pairing pairingB = store->createPending();
    auto b = connect(pairingB);
    b.handlers.onText(b.phone->hello());
    b.phone->acceptHello(textOf(framesOf(b)[0]));

    // While B is still in the handshake, A keeps working.
    a.handlers.onBinary(a.phone->seal(PhoneMessage::move(3, 0)));
    EXPECT_EQ(mouseDeltas(takePosted()), std::vector<double> {3});
    EXPECT_EQ(changes, 1);

    const auto before = wire.frames.size();
    b.handlers.onBinary(b.phone->seal(PhoneMessage::hi("B", false)));
    ASSERT_EQ(wire.frames.size(), before + 3);
    EXPECT_EQ(wire.frames[before].socket, a.number);
    EXPECT_EQ(a.phone->open(wire.frames[before].bytes), MacMessage::replaced());
    EXPECT_EQ(wire.frames[before + 1].socket, a.number);
    EXPECT_EQ(wire.frames[before + 1].kind, Wire::Frame::Kind::close);
    EXPECT_EQ(wire.frames[before + 2].socket, b.number);
    EXPECT_TRUE(b.phone->open(wire.frames[before + 2].bytes).is<MacMessage::Ready>());
    EXPECT_EQ(changes, 3); // A's end, then B's activation
    EXPECT_EQ(controller->activeDeviceName(), "B");
    EXPECT_EQ(controller->sessionCount(), 1u);
}

TEST_F(SessionControllerTest, RevokeClosesHandshakingSessionsSilentlyAndAlwaysDeletes)
{
    const Pairing pairing = store->createPending();
    auto pending = connect(pairing);
    pending.handlers.onText(pending.phone->hello());
    controller->revoke(pairing.id);
    EXPECT_TRUE(pending.socket->closed);
    EXPECT_EQ(framesOf(pending).size(), 2u); // hello, close
    EXPECT_FALSE(store->lookup(pairing.id));

    // Revoking an id nobody uses still notifies.
    controller->revoke("nobody");
    EXPECT_EQ(changes, 2);
}

TEST_F(SessionControllerTest, EndingPlaysTheQueueThenReleasesWhateverWasHeld)
{
    auto c = activePhone();
    buttons.push_back({"cmdc", "Copy", ActionKind::key(8, 0x100000), std::nullopt, false, std::nullopt});
    c.handlers.onBinary(c.phone->seal(PhoneMessage::action("cmdc", true)));
    c.handlers.onBinary(c.phone->seal(PhoneMessage::button(0, true, 1), 100));
    c.handlers.onBinary(c.phone->seal(PhoneMessage::move(6, 0), 120));
    const auto pressed = takePosted(); // the unstamped action played at once
    ASSERT_EQ(pressed.size(), 2u);     // command down, C down

    c.socket->close(); // the phone vanished mid-drag
    const auto posted = takePosted();
    EXPECT_EQ(mouseTypes(posted), (std::vector<std::int32_t> {1, 6, 6, 2}));
    const auto& last = posted.back();
    ASSERT_TRUE(last.is<EventSpec::Key>());
    EXPECT_EQ(*last.as<EventSpec::Key>(), (EventSpec::Key {55, 0, false}));
    EXPECT_TRUE(pointer->buttonsDown.empty());
    EXPECT_EQ(controller->sessionCount(), 0u);

    c.handlers.onClose(); // a second close notification does nothing
    EXPECT_TRUE(takePosted().empty());
}

TEST_F(SessionControllerTest, TickReleasesAfterSilenceAndClosesTheSwitcher)
{
    auto c = activePhone();
    buttons.push_back({"sw", "Switch", ActionKind::appSwitcher(), std::nullopt, false, std::nullopt});
    c.handlers.onBinary(c.phone->seal(PhoneMessage::button(2, true, 1)));
    c.handlers.onBinary(c.phone->seal(PhoneMessage::action("sw", true)));
    c.handlers.onBinary(c.phone->seal(PhoneMessage::action("sw", false)));
    takePosted();

    now += 0.5;
    controller->tick();
    EXPECT_TRUE(takePosted().empty()); // exactly the timeout is not yet silence
    now += 0.1;
    controller->tick();
    // The held middle button is released, and that release also closes the switcher.
    auto posted = takePosted();
    EXPECT_EQ(mouseTypes(posted), std::vector<std::int32_t> {26});
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(*posted[1].as<EventSpec::Key>(), (EventSpec::Key {55, 0, false}));

    // An open switcher closes by itself 1.5 s after its last press.
    c.handlers.onBinary(c.phone->seal(PhoneMessage::action("sw", true)));
    takePosted();
    now += 1.5;
    controller->tick();
    EXPECT_TRUE(takePosted().empty());
    now += 0.1;
    controller->tick();
    posted = takePosted();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(*posted[0].as<EventSpec::Key>(), (EventSpec::Key {55, 0, false}));
}

// Presses cannot be merged; beyond the queue's bound the oldest play at once.
TEST_F(SessionControllerTest, AFloodCannotGrowTheQueueWithoutBoundAndLosesNothing)
{
    auto c = activePhone();
    const std::size_t count = 1000;
    for (std::size_t i = 0; i < count; ++i)
        c.handlers.onBinary(c.phone->seal(PhoneMessage::button(0, i % 2 == 0, 1), 20.0 * double(i)));
    const auto playedSoFar = mouseTypes(takePosted()).size();
    EXPECT_GE(playedSoFar, count - SessionController::maxPending);
    c.socket->close();
    EXPECT_EQ(playedSoFar + mouseTypes(takePosted()).size(), count);
}

// A 120 Hz phone after a stall sends its whole backlog at once. It plays on
// at the catch-up pace without a pause, ends exactly where the moves add up
// to, within 300 ms, in order around a drag, and the next move after it is
// paced normally again.
TEST_F(SessionControllerTest, ABurstAfterAStallCatchesUpWithinAQuarterSecond)
{
    for (const int count : {100, 600, 3000}) {
        SCOPED_TRACE(count);
        auto c = activePhone();
        pointer->position = {100, 100};
        double stamp = 0;
        const auto send = [&](const PhoneMessage& message) { c.handlers.onBinary(c.phone->seal(message, stamp += 1000.0 / 120)); };
        for (int i = 0; i < 20; ++i, now += 1.0 / 120)
            send(PhoneMessage::move(0.5, 0.25));
        now += 1;
        controller->drain();
        takePosted();

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

        std::vector<double> times {arrival};
        std::vector<std::int32_t> types;
        double wheel = 0;
        for (;;) {
            for (const auto& spec : takePosted()) {
                times.push_back(now);
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
        double pause = 0;
        for (std::size_t i = 1; i < times.size(); ++i)
            pause = std::max(pause, times[i] - times[i - 1]);
        EXPECT_LE(pause, Session::catchUpSpacing + 1e-9);
        EXPECT_LE(times.back() - arrival, 0.3);

        now += 0.1;
        stamp += 100;
        send(PhoneMessage::move(1, 0));
        ASSERT_FALSE(wakes.empty());
        EXPECT_LE(wakes.back() - now, Session::maxBuffer);
    }
}

TEST_F(SessionControllerTest, BroadcastsReachOnlyEstablishedPhones)
{
    auto a = activePhone();
    received(a);
    const Pairing pairing = store->createPending();
    auto b = connect(pairing);
    b.handlers.onText(b.phone->hello());

    buttons = {};
    context = AppContext {"Terminal", {}};
    update = UpdateStatus::available("3");
    controller->broadcastAccessibility(false);
    controller->broadcastActions();
    controller->broadcastPrefs();
    controller->broadcastUpdate();
    controller->broadcastContext();
    EXPECT_EQ(received(a), (std::vector<MacMessage> {MacMessage::accessibility(false), MacMessage::actions({}),
                               MacMessage::prefs(TrackpadPrefs {}), MacMessage::update(UpdateStatus::available("3")),
                               MacMessage::context(AppContext {"Terminal", {}})}));
    EXPECT_EQ(framesOf(b).size(), 1u); // only its hello
}

// The queue's wake timer follows the controller's clock (a fake one here):
// an earlier wake replaces the armed one, a later one does not. The tick
// closes a handshake that outlived its limit, and only that.
TEST_F(SessionControllerTest, TheIOQueueGivesTheControllerItsWakesAndTicks)
{
    IOQueue queue;
    queue.drive(controller, std::chrono::hours(1)); // no tick to drain in the wake's place
    const auto waitOnQueue = [&queue](auto done) {
        for (auto deadline = std::chrono::steady_clock::now() + test::patience; !queue.call(done);)
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    };
    Connection idle;
    queue.call([&] {
        auto c = activePhone();
        controller->requestWake(now + 60);
        c.handlers.onBinary(c.phone->seal(PhoneMessage::move(10, 0), 5000)); // halves due in 6 and 14 ms
        controller->requestWake(now + 60);
        now += 0.02;
        idle = connect();
    });
    std::vector<double> deltas;
    EXPECT_TRUE(waitOnQueue([&] {
        const auto more = mouseDeltas(takePosted());
        deltas.insert(deltas.end(), more.begin(), more.end());
        return deltas.size() == 2;
    }));
    queue.drive(controller, std::chrono::milliseconds(10));
    queue.call([&] { now += SessionController::handshakeLimit + 1; });
    EXPECT_TRUE(waitOnQueue([&] { return idle.socket->closed; }));
    EXPECT_EQ(queue.call([&] { return controller->activeDeviceName(); }), "Pixel");
}

TEST(SessionSend, OnlyWhileActiveAndFailedEncodingsUseNoCounter)
{
    Wire wire;
    auto socket = std::make_shared<FakeSocket>(wire, 1);
    double now = 0;
    Session session(socket, [&now] { return now; });
    session.send(MacMessage::pong(1));
    EXPECT_TRUE(wire.frames.empty());

    const auto keys = SessionCrypto::deriveKeys(Bytes(32, 3), Bytes(16, 1), Bytes(16, 2), Role::mac);
    const Pairing pairing = Pairing::make(0);
    session.state = Session::State::awaitingHi(std::make_unique<SealingChannel>(keys), pairing);
    session.send(MacMessage::pong(1));
    EXPECT_TRUE(wire.frames.empty());

    session.state = Session::State::active(session.state.takeChannel(), pairing);
    session.send(MacMessage::pong(std::numeric_limits<double>::quiet_NaN()));
    session.send(MacMessage::pong(1));
    session.send(MacMessage::pong(2));
    ASSERT_EQ(wire.frames.size(), 2u);
    SealingChannel phone(SessionCrypto::deriveKeys(Bytes(32, 3), Bytes(16, 1), Bytes(16, 2), Role::phone));
    EXPECT_EQ(MessageCodec::decodeMac(phone.open(wire.frames[0].bytes)), MacMessage::pong(1));
    EXPECT_EQ(MessageCodec::decodeMac(phone.open(wire.frames[1].bytes)), MacMessage::pong(2));

    session.state = Session::State::closed();
    session.send(MacMessage::pong(3));
    EXPECT_EQ(wire.frames.size(), 2u);
}

} // namespace
} // namespace ferlow
