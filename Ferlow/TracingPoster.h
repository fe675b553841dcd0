#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "FerlowInput/EventPoster.h"

namespace ferlow {

// A development aid: writes one line per posted event to a trace file, then
// forwards the list to the real poster. Lines read "<ms> mouse <type> <dx>
// <dy>", "<ms> scroll <dx> <dy> <phase> <momentum>", "<ms> text <deletions>
// <characters> <key after>" (how much was typed, never what) or "<ms>
// other", where <ms> is the time since the poster was made, the same for
// all lines of one post. Used on the I/O thread only.
class TracingPoster final : public EventPoster {
public:
    using Clock = std::function<double()>; // monotonic seconds

    // Creates the trace file at `path` afresh (any file there is replaced),
    // mode 0600. Returns nothing when it cannot be created; the caller then
    // posts through `inner` alone.
    static std::unique_ptr<TracingPoster> make(
        std::shared_ptr<EventPoster> inner, const std::filesystem::path& path, Clock clock = steadyClock);

    ~TracingPoster() noexcept override;
    TracingPoster(const TracingPoster&) = delete;
    TracingPoster& operator=(const TracingPoster&) = delete;

    void post(const std::vector<EventSpec>& specs) override;

    static double steadyClock();

private:
    TracingPoster(std::shared_ptr<EventPoster> inner, int handle, Clock clock);

    std::shared_ptr<EventPoster> m_inner;
    int m_handle;
    Clock m_clock;
    double m_start;
    std::string m_buffer; // reused for the lines of one post
};

} // namespace ferlow
