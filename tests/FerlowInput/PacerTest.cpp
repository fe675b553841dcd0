#include "FerlowInput/Pacer.h"

#include <algorithm>
#include <deque>
#include <random>

#include <gtest/gtest.h>

namespace ferlow {
namespace {

Pacer sessionPacer() { return Pacer(0.006, 0.024, 0.004, 120); }

// The buffer computed the plain way: copy, subtract the minimum, sort.
struct ReferencePacer {
    std::size_t window;
    std::deque<double> offsets {};
    double lastPlay = -std::numeric_limits<double>::infinity();
    double currentBuffer = 0.006;

    void observe(double phoneMs, double arrival)
    {
        offsets.push_back(arrival * 1000 - phoneMs);
        while (offsets.size() > window)
            offsets.pop_front();
        const double m = *std::min_element(offsets.begin(), offsets.end());
        std::vector<double> extra;
        for (double o : offsets)
            extra.push_back(o - m);
        std::sort(extra.begin(), extra.end());
        const auto index = static_cast<std::size_t>(static_cast<double>(extra.size() - 1) * 0.75);
        currentBuffer = std::min(std::max(extra[index] / 1000, 0.006), 0.024);
    }
    double playTime(std::optional<double> phoneMs, double arrival)
    {
        double target = arrival, floor = lastPlay;
        if (phoneMs) {
            observe(*phoneMs, arrival);
            target = (*std::min_element(offsets.begin(), offsets.end()) + *phoneMs) / 1000 + currentBuffer;
            floor = lastPlay + 0.004;
        }
        return lastPlay = std::max({target, arrival, floor});
    }
};

TEST(PacerTest, BurstAfterAStallDrainsFourMillisecondsApartInOrder)
{
    auto pacer = sessionPacer();
    double last = 0;
    for (int i = 0; i < 20; ++i)
        last = pacer.playTime(i * 8.0, 1 + i * 0.008);
    const double arrival = 1.332; // ten samples held up by the network arrive together
    for (int i = 20; i < 30; ++i) {
        const double play = pacer.playTime(i * 8.0, arrival);
        EXPECT_NEAR(play, i == 20 ? arrival : last + 0.004, 1e-12) << "sample " << i;
        last = play;
    }
    // Unstamped messages never overtake what is scheduled; reserve only
    // pushes forward and rewind only back.
    pacer.reserve(last - 1);
    pacer.rewind(last + 1);
    EXPECT_EQ(pacer.playTime(std::nullopt, arrival), last);
    pacer.reserve(last + 0.5);
    EXPECT_EQ(pacer.playTime(std::nullopt, arrival), last + 0.5);
    pacer.rewind(arrival);
    EXPECT_EQ(pacer.playTime(std::nullopt, arrival), arrival);
    // Absurd stamps count as none: no sample taken.
    pacer.playTime(-1e300, arrival);
    EXPECT_EQ(pacer.playTime(std::numeric_limits<double>::quiet_NaN(), arrival + 2), arrival + 2);
    EXPECT_EQ(pacer.sampleCount(), 30u);
}

// The sliding window, the 75th percentile within its bounds, the catch-up
// floor and reservations, against a plain copy-and-sort.
TEST(PacerTest, MatchesThePlainComputationOnRandomTraffic)
{
    std::mt19937_64 random(7);
    std::normal_distribution<double> jitter(0, 8);
    std::uniform_int_distribution<int> event(0, 39);
    for (std::size_t window : {1u, 2u, 7u, 120u}) {
        Pacer pacer(0.006, 0.024, 0.004, window);
        ReferencePacer reference {window};
        double arrival = 50;
        for (int i = 0; i < 3000; ++i) {
            const double phoneMs = 1e6 + i * 8.333;
            arrival = std::max(arrival, 50 + (phoneMs - 1e6 + std::abs(jitter(random))) / 1000);
            switch (event(random)) {
            case 0: // a stall
                arrival += 0.05;
                break;
            case 1:
                ASSERT_EQ(pacer.playTime(std::nullopt, arrival), reference.playTime(std::nullopt, arrival));
                break;
            case 2:
                pacer.reserve(arrival + 0.01);
                reference.lastPlay = std::max(reference.lastPlay, arrival + 0.01);
                break;
            case 3: // a ping
                pacer.observe(std::round(phoneMs), arrival);
                reference.observe(std::round(phoneMs), arrival);
                break;
            }
            ASSERT_EQ(pacer.playTime(phoneMs, arrival), reference.playTime(phoneMs, arrival)) << window << " " << i;
            ASSERT_EQ(pacer.currentBuffer(), reference.currentBuffer) << window << " " << i;
        }
    }
}

} // namespace
} // namespace ferlow
