// The first whole road of the product: a phone client over a real socket,
// through the server, the handshake, the pacer and the translator, to a
// recording poster, everything on one I/O thread as in the app.

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "FerlowHost/IOQueue.h"
#include "FerlowHost/SessionController.h"
#include "FerlowServer/Server.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Support/RecordingPoster.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;
using test::TestClient;
using test::TestPhone;

constexpr std::uint8_t textFrame = 0x81, binaryFrame = 0x82;
constexpr std::uint8_t opText = 1, opBinary = 2, opClose = 8, opPong = 10;

// The computer's side as the app wires it: the server hands each WebSocket
// to the session controller, which the I/O queue ticks and wakes.
class LiveHost {
public:
    explicit LiveHost(std::shared_ptr<EventPoster> poster_ = nullptr, ServerLimits limits = {})
        : poster(poster_ ? std::move(poster_) : recorder)
    {
        store = std::make_shared<PairingStore>(folder.path() / "data");
        auto pointer = std::make_shared<PointerState>(Point {500, 500});
        translator = std::make_shared<Translator>(pointer, [] { return DisplayLayout {{Rect {{0, 0}, {1920, 1080}}}}; },
            [pointer] { return pointer->position; },
            [] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); },
            Translator::DockSwipes::emulated);
        SessionController::Suppliers suppliers;
        suppliers.accessibility = [this] { return accessibility.load(); };
        suppliers.actions = [] { return std::vector<ActionButton> {}; };
        suppliers.macName = [] { return std::string("desk"); };
        suppliers.prefs = [] { return TrackpadPrefs {}; };
        suppliers.context = [] { return std::optional<AppContext> {}; };
        suppliers.update = [] { return UpdateStatus::upToDate(); };
        controller = std::make_shared<SessionController>(store, translator, poster, suppliers);
        queue.drive(controller);

        test::writeFile(folder.path() / "pad" / "index.html", "<html></html>");
        server = std::make_unique<Server>(queue.context(), 0, StaticFiles(folder.path() / "pad"),
            [](const IPAddress&) { return true; }, limits);
        server->setOnSocket([this](const std::shared_ptr<SocketConnection>& connection) {
            const auto handlers = controller->accept(connection);
            connection->onMessage = [handlers](const WSFrame& frame) {
                if (frame.opcode == WSOpcode::text)
                    handlers.onText(asText(frame.payload));
                else
                    handlers.onBinary(frame.payload);
            };
            connection->onClose = handlers.onClose;
        });
        server->start();
        port = *server->boundPort();
    }

    ~LiveHost()
    {
        server.reset();
        queue.call([this] { controller.reset(); });
    }

    // Waits until the poster has seen `count` specs; returns them all.
    std::vector<EventSpec> waitForPosted(std::size_t count)
    {
        const auto deadline = std::chrono::steady_clock::now() + test::patience;
        std::vector<EventSpec> all;
        while (std::chrono::steady_clock::now() < deadline) {
            auto batch = postedNow();
            all.insert(all.end(), batch.begin(), batch.end());
            if (all.size() >= count)
                break;
            std::this_thread::sleep_for(5ms);
        }
        return all;
    }

    std::vector<EventSpec> postedNow() { return queue.call([this] { return recorder->take(); }); }

    IOQueue queue;
    test::TemporaryDirectory folder;
    std::atomic<bool> accessibility {true};
    std::shared_ptr<PairingStore> store;
    std::shared_ptr<Translator> translator;
    std::shared_ptr<RecordingPoster> recorder = std::make_shared<RecordingPoster>();
    std::shared_ptr<EventPoster> poster;
    std::shared_ptr<SessionController> controller;
    std::unique_ptr<Server> server;
    std::uint16_t port = 0;
};

// A phone on its own connection.
struct Phone {
    Phone(LiveHost& host, const Pairing& pairing) : client(host.port), protocol(pairing) { }

    // Upgrade and hello; returns the computer's reply to the hello.
    TestClient::ServerFrame greet(std::uint16_t port)
    {
        EXPECT_EQ(client.upgrade(port).substr(0, 12), "HTTP/1.1 101");
        client.send(test::maskedFrame(textFrame, asBytes(protocol.hello())));
        return client.readFrame();
    }

    // The whole handshake up to "ready".
    MacMessage connect(std::uint16_t port, const std::string& device = "Pixel")
    {
        const auto hello = greet(port);
        EXPECT_EQ(hello.opcode, opText);
        protocol.acceptHello(std::string(hello.payload.begin(), hello.payload.end()));
        send(PhoneMessage::hi(device, false));
        return receive();
    }

    void send(const PhoneMessage& message, std::optional<double> ts = std::nullopt)
    {
        client.send(test::maskedFrame(binaryFrame, protocol.seal(message, ts)));
    }

    MacMessage receive()
    {
        const auto frame = client.readFrame();
        if (!frame.complete || frame.opcode != opBinary)
            throw std::runtime_error("no sealed message came");
        return protocol.open(frame.payload);
    }

    // The server's close frame (status 1000), then the end of the stream.
    bool closedByServer()
    {
        const auto frame = client.readFrame();
        return frame.complete && frame.opcode == opClose && frame.payload == Bytes {0x03, 0xE8}
            && client.read(1).empty();
    }

    TestClient client;
    TestPhone protocol;
};

