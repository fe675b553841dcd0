#include "FerlowInput/Pacer.h"

#include <algorithm>
#include <deque>
#include <random>

#include <gtest/gtest.h>

namespace ferlow {
namespace {

Pacer standardPacer() { return Pacer(0.006, 0.024, 0.004, 120); }

// The buffer computed the plain way: copy, subtract the minimum, sort.
struct ReferencePacer {
    double minBuffer, maxBuffer, spacing;
    std::size_t window;
    std::deque<double> offsets;
    double lastPlay = -std::numeric_limits<double>::infinity();
    double currentBuffer = minBuffer;

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
        currentBuffer = std::min(std::max(extra[index] / 1000, minBuffer), maxBuffer);
    }
    double playTime(std::optional<double> phoneMs, double arrival)
    {
        double target = arrival, floor = lastPlay;
        if (phoneMs) {
            observe(*phoneMs, arrival);
            target = (*std::min_element(offsets.begin(), offsets.end()) + *phoneMs) / 1000 + currentBuffer;
            floor = lastPlay + spacing;
        }
        lastPlay = std::max({target, arrival, floor});
        return lastPlay;
    }
};

TEST(PacerTest, ConstantDelayPlaysEverySampleSixMillisecondsAfterArrival)
{
    auto pacer = standardPacer();
    for (int i = 0; i < 300; ++i) {
        const double phoneMs = 5000 + i * 8.0;
        const double arrival = 100 + i * 0.008;
        EXPECT_NEAR(pacer.playTime(phoneMs, arrival), arrival + 0.006, 1e-9) << "sample " << i;
    }
    EXPECT_EQ(pacer.currentBuffer(), 0.006);
}

TEST(PacerTest, BufferFollowsTheSeventyFifthPercentileWithinItsBounds)
{
    auto pacer = standardPacer();
    // One sample 50 ms late among prompt ones: played on arrival, buffer unmoved.
    for (int i = 0; i < 120; ++i) {
        const double arrival = 10 + i * 0.008 + (i == 60 ? 0.050 : 0);
        const double play = pacer.playTime(i * 8.0, arrival);
        EXPECT_GE(play, arrival);
        if (i == 60) {
            EXPECT_EQ(play, arrival);
        }
    }
    EXPECT_EQ(pacer.currentBuffer(), 0.006);
    // Now most samples are 50 ms later than the fastest one still remembered.
    for (int i = 120; i < 220; ++i)
        pacer.playTime(i * 8.0, 10 + i * 0.008 + 0.050);
    EXPECT_EQ(pacer.currentBuffer(), 0.024);
}

TEST(PacerTest, BurstAfterAStallDrainsFourMillisecondsApartInOrder)
{
    auto pacer = standardPacer();
    double last = 0;
    for (int i = 0; i < 20; ++i)
        last = pacer.playTime(i * 8.0, 1 + i * 0.008);
    // Ten samples held up by the network arrive together.
    const double arrival = 1 + 29 * 0.008 + 0.1;
    for (int i = 20; i < 30; ++i) {
        const double play = pacer.playTime(i * 8.0, arrival);
        EXPECT_GE(play, arrival);
        if (i > 20) {
            EXPECT_NEAR(play - last, 0.004, 1e-12) << "sample " << i;
        }
        last = play;
    }
    // An unstamped message never overtakes what is scheduled.
    EXPECT_EQ(pacer.playTime(std::nullopt, arrival), last);
    pacer.reserve(last - 1);
    EXPECT_EQ(pacer.playTime(std::nullopt, arrival), last);
    pacer.reserve(last + 0.5);
    EXPECT_EQ(pacer.playTime(std::nullopt, arrival), last + 0.5);
}

TEST(PacerTest, OnlyTheLastWindowOfSamplesCounts)
{
    auto pacer = standardPacer();
    pacer.observe(0, 1.000); // the fastest sample ever, 20 ms ahead of the rest
    for (int i = 1; i < 120; ++i)
        pacer.observe(i * 8.0, 1.020 + i * 0.008);
    EXPECT_NEAR(pacer.currentBuffer(), 0.020, 1e-9);
    pacer.observe(120 * 8.0, 1.020 + 120 * 0.008); // the 121st pushes the fastest out
    EXPECT_EQ(pacer.currentBuffer(), 0.006);
    EXPECT_EQ(pacer.sampleCount(), 120u);
}

TEST(PacerTest, AbsurdStampsCountAsUnstampedAndCannotStallTheSession)
{
    auto pacer = standardPacer();
    EXPECT_EQ(pacer.playTime(-1e300, 5.0), 5.0);
    EXPECT_EQ(pacer.playTime(std::numeric_limits<double>::quiet_NaN(), 5.001), 5.001);
    EXPECT_EQ(pacer.sampleCount(), 0u);
    EXPECT_NEAR(pacer.playTime(100, 5.002), 5.008, 1e-9);
}

TEST(PacerTest, MatchesThePlainComputationOnRandomTraffic)
{
    std::mt19937_64 random(7);
    for (std::size_t window : {1u, 2u, 7u, 120u}) {
        SCOPED_TRACE("window " + std::to_string(window));
        Pacer pacer(0.006, 0.024, 0.004, window);
        ReferencePacer reference {0.006, 0.024, 0.004, window, {}};
        std::normal_distribution<double> jitter(0, 8);
        std::uniform_int_distribution<int> kind(0, 39);
        double arrival = 50;
        for (int i = 0; i < 3000; ++i) {
            const double phoneMs = 1e6 + i * 8.333;
            // Arrivals never go backwards; now and then a stall or a duplicate stamp.
            arrival = std::max(arrival, 50 + (phoneMs - 1e6 + std::abs(jitter(random))) / 1000);
            switch (kind(random)) {
            case 0:
                arrival += 0.05;
                break;
            case 1:
                ASSERT_EQ(pacer.playTime(std::nullopt, arrival), reference.playTime(std::nullopt, arrival));
                continue;
            case 2:
                pacer.reserve(arrival + 0.01);
                reference.lastPlay = std::max(reference.lastPlay, arrival + 0.01);
                break;
            case 3:
                pacer.observe(std::round(phoneMs), arrival);
                reference.observe(std::round(phoneMs), arrival);
                break;
            }
            ASSERT_EQ(pacer.playTime(phoneMs, arrival), reference.playTime(phoneMs, arrival)) << "sample " << i;
            ASSERT_EQ(pacer.currentBuffer(), reference.currentBuffer) << "sample " << i;
        }
    }
}

} // namespace
} // namespace ferlow
