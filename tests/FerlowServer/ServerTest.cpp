#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FerlowCore/LocalNetworkPolicy.h"
#include "FerlowServer/Server.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;
using test::maskedFrame;
using test::TestClient;
using test::operator+;

const Bytes closeFrame {0x88, 0x02, 0x03, 0xE8}; // status 1000
const std::string switching = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n";

// A real server on loopback with its I/O thread, recording what it hands out.
class ServerTest : public ::testing::Test {
protected:
    ServerTest() { test::writeFile(m_folder.path() / "pad/index.html", "<html>ferlow</html>"); }

    ~ServerTest() override
    {
        m_server.reset();
        onQueue([this] { m_sockets.clear(); });
        m_work.reset();
        m_io.stop();
        m_thread.join();
    }

    void start(ServerLimits limits = {}, Server::Policy policy = [](const IPAddress&, std::uint32_t) { return true; })
    {
        m_server = std::make_unique<Server>(m_io, 0, StaticFiles(m_folder.path() / "pad"), std::move(policy), limits);
        m_server->setOnSocket([this](const std::shared_ptr<SocketConnection>& socket) {
            socket->onMessage = [this](const WSFrame& frame) {
                if (frame.payload == toBytes("throw"))
                    throw std::runtime_error("the receiver failed");
                record([&] { m_messages.push_back(frame); });
            };
            socket->onClose = [this] { record([&] { ++m_closes; }); };
            record([&] { m_sockets.push_back(socket); });
        });
        m_server->start();
        m_port = m_server->boundPort().value_or(0);
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
        return m_changed.wait_for(lock, test::patience, predicate);
    }

    template <typename Work> void onQueue(Work work)
    {
        std::promise<void> done;
        asio::post(m_io, [&] { work(), done.set_value(); });
        ASSERT_EQ(done.get_future().wait_for(test::patience), std::future_status::ready);
    }

    std::string answer(const std::string& request)
    {
        TestClient client(m_port);
        client.send(request);
        return std::string(asText(client.read()));
    }

    std::unique_ptr<TestClient> upgraded(const Bytes& sentWithTheHead = {})
    {
        auto client = std::make_unique<TestClient>(m_port);
        client->send(toBytes(test::upgradeRequest(m_port)) + sentWithTheHead);
        EXPECT_EQ(asText(client->read(switching.size())), switching);
        return client;
    }

    // A neighbour's connection from 127.0.0.2 that sends `head` and nothing more.
    void neighbour(std::vector<asio::ip::tcp::socket>& sockets, asio::io_context& io, std::string_view head)
    {
        auto& socket = sockets.emplace_back(io, asio::ip::tcp::v4());
        socket.bind({asio::ip::make_address_v4("127.0.0.2"), 0});
        socket.connect({asio::ip::address_v4::loopback(), m_port});
        asio::write(socket, asio::buffer(head));
    }

    test::TemporaryDirectory m_folder;
    asio::io_context m_io;
    asio::executor_work_guard<asio::io_context::executor_type> m_work = asio::make_work_guard(m_io);
    std::thread m_thread {[this] { m_io.run(); }};
    std::unique_ptr<Server> m_server;
    std::uint16_t m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<SocketConnection>> m_sockets;
    std::vector<WSFrame> m_messages;
    std::size_t m_closes = 0;
};

TEST_F(ServerTest, PlainRequestsGetExactlyOneAnswer)
{
    start();
    const auto page = FileResponse {200, "text/html; charset=utf-8", toBytes("<html>ferlow</html>"), std::nullopt};
    const auto text = [](int status, const char* body) { return FileResponse {status, "text/plain", toBytes(body), {}}; };
    const std::string pad(16384 - 23, 'a'); // makes "GET / HTTP/1.1\r\nX-Pad: " + pad 16384 bytes long
    const std::pair<std::string, Bytes> cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", page.bytes()},
        {"HEAD / HTTP/1.1\r\n\r\n", page.bytes(BodyMode::omit)},
        {"GET / HTTP/1.1\r\nX-Pad: " + pad + "\r\n\r\n", page.bytes()},
        {"GET / HTTP/1.1\r\nX-Pad: a" + pad + "\r\n\r\n", text(400, "Bad request").bytes()},
        {std::string(16385, 'G'), text(400, "Bad request").bytes()}, // answered before the head ends
        {"get / HTTP/1.1\r\n\r\n", text(405, "Method not allowed").bytes()},
        {"POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", text(405, "Method not allowed").bytes()},
        {"GET /index.html HTTP/1.1\r\nRange: bytes=14-\r\n\r\n",
            FileResponse {206, page.contentType, toBytes("html>"), "bytes 14-18/19"}.bytes()},
        {test::upgradeRequest(m_port, "http://127.0.0.1:1"), text(403, "Forbidden").bytes()},
    };
    for (const auto& [request, expected] : cases)
        EXPECT_EQ(answer(request), asText(expected)) << request.substr(0, 40);
}

