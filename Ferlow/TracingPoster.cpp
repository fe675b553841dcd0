#include "Ferlow/TracingPoster.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FerlowCore/UTF8.h"

namespace ferlow {

namespace {

// printf-style append; a line can be long when a delta is huge ("%.0f" of
// 1e300 has 301 digits), so the buffer grows to what the format needs.
[[gnu::format(printf, 2, 3)]] void appendf(std::string& out, const char* format, ...)
{
    char small[128];
    va_list args;
    va_start(args, format);
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0)
        return;
    if (static_cast<std::size_t>(needed) < sizeof small) {
        out.append(small, static_cast<std::size_t>(needed));
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(needed) + 1);
    va_start(args, format);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(needed) + 1, format, args);
    va_end(args);
    out.resize(at + static_cast<std::size_t>(needed));
}

} // namespace

double TracingPoster::steadyClock()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<TracingPoster> TracingPoster::make(
    std::shared_ptr<EventPoster> inner, const std::filesystem::path& path, Clock clock)
{
    // Replace whatever is there (a symbolic link included) by a new private
    // file rather than writing through it.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return nullptr;
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (handle < 0)
        return nullptr;
    // The umask may only narrow 0600, but say it exactly.
    ::fchmod(handle, 0600);
    return std::unique_ptr<TracingPoster>(new TracingPoster(std::move(inner), handle, std::move(clock)));
}

TracingPoster::TracingPoster(std::shared_ptr<EventPoster> inner, int handle, Clock clock)
    : m_inner(std::move(inner))
    , m_handle(handle)
    , m_clock(std::move(clock))
    , m_start(m_clock())
{
}

TracingPoster::~TracingPoster() noexcept { ::close(m_handle); }

void TracingPoster::post(const std::vector<EventSpec>& specs)
{
    const double ms = (m_clock() - m_start) * 1000;
    if (!specs.empty()) {
        m_buffer.clear();
        for (const auto& spec : specs) {
            if (const auto* m = spec.as<EventSpec::Mouse>())
                appendf(m_buffer, "%.2f mouse %d %.0f %.0f\n", ms, m->type, m->delta.dx, m->delta.dy);
            else if (const auto* s = spec.as<EventSpec::Scroll>())
                appendf(m_buffer, "%.2f scroll %d %d %lld %lld\n", ms, s->dx, s->dy, static_cast<long long>(s->phase),
                    static_cast<long long>(s->momentum));
            else if (const auto* t = spec.as<EventSpec::Text>()) // how much, never what
                appendf(m_buffer, "%.2f text %u %zu %u\n", ms, t->deletions, UTF8::codePoints(t->text).size(),
                    unsigned(t->then));
            else
                appendf(m_buffer, "%.2f other\n", ms);
        }
        // One write per post, unbuffered, so a reader sees whole posts while
        // the program runs. A failed write only loses trace lines.
        std::size_t done = 0;
        while (done < m_buffer.size()) {
            const ssize_t n = ::write(m_handle, m_buffer.data() + done, m_buffer.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    }
    m_inner->post(specs);
}

} // namespace ferlow
