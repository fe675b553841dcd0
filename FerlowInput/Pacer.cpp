#include "FerlowInput/Pacer.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace ferlow {

Pacer::Pacer(double minBuffer, double maxBuffer, double catchUpSpacing, std::size_t window)
    : m_minBuffer(minBuffer)
    , m_maxBuffer(maxBuffer)
    , m_catchUpSpacing(catchUpSpacing)
    , m_window(std::max<std::size_t>(window, 1))
    , m_ring(m_window)
    , m_currentBuffer(minBuffer)
{
    m_sorted.reserve(m_window);
}

namespace {

// Phone stamps are milliseconds since some recent origin (page load or the
// epoch). Far beyond that, a stamp carries no timing information, and the
// rounding of `arrival - stamp` alone could push a play time hours ahead and
// stall the session; such a sample counts as unstamped.
bool usableStamp(double phoneMs) { return std::abs(phoneMs) <= Pacer::maxStampMagnitude; }

} // namespace

void Pacer::observe(double phoneMs, double arrival)
{
    if (!usableStamp(phoneMs))
        return;
    const double offset = arrival * 1000 - phoneMs;

    if (m_count == m_window) {
        const double oldest = m_ring[m_head];
        const auto it = std::lower_bound(m_sorted.begin(), m_sorted.end(), oldest);
        assert(it != m_sorted.end() && *it == oldest);
        m_sorted.erase(it);
        m_ring[m_head] = offset;
        m_head = (m_head + 1) % m_window;
    } else {
        m_ring[(m_head + m_count) % m_window] = offset;
        ++m_count;
    }
    m_sorted.insert(std::upper_bound(m_sorted.begin(), m_sorted.end(), offset), offset);

    // Subtracting the same minimum keeps the order, so the 75th percentile
    // of the extra delays is the 75th percentile of the offsets minus it.
    const double fastest = m_sorted.front();
    const std::size_t index = (m_sorted.size() - 1) * 3 / 4;
    const double extra = (m_sorted[index] - fastest) / 1000;
    m_currentBuffer = std::min(std::max(extra, m_minBuffer), m_maxBuffer);
}

double Pacer::playTime(std::optional<double> phoneMs, double arrival)
{
    double target = arrival;
    double floor = m_lastPlay;
    if (phoneMs && usableStamp(*phoneMs)) {
        observe(*phoneMs, arrival);
        // When this sample would have arrived with the least delay seen.
        target = (m_sorted.front() + *phoneMs) / 1000 + m_currentBuffer;
        floor = m_lastPlay + m_catchUpSpacing;
    }
    const double play = std::max({target, arrival, floor});
    m_lastPlay = play;
    return play;
}

void Pacer::reserve(double until) { m_lastPlay = std::max(m_lastPlay, until); }

void Pacer::rewind(double to) { m_lastPlay = std::min(m_lastPlay, to); }

void Pacer::reset()
{
    m_sorted.clear();
    m_head = 0;
    m_count = 0;
    m_lastPlay = -std::numeric_limits<double>::infinity();
    m_currentBuffer = m_minBuffer;
}

} // namespace ferlow