TEST_F(ServerTest, WebSocketConversation)
{
    start();
    auto client = upgraded(maskedFrame(0x82, toBytes("first"))); // in the same packet as the head
    ASSERT_TRUE(waitFor([&] { return m_messages.size() == 1; }));
    EXPECT_EQ(m_messages[0], (WSFrame {WSOpcode::binary, toBytes("first")}));
    EXPECT_EQ(m_sockets.at(0)->remote(), IPAddress::v4({127, 0, 0, 1}));

    client->send(maskedFrame(0x89, toBytes("beat")) + maskedFrame(0x81, toBytes("hello")));
    const auto pong = WebSocketFramer::encode(WSOpcode::pong, toBytes("beat"));
    EXPECT_EQ(client->read(pong.size()), pong);
    ASSERT_TRUE(waitFor([&] { return m_messages.size() == 2; }));
    EXPECT_EQ(m_messages[1], (WSFrame {WSOpcode::text, toBytes("hello")}));

    onQueue([&] {
        m_sockets[0]->sendText("one");
        m_sockets[0]->sendBinary(Bytes(70000, 2));
    });
    const auto sent = WebSocketFramer::encode(WSOpcode::text, toBytes("one"))
        + WebSocketFramer::encode(WSOpcode::binary, Bytes(70000, 2));
    EXPECT_EQ(client->read(sent.size()), sent);

    // Closing twice sends one close frame, nothing after it, and ends the socket once.
    onQueue([&] {
        m_sockets[0]->close();
        m_sockets[0]->close();
        m_sockets[0]->sendText("too late");
        m_sockets[0]->finish();
    });
    EXPECT_EQ(client->read(), closeFrame);
    EXPECT_TRUE(waitFor([&] { return m_closes == 1; }));
}

TEST_F(ServerTest, MisbehavingOrVanishingPeersAreEnded)
{
    start();
    // The peer's own close, any violation, and a message its receiver fails
    // at are answered with a close frame.
    for (const auto& ending : {maskedFrame(0x88, Bytes {0x03, 0xE8}), WebSocketFramer::encode(WSOpcode::text, toBytes("unmasked")),
             maskedFrame(0x82, Bytes(65537)), maskedFrame(0x82, toBytes("throw"))}) {
        auto client = upgraded();
        client->send(ending);
        EXPECT_EQ(client->read(), closeFrame);
    }
    upgraded()->reset();
    EXPECT_TRUE(waitFor([&] { return m_closes == 5; }));

    auto client = upgraded(maskedFrame(0x82, Bytes(65536, 1)));
    EXPECT_TRUE(waitFor([&] { return m_messages.size() == 1 && m_messages[0].payload.size() == 65536; }));
}

TEST_F(ServerTest, PeerThatNeverReadsIsDroppedAtTheQueueLimit)
{
    ServerLimits limits;
    limits.maxQueuedBytes = 1 << 20;
    start(limits);
    auto client = upgraded();
    ASSERT_TRUE(waitFor([&] { return m_sockets.size() == 1; }));
    // The kernel's buffers fill, then the queue, then the connection ends (at most 256 MiB offered).
    const auto ended = [&] {
        const std::lock_guard lock(m_mutex);
        return m_closes == 1;
    };
    for (int round = 0; round < 256 && !ended(); ++round)
        onQueue([&] {
            for (int i = 0; i < 16; ++i)
                m_sockets[0]->sendBinary(Bytes(65536, 3));
        });
    EXPECT_TRUE(ended());
}

TEST_F(ServerTest, RefusedPeerReceivesNothing)
{
    std::vector<IPAddress> asked;
    start({}, [&](const IPAddress& peer, std::uint32_t) { return record([&] { asked.push_back(peer); }), false; });
    EXPECT_EQ(answer("GET / HTTP/1.1\r\n\r\n"), "");
    TestClient overIPv6(m_port, "::1"); // where the system has IPv6
    ASSERT_TRUE(waitFor([&] { return asked.size() == (overIPv6.connected() ? 2u : 1u); }));
    EXPECT_EQ(asked[0], IPAddress::v4({127, 0, 0, 1})); // not ::ffff:127.0.0.1
    EXPECT_EQ(asked.back(), overIPv6.connected() ? *IPAddress::parse("::1") : asked[0]);
}

