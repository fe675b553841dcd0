#include "FerlowInput/DisplayLayout.h"

#include <gtest/gtest.h>

namespace ferlow {
namespace {

// Left: 1000x800 at the origin; right: 800x600 beside it.
const DisplayLayout sideBySide {{{{0, 0}, {1000, 800}}, {{1000, 0}, {800, 600}}}};

TEST(ClampTest, KeepsThePointerOnTheDisplayItCameFrom)
{
    struct Case {
        const char* what;
        DisplayLayout layout;
        Point point, previous, expected;
    };
    const Case cases[] = {
        {"no displays: anything goes", {}, {-5000, 1e6}, {0, 0}, {-5000, 1e6}},
        {"on a display", sideBySide, {1500, 599}, {10, 10}, {1500, 599}},
        {"right edge is outside", {{{{0, 0}, {1000, 800}}}}, {1000, 10}, {999.5, 10}, {999, 10}},
        {"bottom edge is outside", sideBySide, {500, 800}, {500, 700}, {500, 799}},
        {"above the right display slides on the left", sideBySide, {1010, -20}, {990, 10}, {999, 0}},
        {"below the right display stays on it", sideBySide, {1200, 700}, {1200, 590}, {1200, 599}},
        {"into the gap under the right display", sideBySide, {1100, 650}, {990, 650}, {999, 650}},
        {"crosses into the other display", sideBySide, {1001, 10}, {999, 10}, {1001, 10}},
        {"stale previous: nearest display", sideBySide, {2000, 100}, {1900, 100}, {1799, 100}},
        {"equally near: first listed wins", {{{{0, 0}, {100, 100}}, {{200, 0}, {100, 100}}}}, {150, -10}, {150, 50},
            {99, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(clamp(c.point, c.previous, c.layout), c.expected);
    }
}

} // namespace
} // namespace ferlow
