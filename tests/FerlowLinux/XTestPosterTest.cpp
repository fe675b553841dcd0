#include "FerlowLinux/XTestPoster.h"

#include <chrono>
#include <limits>
#include <optional>
#include <poll.h>
#include <tuple>

// GoogleTest before Xlib, whose None and Bool macros it would trip over.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <X11/XF86keysym.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "FerlowLinux/InputBackend.h"
#include "tests/Support/TestSupport.h"
#include "tests/Support/Xvfb.h"

namespace ferlow {
namespace {

using Button = LinuxEvent::Button;

// What a client of the server saw: presses only, which is enough to show
// which button or key went down and with which modifiers.
struct Seen {
    unsigned button = 0;
    KeySym keysym = NoSymbol;
    unsigned state = 0;
    bool operator==(const Seen&) const = default;
};
void PrintTo(const Seen& seen, std::ostream* out)
{
    *out << "button " << seen.button << " key " << (seen.keysym ? XKeysymToString(seen.keysym) : "-") << " state "
         << seen.state;
}

// A window over the whole screen, focused, on a second connection.
class Observer {
public:
    explicit Observer(const std::string& display)
        : m_display(XOpenDisplay(display.c_str()))
    {
        const Window root = XDefaultRootWindow(m_display);
        m_window = XCreateSimpleWindow(m_display, root, 0, 0, 1920, 1080, 0, 0, 0);
        XSelectInput(m_display, m_window, ButtonPressMask | KeyPressMask);
        XMapWindow(m_display, m_window);
        XSync(m_display, False);
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }
    ~Observer() { XCloseDisplay(m_display); }

    // The pointer once it is at `expected`, or where it is after a few
    // seconds: the poster's connection is not ordered with this one.
    std::pair<int, int> pointer(std::pair<int, int> expected)
    {
        std::pair<int, int> at;
        Window root, child;
        int windowX = 0, windowY = 0;
        unsigned mask = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        do
            XQueryPointer(m_display, XDefaultRootWindow(m_display), &root, &child, &at.first, &at.second, &windowX, &windowY, &mask);
        while (at != expected && std::chrono::steady_clock::now() < deadline);
        return at;
    }

    // The next `count` presses, waiting at most a few seconds in all.
    std::vector<Seen> presses(std::size_t count)
    {
        std::vector<Seen> seen;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (seen.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (XPending(m_display) == 0) {
                pollfd wait {XConnectionNumber(m_display), POLLIN, 0};
                ::poll(&wait, 1, 100);
                continue;
            }
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == ButtonPress)
                seen.push_back({event.xbutton.button, NoSymbol, event.xbutton.state & 0xFF});
            else if (event.type == KeyPress)
                seen.push_back({0, XLookupKeysym(&event.xkey, 0), event.xkey.state & 0xFF});
        }
        return seen;
    }

private:
    Display* m_display;
    Window m_window;
};

class XTestPosterTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!server->available())
            GTEST_SKIP() << server->reason();
    }

    std::optional<test::Xvfb> server {std::in_place};
};

