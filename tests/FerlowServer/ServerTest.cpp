#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>

#include "FerlowServer/Server.h"
#include "TestClient.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;
using test::maskedFrame;
using test::serverFrame;
using test::TempFolder;
using test::TestClient;

const Bytes closeFrame {0x88, 0x02, 0x03, 0xE8};
const std::string switchingHead = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                  "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A real server on loopback, its I/O thread, and a record of what it handed out.
class ServerTest : public ::testing::Test {
protected:
    ServerTest()
    {
        m_folder.write("pad/index.html", "<html>ferlow</html>");
        m_folder.write("pad/thousand.bin", std::string(1000, 'b'));
        m_thread = std::thread([this] { m_io.run(); });
    }

    ~ServerTest() override
    {
        m_server.reset();
        onQueue([this] { m_sockets.clear(); });
        m_work.reset();
        m_io.stop();
        m_thread.join();
    }

    void start(ServerLimits limits = {}, Server::Policy policy = [](const IPAddress&) { return true; })
    {
        m_server = std::make_unique<Server>(m_io, 0, StaticFiles(m_folder.path() / "pad"), std::move(policy), limits);
        m_server->setOnSocket([this](const std::shared_ptr<SocketConnection>& socket) {
            socket->onMessage = [this](const WSFrame& frame) { record([&] { m_messages.push_back(frame); }); };
            socket->onClose = [this] { record([&] { ++m_closes; }); };
            record([&] { m_sockets.push_back(socket); });
        });
        m_server->start();
        ASSERT_TRUE(m_server->boundPort());
        m_port = *m_server->boundPort();
    }

    template <typename Change> void record(Change change)
    {
        const std::lock_guard lock(m_mutex);
        change();
        m_changed.notify_all();
    }

    template <typename Predicate> bool waitFor(Predicate predicate)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, TestClient::patience, predicate);
    }

    // Runs `work` on the I/O thread and waits for it.
    template <typename Work> void onQueue(Work work)
    {
        std::promise<void> done;
        asio::post(m_io, [&] {
            work();
            done.set_value();
        });
        ASSERT_EQ(done.get_future().wait_for(TestClient::patience), std::future_status::ready);
    }

    std::string answer(const std::string& request)
    {
        TestClient client(m_port);
        client.send(request);
        return std::string(asText(client.readToEnd()));
    }

    // A client whose upgrade has been answered and whose connection the test holds.
    std::unique_ptr<TestClient> upgraded(const Bytes& sentWithHead = {})
    {
        auto client = std::make_unique<TestClient>(m_port);
        client->send(toBytes(test::upgradeRequest(m_port)) + sentWithHead);
        EXPECT_EQ(asText(client->read(switchingHead.size())), switchingHead);
        return client;
    }

    std::size_t closes()
    {
        const std::lock_guard lock(m_mutex);
        return m_closes;
    }

    TempFolder m_folder;
    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work = asio::make_work_guard(m_io);
    std::thread m_thread;
    std::unique_ptr<Server> m_server;
    std::uint16_t m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<SocketConnection>> m_sockets;
    std::vector<WSFrame> m_messages;
    std::size_t m_closes = 0;
};

std::string headOfLength(std::size_t length)
{
    std::string head = "GET / HTTP/1.1\r\nX-Pad: ";
    head.append(length - head.size(), 'a');
    return head + "\r\n\r\n";
}

TEST_F(ServerTest, PlainRequestsGetExactlyOneAnswer)
{
    start();
    const FileResponse page {200, "text/html; charset=utf-8", toBytes("<html>ferlow</html>"), std::nullopt};
    const FileResponse badRequest {400, "text/plain", toBytes("Bad request"), std::nullopt};
    const FileResponse notAllowed {405, "text/plain", toBytes("Method not allowed"), std::nullopt};
    const FileResponse forbidden {403, "text/plain", toBytes("Forbidden"), std::nullopt};
    const std::string foreignPort = "http://127.0.0.1:" + std::to_string(m_port + 1);
    const std::pair<std::string, Bytes> cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", page.bytes()},
        {"GET    /index.html    HTTP/1.1\r\n\r\n", page.bytes()},
        {"HEAD / HTTP/1.1\r\n\r\n", page.bytes(BodyMode::omit)},
        {headOfLength(16384), page.bytes()},
        {headOfLength(16385), badRequest.bytes()},
        {"GET / HTTP/2\r\n\r\n", badRequest.bytes()},
        {"get / HTTP/1.1\r\n\r\n", notAllowed.bytes()},
        {"POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", notAllowed.bytes()},
        {"GET /missing HTTP/1.1\r\n\r\n", FileResponse {404, "text/plain; charset=utf-8", toBytes("Not found"), std::nullopt}.bytes()},
        {"GET /thousand.bin HTTP/1.1\r\nRange: bytes=990-\r\n\r\n",
            FileResponse {206, "application/octet-stream", Bytes(10, 'b'), "bytes 990-999/1000"}.bytes()},
        {test::upgradeRequest(m_port, foreignPort), forbidden.bytes()},
        {test::upgradeRequest(m_port, "https://127.0.0.1:" + std::to_string(m_port)), forbidden.bytes()},
    };
    for (const auto& [request, expected] : cases)
        EXPECT_EQ(answer(request), asText(expected)) << request.substr(0, 40);
}

