#include "FerlowHost/Downloader.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <system_error>

#include <curl/curl.h>

namespace ferlow {

namespace {

// libcurl must be set up once before any transfer and before a second thread
// uses it; it is never torn down, because a worker may still be finishing.
bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct Transfer {
    Bytes body;
    std::size_t maxBody = 0;
    std::stop_token stop;
};

std::size_t receive(char* data, std::size_t size, std::size_t count, void* context)
{
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    // Returning less than was offered makes libcurl abort the transfer.
    if (length > transfer.maxBody - transfer.body.size())
        return 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    transfer.body.insert(transfer.body.end(), bytes, bytes + length);
    return length;
}

// libcurl calls this at least about once a second, also while it waits for
// the server, which bounds how long a cancelled transfer keeps running.
int progress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<Transfer*>(context)->stop.stop_requested() ? 1 : 0;
}

bool hasScheme(std::string_view url, std::string_view scheme)
{
    if (url.size() <= scheme.size() || url[scheme.size()] != ':')
        return false;
    return std::equal(scheme.begin(), scheme.end(), url.begin(),
        [](char a, char b) { return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b))); });
}

bool isRedirect(long status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

} // namespace

Downloader::Downloader()
    : Downloader(Limits{})
{
}

Downloader::Downloader(Limits limits)
    : m_limits(limits)
{
    curlReady();
}

Downloader::~Downloader() noexcept
{
    for (auto& worker : m_workers)
        worker.thread.request_stop();
    m_workers.clear(); // joins
}

void Downloader::reapFinished()
{
    std::erase_if(m_workers, [](const Worker& worker) { return worker.finished->load(std::memory_order_acquire); });
}

void Downloader::download(std::string url, Completion completion)
{
    reapFinished();
    if (m_workers.size() >= maxTransfers) {
        completion(std::nullopt);
        return;
    }
    auto finished = std::make_shared<std::atomic<bool>>(false);
    try {
        std::jthread thread([url = std::move(url), completion, limits = m_limits, finished](std::stop_token stop) {
            try {
                completion(get(url, limits, stop));
            } catch (...) {
                // Nothing may escape a worker thread; a completion that
                // failed has nobody left to tell.
            }
            finished->store(true, std::memory_order_release);
        });
        m_workers.push_back({std::move(thread), std::move(finished)});
    } catch (const std::system_error&) {
        completion(std::nullopt); // no thread to be had: as if offline
    }
}

std::optional<Bytes> Downloader::get(const std::string& url, const Limits& limits, std::stop_token stop)
{
    if (!curlReady())
        return std::nullopt;
    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), curl_easy_cleanup);
    if (!handle)
        return std::nullopt;
    CURL* curl = handle.get();

    Transfer transfer;
    transfer.maxBody = limits.maxBody;
    transfer.stop = std::move(stop);
    const auto maxBody = static_cast<curl_off_t>(std::min<std::size_t>(
        limits.maxBody, static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max())));

    const bool configured =
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_USERAGENT, "Ferlow") == CURLE_OK
        // Redirects are followed here, one by one, so that each is checked.
        && curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK
        // Timeouts without SIGALRM: signals and worker threads do not mix.
        && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        // Refuses a declared length over the limit before any byte arrives;
        // receive() enforces it when no length is declared.
        && curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, maxBody) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, receive) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progress) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer) == CURLE_OK
        && curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (!configured)
        return std::nullopt;

    // One time limit for the whole chain of redirects.
    const auto deadline = std::chrono::steady_clock::now() + limits.timeout;
    std::string current = url;
    for (int redirects = 0;; ++redirects) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        const auto timeout = static_cast<long>(std::min<std::chrono::milliseconds::rep>(
            left.count(), std::numeric_limits<long>::max()));
        transfer.body.clear();
        if (curl_easy_setopt(curl, CURLOPT_URL, current.c_str()) != CURLE_OK
            || curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeout) != CURLE_OK
            || curl_easy_perform(curl) != CURLE_OK)
            return std::nullopt;
        long status = 0;
        if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK)
            return std::nullopt;
        if (status == 200)
            return std::move(transfer.body);
        char* location = nullptr;
        if (!isRedirect(status) || redirects == maxRedirects
            || curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || !location
            || !mayFollow(current, location))
            return std::nullopt;
        current = location;
    }
}

bool Downloader::mayFollow(std::string_view from, std::string_view to)
{
    if (hasScheme(to, "https"))
        return true;
    return hasScheme(to, "http") && !hasScheme(from, "https");
}

} // namespace ferlow
