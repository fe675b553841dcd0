#include "FerlowHost/UpdateChecker.h"

#include <cassert>

#include <nlohmann/json.hpp>

#include "FerlowHost/SettingsStore.h"

namespace ferlow {

UpdateChecker::UpdateChecker(std::string current, std::string url, SettingsStore& defaults, Post post, Fetch fetch)
    : m_current(std::move(current))
    , m_url(std::move(url))
    , m_defaults(defaults)
    , m_post(std::move(post))
    , m_fetch(std::move(fetch))
    , m_alive(std::make_shared<UpdateChecker*>(this))
{
    assert(m_post);
    if (!m_fetch) {
        m_downloader = std::make_unique<Downloader>();
        m_fetch = [downloader = m_downloader.get()](const std::string& address, Completion completion) {
            downloader->download(address, std::move(completion));
        };
    }
    restore();
}

UpdateChecker::~UpdateChecker() noexcept = default;

void UpdateChecker::restore()
{
    const auto cached = m_defaults.get(cacheKey);
    if (!cached || !cached->is_string())
        return;
    try {
        auto release = ReleaseInfo::decode(asBytes(cached->get_ref<const std::string&>()));
        m_status = release.status(m_current);
        m_release = std::move(release);
    } catch (const std::exception&) {
        // A cache this version cannot read is ignored; the next good
        // document replaces it.
    }
}

void UpdateChecker::check()
{
    std::weak_ptr<UpdateChecker*> alive = m_alive;
    m_fetch(m_url, [alive, post = m_post](std::optional<Bytes> document) {
        // Every result crosses to the owner's context, an empty one too, so
        // the owner sees exactly one task per check.
        post([alive, document = std::move(document)] {
            const auto self = alive.lock();
            if (self && document)
                (*self)->apply(*document);
        });
    });
}

void UpdateChecker::apply(const Bytes& document)
{
    ReleaseInfo release;
    try {
        release = ReleaseInfo::decode(ByteView(document));
    } catch (const std::exception&) {
        return; // the cache keeps the previous good document
    }
    // The text parsed as JSON, so it is valid UTF-8 and may be stored as a
    // JSON string as it stands.
    m_defaults.set(cacheKey, std::string(asText(document)));
    m_release = release;
    if (onRelease)
        onRelease(release);

    const UpdateStatus status = release.status(m_current);
    if (status == m_status)
        return;
    m_status = status;
    if (onChange)
        onChange(status);
}

} // namespace ferlow
