#include "FerlowHost/UpdateChecker.h"

#include <deque>

#include <asio.hpp>
#include <gtest/gtest.h>

#include "FerlowHost/MemorySettingsStore.h"

namespace ferlow {
namespace {

using namespace std::chrono_literals;
using asio::ip::tcp;

// For the running version 1.3.0 the first means required, the second available.
const std::string requiredDocument = R"({"latest":"2.0.0","minimum":"1.4.0"})";
const std::string availableDocument = R"({"latest":"1.5.0","minimum":"1.2.0","notes":"Faster."})";

// An answer declaring the body's length, unless `headers` replaces that line.
std::string reply(int status, const std::string& body, std::optional<std::string> headers = {})
{
    return "HTTP/1.1 " + std::to_string(status) + " Canned\r\nConnection: close\r\n"
        + headers.value_or("Content-Length: " + std::to_string(body.size()) + "\r\n") + "\r\n" + body;
}

// A loopback HTTP server on its own thread. A proper request for the document
// (a plain GET, User-Agent "Ferlow", nothing conditional) gets `response`;
// any other request a 400. Without a response, nothing is ever answered.
class LocalHTTPServer final {
public:
    explicit LocalHTTPServer(std::optional<std::string> response) : m_response(std::move(response))
    {
        accept();
        m_thread = std::thread([this] { m_io.run(); });
    }
    ~LocalHTTPServer() noexcept
    {
        m_io.stop();
        m_thread.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_acceptor.local_endpoint().port()) + "/version.json"; }

private:
    struct Connection {
        tcp::socket socket;
        asio::streambuf head {16384};
        std::string response;
    };
    void accept()
    {
        m_acceptor.async_accept([this](std::error_code error, tcp::socket socket) {
            auto c = m_held.emplace_back(std::make_shared<Connection>(std::move(socket)));
            asio::async_read_until(c->socket, c->head, "\r\n\r\n", [this, c](std::error_code failed, std::size_t) {
                const std::string head(asio::buffers_begin(c->head.data()), asio::buffers_end(c->head.data()));
                const bool proper = head.starts_with("GET /version.json HTTP/1.1\r\n")
                    && head.find("\r\nUser-Agent: Ferlow\r\n") != head.npos && head.find("\r\nIf-") == head.npos;
                c->response = proper ? m_response.value_or("") : reply(400, "");
                if (!failed && m_response)
                    asio::async_write(c->socket, asio::buffer(c->response), [c](std::error_code, std::size_t) { c->socket.close(); });
            });
            if (!error)
                accept();
        });
    }

    asio::io_context m_io;
    tcp::acceptor m_acceptor {m_io, {asio::ip::address_v4::loopback(), 0}};
    std::optional<std::string> m_response;
    std::vector<std::shared_ptr<Connection>> m_held;
    std::thread m_thread;
};

class UpdateCheckerTest : public testing::Test {
protected:
    // The app's main context: posted results run only when runOne() lets them.
    bool runOne() { return m_main.run_one_for(10s) == 1; }

    std::unique_ptr<UpdateChecker> makeChecker(std::string url, UpdateChecker::Fetch fetch = {})
    {
        auto checker = std::make_unique<UpdateChecker>("1.3.0", std::move(url), defaults,
            [this](std::function<void()> task) { asio::post(m_main, std::move(task)); }, std::move(fetch));
        checker->onRelease = [this](const ReleaseInfo&) { ++releases; };
        checker->onChange = [this](const UpdateStatus& status) { changes.push_back(status); };
        return checker;
    }
    std::string cached() const { return defaults.get("release").value_or("").get<std::string>(); }

