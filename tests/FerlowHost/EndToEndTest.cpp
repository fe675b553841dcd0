// The first whole road of the product: a phone client over a real socket,
// through the server, the handshake, the pacer and the translator, to a
// recording poster, everything on one I/O thread as in the app.

#include <atomic>
#include <chrono>
#include <fstream>
#include <sys/resource.h>
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
constexpr std::uint8_t opText = 1, opBinary = 2, opClose = 8;

// The platform seam: records every post, and fails where `fails` says.
class TestPoster final : public EventPoster {
public:
    void post(const std::vector<EventSpec>& specs) override
    {
        for (const auto& spec : specs)
            if (fails && fails(spec))
                throw std::runtime_error("the backend could not post it");
        recorder.post(specs);
    }
    RecordingPoster recorder;
    std::function<bool(const EventSpec&)> fails;
};

// The computer's side as the app wires it: the server hands each WebSocket
// to the session controller, which the I/O queue ticks and wakes.
class LiveHost {
public:
    explicit LiveHost(ServerLimits limits = {})
    {
        store = std::make_shared<PairingStore>(folder.path() / "data");
        auto pointer = std::make_shared<PointerState>(Point {500, 500});
        translator = std::make_shared<Translator>(pointer, [] { return DisplayLayout {{Rect {{0, 0}, {1920, 1080}}}}; },
            [pointer] { return pointer->position; },
            [] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); },
            Translator::DockSwipes::emulated);
        SessionController::Suppliers suppliers;
        suppliers.accessibility = [] { return true; };
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

    std::vector<EventSpec> postedNow() { return queue.call([this] { return poster->recorder.take(); }); }

    IOQueue queue;
    test::TemporaryDirectory folder;
    std::shared_ptr<PairingStore> store;
    std::shared_ptr<Translator> translator;
    std::shared_ptr<TestPoster> poster = std::make_shared<TestPoster>();
    std::shared_ptr<SessionController> controller;
    std::unique_ptr<Server> server;
    std::uint16_t port = 0;
};

// A phone on its own connection.
struct Phone {
    Phone(LiveHost& host, const Pairing& pairing) : client(host.port), protocol(pairing) { }

    // Upgrade and both hellos: the session keys are agreed.
    void handshake(std::uint16_t port)
    {
        EXPECT_EQ(client.upgrade(port).substr(0, 12), "HTTP/1.1 101");
        client.send(test::maskedFrame(textFrame, asBytes(protocol.hello())));
        const auto hello = client.readFrame();
        EXPECT_EQ(hello.opcode, opText);
        protocol.acceptHello(std::string(hello.payload.begin(), hello.payload.end()));
    }

    // The whole handshake up to "ready".
    MacMessage connect(std::uint16_t port, const std::string& device = "Pixel")
    {
        handshake(port);
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

TEST(EndToEnd, APairedPhoneStreamsUntilItForgetsItself)
{
    LiveHost host;
    const Pairing pairing = host.store->createPending();
    Phone phone(host, pairing);
    const MacMessage ready = phone.connect(host.port, "Ana’s Pixel");
    EXPECT_EQ(ready, MacMessage::ready(true, {}, "desk", TrackpadPrefs {}, std::nullopt, UpdateStatus::upToDate()));
    EXPECT_EQ(host.store->lookup(pairing.id)->name, "Ana’s Pixel");

    // Five stamped moves 16 ms apart on the phone's clock, sent at once: each
    // plays as two halves, in order.
    for (int i = 1; i <= 5; ++i)
        phone.send(PhoneMessage::move(2 * i, 0), 1000.0 + 16 * i);
    EXPECT_EQ(moveDeltas(host.waitForPosted(10)), (std::vector<double> {1, 1, 2, 2, 3, 3, 4, 4, 5, 5}));
    phone.send(PhoneMessage::ping(77.5));
    EXPECT_EQ(phone.receive(), MacMessage::pong(77.5));

    phone.send(PhoneMessage::forget());
    EXPECT_EQ(phone.receive(), MacMessage::revoked());
    EXPECT_TRUE(phone.closedByServer());
    EXPECT_EQ(test::readFile(host.store->file()).find(pairing.id), std::string::npos);
}

// A backend that throws while a phone's frame is handled ends that session
// only: what it held is released, and the next phone is served.
TEST(EndToEnd, AFailureWhileHandlingAFrameEndsOnlyThatSession)
{
    LiveHost host;
    host.queue.call([&] {
        host.poster->fails = [](const EventSpec& spec) {
            const auto* mouse = spec.as<EventSpec::Mouse>();
            return mouse && mouse->type == 6; // a left drag
        };
    });
    Phone first(host, host.store->createPending());
    first.connect(host.port);
    Phone second(host, host.store->createPending());
    second.handshake(host.port);

    first.send(PhoneMessage::button(0, true, 1));
    first.send(PhoneMessage::move(5, 5));
    EXPECT_TRUE(first.closedByServer());
    const auto posted = host.waitForPosted(2); // left down, and up from the close-out
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[1], EventSpec::mouse(2, {505, 505}, 0, 1, {}));

    second.send(PhoneMessage::hi("second", false));
    EXPECT_TRUE(second.receive().is<MacMessage::Ready>());
    second.send(PhoneMessage::move(3, 0));
    EXPECT_EQ(moveDeltas(host.waitForPosted(1)), std::vector<double> {3});
}

std::size_t openDescriptors()
{
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return std::size_t(std::distance(begin(entries), end(entries)));
}

// AddressSanitizer holds freed memory back to catch its use, so the resident
// size says nothing about leaks there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool residentSizeMeansSomething = false;
#elif defined(__has_feature)
constexpr bool residentSizeMeansSomething = !__has_feature(address_sanitizer);
#else
constexpr bool residentSizeMeansSomething = true;
#endif

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::stol(line.substr(6));
    return 0;
}

