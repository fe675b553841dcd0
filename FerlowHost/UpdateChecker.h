#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "FerlowCore/ReleaseInfo.h"
#include "FerlowCore/UpdateStatus.h"
#include "FerlowHost/Downloader.h"

namespace ferlow {

class SettingsStore;

// Fetches the release document, keeps the last good copy in the settings
// (key "release", the document's text as a JSON string) so the status is
// known offline at the next start, and tells the owner about every good
// document and every change of status.
//
// The checker belongs to one context, the owner's (the main context): its
// constructor, check(), the accessors and both callbacks run there. A fetch
// completes on whatever thread it likes; its result is handed to `post`,
// which must queue the task on the owner's context without waiting for it.
// A result that arrives after the checker is gone is dropped.
class UpdateChecker final {
public:
    using Completion = Downloader::Completion;
    using Fetch = std::function<void(const std::string& url, Completion completion)>;
    using Post = std::function<void(std::function<void()> task)>;

    static constexpr std::string_view defaultURL = "https://ferlow.app/version.json";
    static constexpr std::string_view downloadURL = "https://ferlow.app/download/latest";
    static constexpr std::string_view alphaNote =
        "Ferlow is in alpha and provided as is. Features, pricing or availability may change, "
        "and an update may be needed to keep using it.";
    static constexpr std::string_view cacheKey = "release";

    // Restores `release` and `status` from the cache; calls no callback and
    // fetches nothing. Without `fetch`, documents are downloaded over HTTP by
    // a Downloader that the checker owns and joins when it is destroyed.
    UpdateChecker(std::string current, std::string url, SettingsStore& defaults, Post post, Fetch fetch = {});
    ~UpdateChecker() noexcept;

    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    // Starts one fetch and returns at once. Checks may overlap; each result
    // is applied when it arrives. Failures change nothing and call nothing.
    void check();

    const std::string& current() const { return m_current; }
    const std::string& url() const { return m_url; }
    // upToDate until a document says otherwise; a failure never resets it.
    const UpdateStatus& status() const { return m_status; }
    const std::optional<ReleaseInfo>& release() const { return m_release; }

    std::function<void(const UpdateStatus&)> onChange; // the status changed
    std::function<void(const ReleaseInfo&)> onRelease; // every good document, changed or not

private:
    void restore();
    void apply(const Bytes& document);

    std::string m_current;
    std::string m_url;
    SettingsStore& m_defaults;
    Post m_post;
    std::unique_ptr<Downloader> m_downloader; // only for the default fetch
    Fetch m_fetch;
    UpdateStatus m_status;
    std::optional<ReleaseInfo> m_release;
    // Pending results hold this weakly; both the results and the destructor
    // run on the owner's context, so a result either finds the checker whole
    // or finds it gone.
    std::shared_ptr<UpdateChecker*> m_alive;
};

} // namespace ferlow