TEST_F(ServerTest, OversizedHeadIsAnsweredBeforeTheClientFinishes)
{
    start();
    TestClient client(m_port);
    client.send(std::string(16385, 'G')); // no blank line, and nothing more will come
    EXPECT_TRUE(asText(client.readToEnd()).starts_with("HTTP/1.1 400 Bad Request\r\n"));
}

TEST_F(ServerTest, CurlGetsAValidPage)
{
    start();
    const std::string command = "curl --silent --show-error --max-time 10 --include http://127.0.0.1:"
        + std::to_string(m_port) + "/ 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 4096> chunk {};
    while (const auto count = std::fread(chunk.data(), 1, chunk.size(), pipe))
        output.append(chunk.data(), count);
    EXPECT_EQ(::pclose(pipe), 0) << output;
    EXPECT_TRUE(output.starts_with("HTTP/1.1 200 OK\r\n")) << output;
    EXPECT_TRUE(output.ends_with("\r\n\r\n<html>ferlow</html>")) << output;
}

TEST_F(ServerTest, FrameSentWithTheHeadArrivesAfterOnSocket)
{
    start();
    auto client = upgraded(maskedFrame(0x82, toBytes("first")));
    ASSERT_TRUE(waitFor([&] { return m_messages.size() == 1; }));
    EXPECT_EQ(m_sockets.size(), 1u);
    EXPECT_EQ(m_messages[0], (WSFrame {WSOpcode::binary, toBytes("first")}));
    EXPECT_EQ(m_sockets[0]->remote(), IPAddress::v4({127, 0, 0, 1}));
}

TEST_F(ServerTest, PingsArePongedAndMessagesFlowBothWays)
{
    start();
    auto client = upgraded();
    ASSERT_TRUE(waitFor([&] { return m_sockets.size() == 1; }));
    client->send(maskedFrame(0x89, toBytes("beat")) + maskedFrame(0x81, toBytes("hello")));
    const auto pong = serverFrame(0x0A, toBytes("beat"));
    EXPECT_EQ(client->read(pong.size()), pong);
    ASSERT_TRUE(waitFor([&] { return m_messages.size() == 1; }));
    EXPECT_EQ(m_messages[0], (WSFrame {WSOpcode::text, toBytes("hello")}));

    onQueue([&] {
        m_sockets[0]->sendText("one");
        m_sockets[0]->sendBinary(Bytes(70000, 2));
    });
    const auto expected = serverFrame(0x01, toBytes("one")) + serverFrame(0x02, Bytes(70000, 2));
    EXPECT_EQ(client->read(expected.size()), expected);
}

TEST_F(ServerTest, CloseFromThePhoneIsAnsweredOnce)
{
    start();
    auto client = upgraded();
    client->send(maskedFrame(0x88, Bytes {0x03, 0xE8}));
    EXPECT_EQ(client->readToEnd(), closeFrame);
    EXPECT_TRUE(waitFor([&] { return m_closes == 1; }));
}

TEST_F(ServerTest, ClosingTwiceSendsOneCloseFrame)
{
    start();
    auto client = upgraded();
    ASSERT_TRUE(waitFor([&] { return m_sockets.size() == 1; }));
    onQueue([&] {
        m_sockets[0]->close();
        m_sockets[0]->close();
        m_sockets[0]->sendText("too late");
        m_sockets[0]->finish();
    });
    EXPECT_EQ(client->readToEnd(), closeFrame);
    EXPECT_EQ(closes(), 1u);
}

TEST_F(ServerTest, ViolationsAndOversizedFramesEndTheConnection)
{
    start();
    const Bytes violations[] = {
        WebSocketFramer::encode(WSOpcode::text, toBytes("unmasked")),
        maskedFrame(0x82, Bytes(65537, 1)),
    };
    for (const auto& violation : violations) {
        auto client = upgraded();
        client->send(violation);
        EXPECT_EQ(client->readToEnd(), closeFrame);
    }
    EXPECT_TRUE(waitFor([&] { return m_closes == 2; }));

    auto client = upgraded(maskedFrame(0x82, Bytes(65536, 1)));
    EXPECT_TRUE(waitFor([&] { return m_messages.size() == 1; }));
    EXPECT_EQ(m_messages[0].payload.size(), 65536u);
}