std::vector<double> moveDeltas(const std::vector<EventSpec>& specs)
{
    std::vector<double> deltas;
    for (const auto& spec : specs)
        if (const auto* mouse = spec.as<EventSpec::Mouse>(); mouse && mouse->type == 5)
            deltas.push_back(mouse->delta.dx);
    return deltas;
}

TEST(EndToEnd, APairedPhoneGetsReadyAndItsMovesArePostedInOrderWithTheirHalves)
{
    LiveHost host;
    const Pairing pairing = host.store->createPending();
    Phone phone(host, pairing);
    // "ready" is the first sealed message: the phone's channel opens it at counter 0.
    const MacMessage ready = phone.connect(host.port, "Ana’s Pixel");
    EXPECT_EQ(ready, MacMessage::ready(true, {}, "desk", TrackpadPrefs {}, std::nullopt, UpdateStatus::upToDate()));
    EXPECT_EQ(phone.protocol.channel().receiveCounter(), 1u);
    EXPECT_EQ(host.store->lookup(pairing.id)->name, "Ana’s Pixel");
    EXPECT_EQ(host.queue.call([&] { return host.controller->activeDeviceName(); }), "Ana’s Pixel");

    // Five stamped moves 16 ms apart on the phone's clock, sent at once: each
    // plays as two halves, in order.
    for (int i = 1; i <= 5; ++i)
        phone.send(PhoneMessage::move(2 * i, 0), 1000.0 + 16 * i);
    EXPECT_EQ(moveDeltas(host.waitForPosted(10)), (std::vector<double> {1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));

    phone.send(PhoneMessage::ping(77.5));
    EXPECT_EQ(phone.receive(), MacMessage::pong(77.5));
}

TEST(EndToEnd, AnUnknownPairingGetsExactlyTheUnknownReply)
{
    LiveHost host;
    Phone phone(host, Pairing::make(0));
    const auto reply = phone.greet(host.port);
    EXPECT_EQ(reply.opcode, opText);
    EXPECT_EQ(std::string(reply.payload.begin(), reply.payload.end()), R"({"t":"unknown"})");
    EXPECT_TRUE(phone.closedByServer());
}

TEST(EndToEnd, ASecondPhoneReplacesTheFirst)
{
    LiveHost host;
    Phone first(host, host.store->createPending());
    first.connect(host.port, "first");
    Phone second(host, host.store->createPending());
    EXPECT_TRUE(second.connect(host.port, "second").is<MacMessage::Ready>());
    EXPECT_EQ(first.receive(), MacMessage::replaced());
    EXPECT_TRUE(first.closedByServer());
    EXPECT_EQ(host.queue.call([&] { return host.controller->activeDeviceName(); }), "second");
}

TEST(EndToEnd, ForgetRevokesAndDeletesThePairing)
{
    LiveHost host;
    const Pairing pairing = host.store->createPending();
    Phone phone(host, pairing);
    phone.connect(host.port);
    phone.send(PhoneMessage::forget());
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    EXPECT_TRUE(phone.closedByServer());
    EXPECT_FALSE(host.store->lookup(pairing.id));
    EXPECT_FALSE(test::readFile(host.store->file()).find(pairing.id) != std::string::npos);
}

TEST(EndToEnd, APhoneThatVanishesMidDragHasItsButtonReleased)
{
    LiveHost host;
    Phone phone(host, host.store->createPending());
    phone.connect(host.port);
    phone.send(PhoneMessage::button(0, true, 1));
    phone.send(PhoneMessage::move(5, 5));
    ASSERT_EQ(host.waitForPosted(2).size(), 2u); // press, drag
    phone.client.reset();
    const auto released = host.waitForPosted(1);
    ASSERT_EQ(released.size(), 1u);
    ASSERT_TRUE(released[0].is<EventSpec::Mouse>());
    EXPECT_EQ(released[0].as<EventSpec::Mouse>()->type, 2); // left button up
    EXPECT_EQ(host.queue.call([&] { return host.controller->sessionCount(); }), 0u);
}

TEST(EndToEnd, AReplayedOrTamperedFrameEndsTheSessionWithNothingPostedFromIt)
{
    for (const bool tamper : {false, true}) {
        LiveHost host;
        Phone phone(host, host.store->createPending());
        phone.connect(host.port);
        const Bytes sealed = phone.protocol.seal(PhoneMessage::move(3, 0));
        Bytes frame = test::maskedFrame(binaryFrame, sealed);
        if (tamper) {
            frame.back() ^= 0x01; // the last byte of the tag
        } else {
            phone.client.send(frame);
            ASSERT_EQ(moveDeltas(host.waitForPosted(1)), std::vector<double> {3});
        }
        phone.client.send(frame);
        EXPECT_TRUE(phone.closedByServer());
        EXPECT_TRUE(host.postedNow().empty());
    }
}

TEST(EndToEnd, WithoutPermissionNothingIsPostedButPingsAreAnswered)
{
    LiveHost host;
    host.accessibility = false;
    Phone phone(host, host.store->createPending());
    const auto ready = phone.connect(host.port);
    EXPECT_FALSE(ready.as<MacMessage::Ready>()->accessibility);
    phone.send(PhoneMessage::button(0, true, 1), 10);
    phone.send(PhoneMessage::move(4, 4), 30);
    phone.send(PhoneMessage::ping(12.25));
    EXPECT_EQ(phone.receive(), MacMessage::pong(12.25));
    std::this_thread::sleep_for(50ms); // longer than any pacing delay
    EXPECT_TRUE(host.postedNow().empty());
}

} // namespace
} // namespace ferlow
