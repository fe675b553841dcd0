#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <thread>

#include <asio/executor_work_guard.hpp>

#include "FerlowServer/HTTPRequest.h"
#include "FerlowServer/Server.h"
#include "FerlowServer/WebSocketFramer.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

// What a mobile browser sends for the pad's page.
const std::string browserHead = "GET /index.html?v=3 HTTP/1.1\r\n"
                                "Host: desk.local:7311\r\n"
                                "Connection: keep-alive\r\n"
                                "Upgrade-Insecure-Requests: 1\r\n"
                                "User-Agent: Mozilla/5.0 (iPhone; CPU iPhone OS 17_4 like Mac OS X) AppleWebKit/605.1.15 "
                                "(KHTML, like Gecko) Version/17.4 Mobile/15E148 Safari/604.1\r\n"
                                "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                                "Accept-Language: en-GB,en;q=0.9\r\n"
                                "Accept-Encoding: gzip, deflate\r\n\r\n";

void parseBrowserHead(benchmark::State& state)
{
    const Bytes head = toBytes(browserHead);
    for (auto _ : state) {
        Bytes buffer = head;
        benchmark::DoNotOptimize(HTTPRequest::parse(buffer));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(parseBrowserHead);

// A 16 KiB head arriving one byte per read, as a slow (or slowloris) peer
// sends it. Argument 0 searches the whole buffer again on every read, as a
// parser without memory would; 1 resumes where the last read stopped, as
// the server does.
void parseHeadByteByByte(benchmark::State& state)
{
    const bool resume = state.range(0) != 0;
    // 16 KiB with its blank line, so no read before the last one is over the limit.
    const std::string head = "GET / HTTP/1.1\r\nX-Pad: " + std::string(HTTPRequest::maxHead - 27, 'a') + "\r\n\r\n";
    for (auto _ : state) {
        Bytes buffer;
        buffer.reserve(head.size());
        std::size_t searched = 0;
        std::optional<HTTPRequest> request;
        for (const char byte : head) {
            buffer.push_back(static_cast<std::uint8_t>(byte));
            if (!resume)
                searched = 0;
            request = HTTPRequest::parse(buffer, searched);
        }
        benchmark::DoNotOptimize(request);
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(head.size()));
}
BENCHMARK(parseHeadByteByByte)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// 64-byte masked binary frames arriving in TCP-sized chunks.
void decodeMaskedFrames(benchmark::State& state)
{
    constexpr std::size_t frames = 1024;
    Bytes stream;
    for (std::size_t i = 0; i < frames; ++i) {
        const auto frame = test::maskedFrame(0x82, Bytes(64, static_cast<std::uint8_t>(i)));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    for (auto _ : state) {
        WebSocketFramer framer;
        std::size_t decoded = 0;
        for (std::size_t offset = 0; offset < stream.size(); offset += 1448) {
            framer.append(ByteView(stream).subspan(offset, std::min<std::size_t>(1448, stream.size() - offset)));
            while (auto frame = framer.nextFrame())
                ++decoded;
        }
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(frames));
}
BENCHMARK(decodeMaskedFrames);

double threadCPUSeconds(std::thread& thread)
{
    clockid_t clock {};
    timespec now {};
    pthread_getcpuclockid(thread.native_handle(), &clock);
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// Sealed-message-sized binary frames (60 bytes) from one client through the
// server to onMessage. Argument: frames per client write (1 = one segment each).
void loopbackMessages(benchmark::State& state)
{
    const auto perWrite = static_cast<std::size_t>(state.range(0));
    constexpr std::size_t batch = 1000;
    asio::io_context io;
    auto work = asio::make_work_guard(io);
    std::thread ioThread([&] { io.run(); });
    test::TemporaryDirectory folder;
    std::atomic<std::size_t> received {0};
    std::shared_ptr<SocketConnection> connection;
    {
        Server server(io, 0, StaticFiles(folder.path()), [](const IPAddress&, std::uint32_t) { return true; });
        server.setOnSocket([&](const std::shared_ptr<SocketConnection>& socket) {
            connection = socket;
            socket->onMessage = [&](const WSFrame&) { received.fetch_add(1, std::memory_order_relaxed); };
        });
        server.start();
        test::TestClient client(*server.boundPort());
        client.send(test::upgradeRequest(*server.boundPort()));
        client.read(129);

        Bytes write;
        for (std::size_t i = 0; i < perWrite; ++i) {
            const auto frame = test::maskedFrame(0x82, Bytes(60, 0x5A));
            write.insert(write.end(), frame.begin(), frame.end());
        }
        std::size_t sent = 0;
        const double cpuBefore = threadCPUSeconds(ioThread);
        for (auto _ : state) {
            for (std::size_t i = 0; i < batch / perWrite; ++i)
                client.send(write);
            sent += batch / perWrite * perWrite;
            while (received.load(std::memory_order_relaxed) < sent)
                std::this_thread::yield();
        }
        const double cpu = threadCPUSeconds(ioThread) - cpuBefore;
        state.SetItemsProcessed(std::int64_t(sent));
        state.counters["ioCPUnsPerMessage"] = cpu * 1e9 / double(sent);
        asio::post(io, [&] { connection.reset(); });
    }
    work.reset();
    io.stop();
    ioThread.join();
}
BENCHMARK(loopbackMessages)->Arg(1)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace ferlow