TEST_F(ServerTest, PhoneThatVanishesEndsItsConnection)
{
    start();
    auto client = upgraded();
    ASSERT_TRUE(waitFor([&] { return m_sockets.size() == 1; }));
    client->reset();
    EXPECT_TRUE(waitFor([&] { return m_closes == 1; }));
    onQueue([&] { EXPECT_TRUE(m_sockets[0]->isClosed()); });
}

TEST_F(ServerTest, PeerThatNeverReadsIsDroppedAtTheQueueLimit)
{
    ServerLimits limits;
    limits.maxQueuedBytes = 1 << 20;
    start(limits);
    auto client = upgraded();
    ASSERT_TRUE(waitFor([&] { return m_sockets.size() == 1; }));
    // The kernel's buffers fill first; then the queue; then the connection ends.
    // Bounded at 256 MiB of frames in case it never did.
    for (int round = 0; round < 256 && closes() == 0; ++round)
        onQueue([&] {
            for (int i = 0; i < 16; ++i)
                m_sockets[0]->sendBinary(Bytes(65536, 3));
        });
    EXPECT_EQ(closes(), 1u);
}

TEST_F(ServerTest, RefusedPeerReceivesNothing)
{
    std::vector<IPAddress> asked;
    start({}, [&](const IPAddress& peer) {
        record([&] { asked.push_back(peer); });
        return false;
    });
    TestClient client(m_port);
    client.send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(client.readToEnd().empty());
    ASSERT_TRUE(waitFor([&] { return asked.size() == 1; }));
    EXPECT_EQ(asked[0], IPAddress::v4({127, 0, 0, 1})); // not ::ffff:127.0.0.1

    TestClient overIPv6(m_port, "::1");
    if (overIPv6.connected()) {
        EXPECT_TRUE(overIPv6.readToEnd().empty());
        ASSERT_TRUE(waitFor([&] { return asked.size() == 2; }));
        EXPECT_EQ(asked[1], *IPAddress::parse("::1"));
    }
}

TEST_F(ServerTest, ConnectionsBeyondTheCapAreClosedUnread)
{
    ServerLimits limits;
    limits.maxConnections = 2;
    start(limits);
    auto first = upgraded();
    auto second = upgraded();
    EXPECT_EQ(answer("GET / HTTP/1.1\r\n\r\n"), "");

    first->send(maskedFrame(0x88, {}));
    EXPECT_EQ(first->readToEnd(), closeFrame);
    EXPECT_TRUE(answer("GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK"));
}

TEST_F(ServerTest, SlowHeadIsClosedSilentlyAndFreesItsSlot)
{
    ServerLimits limits;
    limits.maxConnections = 1;
    limits.headTimeout = 100ms;
    start(limits);
    TestClient slow(m_port);
    slow.send("GET / HTTP/1.1\r\nHost:");
    EXPECT_TRUE(slow.readToEnd().empty());
    EXPECT_TRUE(answer("GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK"));
}

TEST(ServerStart, PortInUseAndAnyFreePort)
{
    asio::io_context io;
    auto work = asio::make_work_guard(io);
    std::thread thread([&] { io.run(); });
    TempFolder folder;
    const auto allowAll = [](const IPAddress&) { return true; };
    {
        Server any(io, 0, StaticFiles(folder.path()), allowAll);
        any.start();
        ASSERT_TRUE(any.boundPort());
        EXPECT_NE(*any.boundPort(), 0);
        EXPECT_TRUE(TestClient(*any.boundPort()).connected());

        // A port another socket listens on.
        const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), length), 0);
        ASSERT_EQ(::listen(holder, 1), 0);
        ::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length);
        Server taken(io, ntohs(address.sin_port), StaticFiles(folder.path()), allowAll);
        try {
            taken.start();
            ADD_FAILURE() << "started on a taken port";
        } catch (const ServerError& error) {
            EXPECT_EQ(error, ServerError::portInUse());
        }
        ::close(holder);
    }
    work.reset();
    io.stop();
    thread.join();
}

TEST(ServerStart, TimesOutWhenTheQueueDoesNotRun)
{
    asio::io_context idle;
    TempFolder folder;
    ServerLimits limits;
    limits.startTimeout = 50ms;
    Server server(idle, 0, StaticFiles(folder.path()), [](const IPAddress&) { return true; }, limits);
    try {
        server.start();
        ADD_FAILURE() << "started without a running queue";
    } catch (const ServerError& error) {
        EXPECT_EQ(error, ServerError::failed("timed out"));
    }
}

} // namespace
} // namespace ferlow