TEST_F(XTestPosterTest, TheServerSeesPointerButtonsWheelClicksAndKeys)
{
    auto poster = XTestPoster::open(server->display(), {});
    ASSERT_TRUE(poster);
    Observer observer(server->display());

    poster->post(std::vector {LinuxEvent::motion(100, 200, 0, 0)});
    EXPECT_EQ(observer.pointer({100, 200}), std::make_pair(100, 200));
    // Far beyond the 16-bit request fields: pinned to the screen's corner,
    // not wrapped around.
    constexpr auto max = std::numeric_limits<std::int32_t>::max(), min = std::numeric_limits<std::int32_t>::min();
    poster->post(std::vector {LinuxEvent::motion(max, min, 0, 0)});
    EXPECT_EQ(observer.pointer({1919, 0}), std::make_pair(1919, 0));

    poster->post(std::vector {LinuxEvent::motion(300, 300, 0, 0), LinuxEvent::button(Button::left, true),
        LinuxEvent::button(Button::left, false), LinuxEvent::wheel(240, 0), LinuxEvent::wheel(60, 0),
        LinuxEvent::wheel(60, 0), LinuxEvent::wheel(0, -120), LinuxEvent::wheel(-50, 0), LinuxEvent::wheel(-70, 0),
        LinuxEvent::button(Button::middle, true), LinuxEvent::button(Button::middle, false),
        LinuxEvent::button(Button::right, true), LinuxEvent::button(Button::right, false)});
    // The wheel: 240 + 60 + 60 up is three clicks of 4, -120 across is one of
    // 6; -50 then -70 turns back and makes one click of 5.
    EXPECT_EQ(observer.presses(8), (std::vector<Seen> {{1}, {4}, {4}, {4}, {6}, {5}, {2}, {3}}));

    poster->post(std::vector {LinuxEvent::key(KEY_LEFTCTRL, true), LinuxEvent::key(KEY_C, true),
        LinuxEvent::key(KEY_C, false), LinuxEvent::key(KEY_LEFTCTRL, false), LinuxEvent::key(0x2ff, true),
        LinuxEvent::key(0xffff, true), LinuxEvent::key(KEY_PLAYPAUSE, true), LinuxEvent::key(KEY_PLAYPAUSE, false),
        LinuxEvent::key(KEY_LEFTSHIFT, true), LinuxEvent::key(KEY_1, true), LinuxEvent::key(KEY_1, false),
        LinuxEvent::key(KEY_LEFTSHIFT, false), LinuxEvent::key(KEY_BRIGHTNESSUP, true),
        LinuxEvent::key(KEY_BRIGHTNESSUP, false)});
    EXPECT_EQ(observer.presses(6),
        (std::vector<Seen> {{0, XK_Control_L, 0}, {0, XK_c, ControlMask}, {0, XF86XK_AudioPlay, 0},
            {0, XK_Shift_L, 0}, {0, XK_1, ShiftMask}, {0, XF86XK_MonBrightnessUp, 0}}));
}

// On an X11 session XTest goes first, even where uinput would work, so the
// desktop adds no acceleration of its own to the pad's. A server that
// vanishes is reported once, and posting then does nothing.
TEST_F(XTestPosterTest, AnX11SessionTriesXTestFirstAndAVanishedServerIsReportedOnce)
{
    int reports = 0;
    const auto backend = InputBackend::choose(
        {"/dev/null", server->display(), [&](const std::string&) { ++reports; }, InputBackend::Session::x11, {}});
    ASSERT_EQ(backend.name(), "XTest");
    EXPECT_EQ(backend.reasons(), "");
    backend.sink()->post(std::vector {LinuxEvent::motion(5, 5, 0, 0)});
    server.reset();
    for (int i = 0; i < 3; ++i)
        backend.sink()->post(std::vector {LinuxEvent::key(KEY_A, true), LinuxEvent::motion(1, 1, 0, 0)});
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(backend.canInject());
}

// Without a uinput device or a display there is nothing to post with, and
// both reasons are told; the session says which to try first.
TEST(InputBackend, WithoutUinputOrAnXDisplayThereIsNoBackendAndTheSessionPicksTheOrder)
{
    test::TemporaryDirectory folder;
    const auto file = folder.path() / "uinput"; // writable, but no uinput device
    test::writeFile(file, "");
    const auto backend = InputBackend::choose({file, ":65000", {}, {}, {}});
    EXPECT_EQ(backend.name(), "none");
    EXPECT_FALSE(backend.canInject());
    EXPECT_TRUE(backend.reasons().starts_with("uinput: cannot create the virtual input device through " + file.string()))
        << backend.reasons();
    EXPECT_TRUE(backend.reasons().ends_with("; XTest: cannot open the X display :65000")) << backend.reasons();
    EXPECT_TRUE(InputBackend::choose({"/nonexistent/uinput", ":65000", {}, {}, {}}).reasons().starts_with("uinput: /nonexistent/uinput is not writable"));
    backend.sink()->post(std::vector {LinuxEvent::key(KEY_A, true)});

    using enum InputBackend::Session;
    const std::tuple<const char*, const char*, const char*, InputBackend::Session> sessions[] = {{"x11", nullptr, ":0", x11},
        {"wayland", "wayland-0", ":0", wayland}, {"tty", nullptr, nullptr, other}, {nullptr, nullptr, ":0", x11},
        {nullptr, "wayland-0", ":0", wayland}};
    for (const auto& [type, waylandDisplay, display, session] : sessions) {
        test::Environment environment;
        environment.set("XDG_SESSION_TYPE", type);
        environment.set("WAYLAND_DISPLAY", waylandDisplay);
        environment.set("DISPLAY", display);
        EXPECT_EQ(InputBackend::session(), session) << (type ? type : "-") << " " << (waylandDisplay ? waylandDisplay : "-");
    }
}

} // namespace
} // namespace ferlow