// At the cap a newcomer takes the place of a connection still without a
// head, or of the oldest WebSocket that never sent a message (a neighbour's
// cannot lock the phone out, and its owner sees it end as any other close),
// never of one that has spoken: then the newcomer is closed unread.
TEST_F(ServerTest, AtTheConnectionCapOnlyConnectionsThatNeverSpokeMakeWay)
{
    ServerLimits limits;
    limits.maxConnections = 2;
    limits.headTimeout = 100ms;
    start(limits);
    asio::io_context io;
    std::vector<asio::ip::tcp::socket> neighbours;
    for (std::size_t i = 0; i < 2; ++i) {
        neighbour(neighbours, io, test::upgradeRequest(m_port));
        ASSERT_TRUE(waitFor([&] { return m_sockets.size() == i + 1; }));
    }
    auto phone = upgraded();
    EXPECT_TRUE(waitFor([&] { return m_closes == 1; }));
    phone->send(maskedFrame(0x81, toBytes("hello")));
    ASSERT_TRUE(waitFor([&] { return m_messages.size() == 1; }));
    onQueue([&] { m_sockets.at(2)->sendText("welcome"); });
    EXPECT_EQ(phone->readFrame().payload, toBytes("welcome"));
    onQueue([&] { EXPECT_TRUE(m_sockets[0]->isClosed() && !m_sockets[1]->isClosed()); });

    TestClient slow(m_port);
    slow.send("GET / HTTP/1.1\r\nHost:");
    EXPECT_TRUE(slow.read().empty()); // the head never finished: closed silently
    TestClient idle(m_port);
    EXPECT_TRUE(answer("GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK"));
    EXPECT_TRUE(idle.read().empty());
    auto second = upgraded(maskedFrame(0x81, toBytes("hello")));
    EXPECT_EQ(answer("GET / HTTP/1.1\r\n\r\n"), "");
}

// A neighbour's connections that never finish a head, idle or trickling,
// cannot lock the phone out: neither with a small share per peer (its own
// oldest makes way) nor with a share as large as the cap (the longest
// waiting of anybody's makes way). Every descriptor they cost comes back.
TEST_F(ServerTest, UnfinishedConnectionsMakeWayForThePhone)
{
    const auto openDescriptors = [] {
        const std::filesystem::directory_iterator entries("/proc/self/fd");
        return std::distance(begin(entries), end(entries));
    };
    for (const std::size_t share : {2, 6}) {
        SCOPED_TRACE(share);
        ServerLimits limits;
        limits.maxConnections = 6;
        limits.maxWaitingPerPeer = share;
        start(limits);
        const auto descriptors = openDescriptors();
        {
            asio::io_context io;
            std::vector<asio::ip::tcp::socket> neighbours;
            for (int i = 0; i < 20; ++i)
                neighbour(neighbours, io, i % 2 ? "GET / HTTP/1.1\r\nX-Slow: x" : "");
            EXPECT_TRUE(answer("GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK"));
            const auto phone = upgraded(maskedFrame(0x82, toBytes("move")));
            EXPECT_TRUE(waitFor([&] { return !m_messages.empty() && m_messages.back().payload == toBytes("move"); }));
            onQueue([&] { m_sockets.clear(); });
        }
        EXPECT_TRUE(test::eventually([&] { return openDescriptors() == descriptors; }));
        m_messages.clear();
    }
}

// A taken port is reported through the app: the process and status view tests.
TEST_F(ServerTest, StartReportsATimeOut)
{
    asio::io_context idle; // nobody runs it
    ServerLimits limits;
    limits.startTimeout = 50ms;
    Server stalled(idle, 0, StaticFiles(m_folder.path()), [](const IPAddress&, std::uint32_t) { return true; }, limits);
    EXPECT_THROW(try { stalled.start(); } catch (const ServerError& error) {
        EXPECT_EQ(error, ServerError::failed("timed out"));
        throw;
    }, ServerError);
}

// Runs `prepare`, then `body` with an I/O thread for its server, in a child
// process of its own (for changes a test must not make to itself). Returns
// the child's wait status: `body`'s result, or 77 when `prepare` failed.
int statusOfChild(const std::function<bool()>& prepare, const std::function<int(asio::io_context&)>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (!prepare())
            ::_exit(77);
        asio::io_context io;
        auto work = asio::make_work_guard(io);
        std::thread thread([&] { io.run(); });
        const int code = body(io);
        work.reset();
        thread.join();
        ::_exit(code);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child ? status : -1;
}

bool skipped(int status) { return WIFEXITED(status) && WEXITSTATUS(status) == 77; }