    asio::io_context m_main;
    asio::executor_work_guard<asio::io_context::executor_type> m_work = asio::make_work_guard(m_main);
    MemorySettingsStore defaults;
    int releases = 0;
    std::vector<UpdateStatus> changes;
};

TEST_F(UpdateCheckerTest, OnlyAWholeGoodDocumentInAStatus200AnswerIsAppliedAndCached)
{
    // An available-1.5.0 document exactly `size` bytes long.
    const auto ofSize = [](std::size_t size) {
        const std::string start = R"({"latest":"1.5.0","minimum":"1.2.0","notes":")";
        return start + std::string(size - start.size() - 2, 'x') + "\"}";
    };
    const std::string good = availableDocument, atBound = ofSize(Downloader::Limits {}.maxBody), over = ofSize(Downloader::Limits {}.maxBody + 1);
    const auto redirect = [](int status, const std::string& to) { return reply(status, "", "Location: " + to + "\r\n"); };
    std::deque<LocalHTTPServer> chain; // chain[i] is 6 - i redirects away from the document
    chain.emplace_front(reply(200, good));
    while (chain.size() < 7)
        chain.emplace_front(redirect(307, chain.front().url()));
    const std::pair<std::string, std::optional<std::string>> cases[] = { // the answer, what it applies
        {reply(200, good), good},
        {reply(404, good), {}},
        {redirect(301, chain.back().url()), good},
        {redirect(302, chain[2].url()), good}, // the fifth redirect
        {redirect(302, chain[1].url()), {}},   // the sixth, as a redirect loop would come to
        {reply(200, R"({"latest":"1.5.0"})"), {}},
        {reply(200, atBound), atBound},
        {reply(200, atBound, ""), atBound}, // no length: the body ends with the connection
        {reply(200, over), {}},
        {reply(200, over, ""), {}},
    };
    for (const auto& [response, applied] : cases) {
        SCOPED_TRACE(response.substr(0, 100));
        releases = 0;
        changes.clear();
        defaults.set("release", requiredDocument);
        LocalHTTPServer server(response);
        auto checker = makeChecker(server.url());
        checker->check();
        ASSERT_TRUE(runOne());
        EXPECT_EQ(checker->release(), ReleaseInfo::decode(asBytes(applied.value_or(requiredDocument))));
        EXPECT_EQ(cached(), applied.value_or(requiredDocument));
        EXPECT_EQ(checker->status(), applied ? UpdateStatus::available("1.5.0") : UpdateStatus::required("2.0.0"));
        EXPECT_EQ(std::pair(releases, changes.size()), applied ? std::pair(1, 1ul) : std::pair(0, 0ul));
    }
}

TEST_F(UpdateCheckerTest, StartsFromAUsableCacheWithoutFetching)
{
    const auto never = [](const std::string&, UpdateChecker::Completion) { ADD_FAILURE() << "fetched"; };
    const nlohmann::json cachedValues[] = {requiredDocument, nlohmann::json::parse(requiredDocument), R"({"latest":"2.0.0"})", "{", 7};
    for (const auto& value : cachedValues) {
        defaults.set("release", value);
        const auto checker = makeChecker("unused", never);
        const bool usable = value == requiredDocument;
        EXPECT_EQ(checker->status(), usable ? UpdateStatus::required("2.0.0") : UpdateStatus::upToDate()) << value.dump();
        EXPECT_EQ(checker->release().has_value(), usable) << value.dump();
    }
    EXPECT_EQ(releases + changes.size(), 0u);
}

TEST_F(UpdateCheckerTest, ResultsApplyOnlyOnTheOwnersContextAndOnlyWhileTheCheckerLives)
{
    std::vector<UpdateChecker::Completion> pending;
    auto checker = makeChecker("stub", [&pending](const std::string&, UpdateChecker::Completion completion) {
        pending.push_back(std::move(completion));
    });
    for (int i = 0; i < 3; ++i)
        checker->check();
    std::thread([&pending] { pending[0](toBytes(availableDocument)), pending[1](toBytes(availableDocument)); }).join();
    EXPECT_EQ(checker->status(), UpdateStatus::upToDate());
    EXPECT_FALSE(checker->release() || defaults.get("release"));

    ASSERT_TRUE(runOne() && runOne());
    EXPECT_EQ(releases, 2); // the same document twice: announced twice, changed once
    EXPECT_EQ(changes, std::vector {UpdateStatus::available("1.5.0")});

    checker.reset();
    pending[2](toBytes(requiredDocument));
    ASSERT_TRUE(runOne());
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(cached(), availableDocument);
}

TEST(DownloaderTest, NeverFollowsARedirectDownFromHttpsToHttp)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"http://a/version.json", "https://b/version.json", true},
        {"https://a/version.json", "https://b/version.json", true},
        {"http://a/version.json", "http://b/version.json", true},
        {"https://a/version.json", "http://b/version.json", false},
        {"HTTPS://a/version.json", "Http://b/version.json", false},
        {"http://a/version.json", "ftp://b/version.json", false},
        {"http://a/version.json", "file:///etc/passwd", false},
    };
    for (const auto& [from, to, followed] : cases)
        EXPECT_EQ(Downloader::mayFollow(from, to), followed) << from << " -> " << to;
}

TEST(DownloaderTest, GivesUpOnSilentServersAndSurplusTransfersAndAnswersTheRestWhenDestroyed)
{
    LocalHTTPServer silent(std::nullopt);
    EXPECT_FALSE(Downloader::get(silent.url(), {300ms}));
    std::atomic<std::size_t> answers = 0, bodies = 0;
    {
        Downloader downloader;
        for (std::size_t i = 0; i <= Downloader::maxTransfers; ++i)
            downloader.download(silent.url(), [&](std::optional<Bytes> body) { bodies += body ? 1 : 0, ++answers; });
        EXPECT_EQ(answers, 1u); // the one over the cap, at once
    }
    EXPECT_EQ(answers, Downloader::maxTransfers + 1);
    EXPECT_EQ(bodies, 0u);
}

} // namespace
} // namespace ferlow
