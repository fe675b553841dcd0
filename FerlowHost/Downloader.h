#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// HTTP GETs of small documents over libcurl, each on a worker thread that the
// downloader owns. download() is called from the owner's context only; the
// completion runs on the worker thread. Destroying the downloader cancels the
// transfers still running and joins their threads, so no worker outlives it
// and none is still inside libcurl or OpenSSL when the process exits.
class Downloader final {
public:
    using Completion = std::function<void(std::optional<Bytes>)>;

    struct Limits {
        std::chrono::milliseconds timeout{15000}; // for the whole transfer
        std::size_t maxBody = 64 * 1024;          // a longer body counts as no answer
    };

    // Transfers running at once; a further download() gets no answer at once.
    static constexpr std::size_t maxTransfers = 4;
    // Redirects followed for one GET; one more counts as no answer.
    static constexpr int maxRedirects = 5;

    Downloader();
    explicit Downloader(Limits limits);
    ~Downloader() noexcept;

    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    // Starts one GET and returns at once. The completion is called exactly
    // once, with the body of a status 200 answer or with nothing.
    void download(std::string url, Completion completion);

    // One blocking GET with the User-Agent "Ferlow", http and https only, no
    // conditional request. Follows up to maxRedirects redirects (301, 302,
    // 303, 307, 308) where mayFollow allows. Returns the body of a status 200
    // answer; nothing on a network error, any other status, a body longer
    // than limits.maxBody, a transfer (redirects included) longer than
    // limits.timeout, or once `stop` is requested.
    static std::optional<Bytes> get(const std::string& url, const Limits& limits, std::stop_token stop = {});

    // Whether a redirect from `from` to `to` may be followed: only to http or
    // https, and never from https down to http.
    static bool mayFollow(std::string_view from, std::string_view to);

private:
    struct Worker {
        std::jthread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };

    void reapFinished();

    Limits m_limits;
    std::vector<Worker> m_workers;
};

} // namespace ferlow
