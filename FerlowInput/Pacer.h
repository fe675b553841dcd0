#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <vector>

namespace ferlow {

// A small adaptive jitter buffer. For each stamped sample from the phone it
// picks a play time on the local clock a little after the earliest moment
// the sample could have arrived, so samples replay with the spacing the
// phone gave them. The depth follows the 75th percentile of the recent extra
// delays (over the fastest sample of the last `window`), bounded to
// [minBuffer, maxBuffer]; play times never run backwards, are never before
// the arrival, and stamped ones are at least `catchUpSpacing` apart, so a
// burst after a stall drains at that pace.
//
// Cheap per sample: the offsets live in a fixed ring, mirrored in an array
// kept sorted, both allocated once; a sample costs two binary searches and
// two short moves. Not thread-safe.
class Pacer final {
public:
    // Times are seconds on the local monotonic clock; phone stamps are
    // milliseconds on the phone's clock, only ever compared with each other.
    // Stamps beyond this many milliseconds either way (about 31,000 years)
    // are treated as absent.
    static constexpr double maxStampMagnitude = 1e15;

    Pacer(double minBuffer, double maxBuffer, double catchUpSpacing, std::size_t window);

    // Records one clock sample (a stamped message or a ping).
    void observe(double phoneMs, double arrival);

    // The play time for a message that arrived at `arrival`. Unstamped
    // messages play on arrival, but never before anything already handed out.
    double playTime(std::optional<double> phoneMs, double arrival);

    // Moves the last play time forward to at least `until`, so the next
    // stamped sample is spaced from a message scheduled there.
    void reserve(double until);
    // Moves the last play time back to `to` (never forward), once the owner
    // has played or re-timed what it had scheduled beyond it.
    void rewind(double to);

    void reset();

    double currentBuffer() const { return m_currentBuffer; }
    std::size_t sampleCount() const { return m_count; }

private:
    double m_minBuffer;
    double m_maxBuffer;
    double m_catchUpSpacing;
    std::size_t m_window;
    std::vector<double> m_ring;   // the last `window` offsets (ms), oldest at m_head
    std::vector<double> m_sorted; // the same values, ascending
    std::size_t m_head = 0;
    std::size_t m_count = 0;
    double m_lastPlay = -std::numeric_limits<double>::infinity();
    double m_currentBuffer;
};

} // namespace ferlow
