#include "FerlowLinux/UinputPoster.h"
#include "FerlowLinux/KeyboardLayout.h"

#include <fcntl.h>
#include <tuple>
#include <unistd.h>

#include <gtest/gtest.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

namespace ferlow {
namespace {

using Write = std::tuple<std::uint16_t, std::uint16_t, std::int32_t>;
using Button = LinuxEvent::Button;

constexpr Write sync {EV_SYN, SYN_REPORT, 0};

TEST(UinputPoster, EventsBecomeRelativeMovesHighResolutionWheelsAndKeysEachInItsOwnReport)
{
    std::vector<Write> writes;
    UinputPoster poster([&](std::uint16_t type, std::uint16_t code, std::int32_t value) {
        writes.emplace_back(type, code, value);
        return true;
    });
    // The absolute position means nothing here; turning the wheel back starts
    // the detent count afresh; 0x2ff is no key of the device.
    poster.post(std::vector {LinuxEvent::motion(500, 500, 3, -2), LinuxEvent::motion(500, 500, 0, 0), LinuxEvent::motion(0, 0, 0, 4),
        LinuxEvent::button(Button::right, true), LinuxEvent::wheel(60, 0), LinuxEvent::wheel(60, -240), LinuxEvent::wheel(-30, 0),
        LinuxEvent::key(KEY_A, true), LinuxEvent::key(0x2ff, true)});
    EXPECT_EQ(writes, (std::vector<Write> {
        {EV_REL, REL_X, 3}, {EV_REL, REL_Y, -2}, sync,
        {EV_REL, REL_Y, 4}, sync,
        {EV_KEY, BTN_RIGHT, 1}, sync,
        {EV_REL, REL_WHEEL_HI_RES, 60}, sync,
        {EV_REL, REL_WHEEL_HI_RES, 60}, {EV_REL, REL_WHEEL, 1}, {EV_REL, REL_HWHEEL_HI_RES, -240},
            {EV_REL, REL_HWHEEL, -2}, sync,
        {EV_REL, REL_WHEEL_HI_RES, -30}, sync,
        {EV_KEY, KEY_A, 1}, sync,
    }));
}

TEST(UinputPoster, ARefusedWriteIsReportedOnceAndPostingStops)
{
    int writes = 0, reports = 0;
    UinputPoster poster([&](std::uint16_t, std::uint16_t, std::int32_t) { return ++writes < 3; },
        [&](const std::string&) { ++reports; });
    for (int i = 0; i < 3; ++i)
        poster.post(std::vector {LinuxEvent::key(KEY_A, true), LinuxEvent::key(KEY_A, false)});
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(poster.connected());
}

// Positions for the German layout, with the modifier keys each needs; a
// modifier the pad holds is let go for the text and pressed again; what
// the layout cannot type is skipped, counted and told.
TEST(UinputPoster, TypesKeyPositionsForTheLayoutAndTellsWhatItCannotType)
{
    std::vector<Write> writes;
    std::vector<std::string> told;
    UinputPoster poster([&](std::uint16_t type, std::uint16_t code, std::int32_t value) {
        if (type == EV_KEY)
            writes.emplace_back(type, code, value);
        return true;
    }, {}, KeyboardLayout::compile({"", "pc105", "de", "", ""}));
    poster.setUntypedReport([&](const std::string& characters) { told.push_back(characters); });
    poster.post(std::vector {LinuxEvent::key(KEY_LEFTCTRL, true)});
    writes.clear();
    poster.post(std::vector {LinuxEvent::text("zA@日本日")});
    EXPECT_EQ(writes, (std::vector<Write> {
        {EV_KEY, KEY_LEFTCTRL, 0},
        {EV_KEY, KEY_Y, 1}, {EV_KEY, KEY_Y, 0},
        {EV_KEY, KEY_LEFTSHIFT, 1}, {EV_KEY, KEY_A, 1}, {EV_KEY, KEY_A, 0}, {EV_KEY, KEY_LEFTSHIFT, 0},
        {EV_KEY, KEY_RIGHTALT, 1}, {EV_KEY, KEY_Q, 1}, {EV_KEY, KEY_Q, 0}, {EV_KEY, KEY_RIGHTALT, 0},
        {EV_KEY, KEY_LEFTCTRL, 1},
    }));
    EXPECT_EQ(told, std::vector<std::string> {"日本"});
    EXPECT_EQ(poster.skippedCharacters(), 3u);
}

// Only where the kernel offers uinput and this user may write it.
TEST(UinputPoster, TheVirtualDeviceAppearsAndDeliversAKey)
{
    if (::access("/dev/uinput", W_OK) != 0)
        GTEST_SKIP() << "/dev/uinput is missing or not writable here, so no virtual device can be made";
    std::string why;
    auto poster = UinputPoster::create("/dev/uinput", {}, &why);
    ASSERT_TRUE(poster) << why;

    const int fd = ::open(poster->devicePath().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << poster->devicePath();
    libevdev* device = nullptr;
    ASSERT_EQ(libevdev_new_from_fd(fd, &device), 0);
    EXPECT_EQ(std::string(libevdev_get_name(device)), UinputPoster::deviceName);
    EXPECT_TRUE(libevdev_has_event_code(device, EV_REL, REL_WHEEL_HI_RES));

    poster->post(std::vector {LinuxEvent::key(KEY_B, true), LinuxEvent::key(KEY_B, false)});
    input_event event {};
    bool seen = false;
    for (int tries = 0; tries < 100 && !seen; ++tries) {
        const int rc = libevdev_next_event(device, LIBEVDEV_READ_FLAG_NORMAL, &event);
        if (rc == -EAGAIN)
            ::usleep(10000);
        seen = rc == LIBEVDEV_READ_STATUS_SUCCESS && event.type == EV_KEY && event.code == KEY_B;
    }
    EXPECT_TRUE(seen);
    libevdev_free(device);
    ::close(fd);
}

} // namespace
} // namespace ferlow