#if defined(__x86_64__)
// Makes this process's kernel act as a system whose IPv6 sockets stay
// IPv6-only and which cannot make IPv4 sockets: setsockopt(IPV6_V6ONLY)
// and socket(AF_INET) fail. False when the filter cannot be installed.
bool refuseDualStackAndIPv4()
{
    using F = sock_filter;
    const auto load = [](std::uint32_t offset) { return F BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offset); };
    const auto jumpIf = [](std::uint32_t value, std::uint8_t yes, std::uint8_t no) {
        return F BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, value, yes, no);
    };
    const auto answer = [](std::uint32_t action) { return F BPF_STMT(BPF_RET | BPF_K, action); };
    F program[] = {
        load(offsetof(seccomp_data, arch)), jumpIf(AUDIT_ARCH_X86_64, 1, 0), answer(SECCOMP_RET_ALLOW),
        load(offsetof(seccomp_data, nr)), jumpIf(__NR_socket, 0, 3),                            // 3, 4
        load(offsetof(seccomp_data, args[0])), jumpIf(AF_INET, 8, 0), answer(SECCOMP_RET_ALLOW), // 5 - 7
        jumpIf(__NR_setsockopt, 0, 5), load(offsetof(seccomp_data, args[2])), jumpIf(IPV6_V6ONLY, 0, 3), // 8 - 10
        load(offsetof(seccomp_data, args[1])), jumpIf(IPPROTO_IPV6, 0, 1),                        // 11, 12
        answer(SECCOMP_RET_ERRNO | ENOPROTOOPT), answer(SECCOMP_RET_ALLOW), answer(SECCOMP_RET_ERRNO | EAFNOSUPPORT),
    };
    const sock_fprog filter {static_cast<unsigned short>(std::size(program)), program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// With IPv6 listening IPv6-only and IPv4 refused, start() must not report a
// server that most phones could not reach.
TEST(ServerStart, FailsAndSaysWhyWhenIPv4CannotListen)
{
    test::TemporaryDirectory folder;
    const int status = statusOfChild(refuseDualStackAndIPv4, [&](asio::io_context& io) {
        try {
            Server(io, 0, StaticFiles(folder.path()), [](const IPAddress&, std::uint32_t) { return true; }).start();
            return 1; // started on IPv6 alone
        } catch (const ServerError& error) {
            if (error.description().starts_with("cannot listen on IPv4: "))
                return 0;
            std::fprintf(stderr, "start failed with: %s\n", error.what());
            return 2;
        }
    });
    if (skipped(status))
        GTEST_SKIP() << "cannot install a seccomp filter here";
    EXPECT_EQ(status, 0) << "status 256: started on IPv6 alone; 512: failed for another reason";
}
#endif

// The phone in a network namespace of its own reaches the server's over two
// links with the same IPv6 link-local addresses at both ends: eth7, named as
// a wired LAN interface, and veth7, named as a container's link. Only the
// link it came in on tells them apart.
TEST(ServerPolicy, LinkLocalPeersComeInOnlyOverTheLocalNetworksLinks)
{
    test::TemporaryDirectory folder;
    test::writeFile(folder.path() / "index.html", "<html>ferlow</html>");
    int server = -1, phone = -1;
    const auto link = [&] {
        server = ::unshare(CLONE_NEWNET) == 0 ? ::open("/proc/self/ns/net", O_RDONLY) : -1;
        phone = server >= 0 && ::unshare(CLONE_NEWNET) == 0 ? ::open("/proc/self/ns/net", O_RDONLY) : -1;
        const auto inPhone = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(phone);
        const auto links = "ip link set lo up && ip link add eth7 type veth peer name p7 netns " + inPhone
            + " && ip link add veth7 type veth peer name q7 netns " + inPhone
            + " && ip addr add fe80::1/64 dev eth7 nodad && ip addr add fe80::1/64 dev veth7 nodad"
              " && ip link set eth7 up && ip link set veth7 up && nsenter --net=" + inPhone
            + " sh -c 'ip addr add fe80::2/64 dev p7 nodad && ip addr add fe80::2/64 dev q7 nodad"
              " && ip link set p7 up && ip link set q7 up' >/dev/null 2>&1";
        return phone >= 0 && ::setns(server, CLONE_NEWNET) == 0 && std::system(links.c_str()) == 0;
    };
    const int status = statusOfChild(link, [&](asio::io_context& io) {
        Server listener(io, 0, StaticFiles(folder.path()), LocalNetworkPolicy::admits);
        listener.start();
        const auto answered = [&](const char* address) {
            ::setns(phone, CLONE_NEWNET);
            TestClient client(listener.boundPort().value_or(0), address);
            ::setns(server, CLONE_NEWNET);
            client.send("GET / HTTP/1.1\r\n\r\n");
            return !client.read().empty(); // a refused peer is closed without a byte
        };
        return (answered("fe80::1%p7") ? 0 : 1) | (answered("fe80::1%q7") ? 2 : 0);
    });
    if (skipped(status))
        GTEST_SKIP() << "cannot make network namespaces and links here (root, ip and nsenter are needed)";
    EXPECT_EQ(status, 0) << "status 256: refused over eth7; 512: admitted over veth7";
}

} // namespace
} // namespace ferlow