// A neighbour's 1,000 idle and 200 slowloris connections cannot lock the
// phone out, neither with the default limits (each peer's share makes way)
// nor with shares as large as the cap (the longest waiting makes way), and
// what they cost the computer stays bounded and is given back.
TEST(EndToEnd, AFloodOfUnfinishedConnectionsCannotLockThePhoneOut)
{
    rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 2048)
        GTEST_SKIP() << "not enough file descriptors for the flood";

    using asio::ip::tcp;
    for (const std::size_t share : {ServerLimits {}.maxWaitingPerPeer, ServerLimits {}.maxConnections}) {
        SCOPED_TRACE(share);
        ServerLimits limits;
        limits.maxWaitingPerPeer = share;
        LiveHost host(limits);
        const auto descriptors = openDescriptors();
        const auto memory = residentKiB();
        {
            asio::io_context io;
            std::vector<tcp::socket> flood;
            for (int i = 0; i < 1200; ++i) {
                std::error_code error;
                auto& socket = flood.emplace_back(io);
                socket.open(tcp::v4(), error);
                socket.bind({asio::ip::make_address_v4("127.0.0.2"), 0}, error);
                socket.connect({asio::ip::make_address_v4("127.0.0.1"), host.port}, error);
                if (i >= 1000)
                    socket.send(asio::buffer(std::string_view("GET / HTTP/1.1\r\nX-Slow: ")), 0, error);
            }
            std::atomic<bool> done = false;
            std::thread slowloris([&] {
                for (std::error_code ignored; !done; std::this_thread::sleep_for(10ms))
                    for (std::size_t i = 1000; i < flood.size(); ++i)
                        flood[i].send(asio::buffer("x", 1), 0, ignored);
            });

            TestClient page(host.port);
            page.send("GET / HTTP/1.1\r\n\r\n");
            EXPECT_TRUE(asText(page.read()).starts_with("HTTP/1.1 200 OK"));
            Phone phone(host, host.store->createPending());
            EXPECT_TRUE(phone.connect(host.port).is<MacMessage::Ready>());
            for (int i = 0; i < 50; ++i)
                phone.send(PhoneMessage::move(1, 0));
            EXPECT_EQ(moveDeltas(host.waitForPosted(50)), std::vector<double>(50, 1));
            for (int i = 0; i < 20; ++i) {
                phone.send(PhoneMessage::ping(i));
                EXPECT_EQ(phone.receive(), MacMessage::pong(i));
            }
            done = true;
            slowloris.join();
            EXPECT_LE(openDescriptors(), descriptors + flood.size() + limits.maxConnections + 16);
            EXPECT_TRUE(!residentSizeMeansSomething || residentKiB() <= memory + 32 * 1024) << residentKiB() - memory;
        }
        const auto deadline = std::chrono::steady_clock::now() + test::patience;
        while (openDescriptors() > descriptors && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(openDescriptors(), descriptors);
        EXPECT_TRUE(!residentSizeMeansSomething || residentKiB() <= memory + 8 * 1024) << residentKiB() - memory;
    }
}

} // namespace
} // namespace ferlow
