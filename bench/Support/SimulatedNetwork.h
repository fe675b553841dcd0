#pragma once

// A phone's stream of stamped samples as the network delivers it, for the
// smoothness figures: the phone samples a finger at `rate` Hz and stamps
// each sample; the network delays each by 10 ms + |N(0, jitter)|, one in 200
// by a further 50 ms stall, and delivers in order (TCP). Fixed seed.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <random>
#include <vector>

namespace ferlow::bench {

struct Stream {
    std::vector<double> stamps;   // ms, phone clock
    std::vector<double> arrivals; // s, local clock
};

inline constexpr std::size_t streamLength = 10000;

inline Stream makeStream(double rate, double jitterMs = 8)
{
    std::mt19937_64 random(2024);
    std::normal_distribution<double> jitter(0, jitterMs);
    std::uniform_int_distribution<int> stall(0, 199);
    Stream s;
    double arrival = 0;
    for (std::size_t i = 0; i < streamLength; ++i) {
        const double sent = static_cast<double>(i) / rate;
        double delayMs = 10 + std::abs(jitter(random));
        if (stall(random) == 0)
            delayMs += 50;
        arrival = std::max(arrival, 5 + sent + delayMs / 1000);
        s.stamps.push_back(1e6 + sent * 1000);
        s.arrivals.push_back(arrival);
    }
    return s;
}

// The standard deviation of the gaps between consecutive times, in ms.
inline double spacingDeviationMs(const std::vector<double>& times)
{
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i)
        gaps.push_back((times[i] - times[i - 1]) * 1000);
    const double mean = std::accumulate(gaps.begin(), gaps.end(), 0.0) / static_cast<double>(gaps.size());
    double sum = 0;
    for (double g : gaps)
        sum += (g - mean) * (g - mean);
    return std::sqrt(sum / static_cast<double>(gaps.size()));
}

inline double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

} // namespace ferlow::bench
