#include "FerlowInput/SystemGestures.h"

#include "tests/FerlowInput/TestSupport.h"

namespace ferlow {
namespace {

EventSpec key(std::uint16_t code, std::uint64_t flags, bool down) { return EventSpec::key(code, flags, down); }

TEST(SystemGesturesTest, ComboHoldsModifiersAroundTheMainKey)
{
    const SystemGestures::ModifierKey controlCommand[] = {{59, 0x40000}, {55, 0x100000}};
    EXPECT_EQ(SystemGestures::combo(2, controlCommand, 0),
        (std::vector {key(59, 0x40000, true), key(55, 0x140000, true), key(2, 0x140000, true), key(2, 0x140000, false),
            key(55, 0x40000, false), key(59, 0, false)}));
    EXPECT_EQ(SystemGestures::combo(103, {}, 0x800000), (std::vector {key(103, 0x800000, true), key(103, 0x800000, false)}));
}

TEST(SystemGesturesTest, GesturesMapToTheirShortcutsOrTheLauncher)
{
    const auto controlArrow = [](std::uint16_t arrow) {
        return std::vector {key(59, 0x40000, true), key(arrow, 0xA40000, true), key(arrow, 0xA40000, false), key(59, 0, false)};
    };
    EXPECT_EQ(SystemGestures::specs(SystemGesture::missionControl), controlArrow(126));
    EXPECT_EQ(SystemGestures::specs(SystemGesture::appExpose), controlArrow(125));
    EXPECT_EQ(SystemGestures::specs(SystemGesture::spaceLeft), controlArrow(123));
    EXPECT_EQ(SystemGestures::specs(SystemGesture::spaceRight), controlArrow(124));
    EXPECT_EQ(SystemGestures::specs(SystemGesture::showDesktop), (std::vector {key(103, 0x800000, true), key(103, 0x800000, false)}));
    EXPECT_EQ(SystemGestures::specs(SystemGesture::apps), (std::vector {EventSpec::launch("com.apple.apps.launcher")}));
    EXPECT_EQ(SystemGestures::specs(SystemGesture::lookUp).size(), 6u);
}

} // namespace
} // namespace ferlow
