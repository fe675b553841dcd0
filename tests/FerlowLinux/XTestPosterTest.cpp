#include "FerlowLinux/XTestPoster.h"

#include <limits>
#include <optional>
#include <tuple>

// GoogleTest before Xlib, whose None and Bool macros it would trip over.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include "FerlowCore/PhoneMessage.h"
#include "FerlowCore/UTF8.h"
#include "FerlowLinux/InputBackend.h"
#include "tests/Support/TestSupport.h"
#include "tests/Support/XTestWindow.h"
#include "tests/Support/Xvfb.h"

namespace ferlow {
namespace {

using Button = LinuxEvent::Button;

// The next `count` presses: a button by its number, a key by its keysym/modifier mask.
std::string presses(test::XTestWindow& window, std::size_t count)
{
    std::string seen;
    std::size_t n = 0;
    window.read([&](const std::vector<test::XTestWindow::Event>& events) {
        if (!events.empty() && events.back().kind != test::XTestWindow::Event::Kind::release) {
            const auto& e = events.back();
            seen += (n++ ? " " : "") + (e.button ? std::to_string(e.button) : std::string(XKeysymToString(e.keysym)))
                + (e.state ? "/" + std::to_string(e.state) : "");
        }
        return n >= count;
    });
    return seen;
}

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
    test::XTestWindow observer(server->display(), 1920, 1080);

    poster->post(std::vector {LinuxEvent::motion(100, 200, 0, 0)});
    EXPECT_EQ(observer.pointer({100, 200}), std::make_pair(100, 200));
    // Beyond the 16-bit request fields: pinned to the corner, not wrapped.
    constexpr auto max = std::numeric_limits<std::int32_t>::max(), min = std::numeric_limits<std::int32_t>::min();
    poster->post(std::vector {LinuxEvent::motion(max, min, 0, 0)});
    EXPECT_EQ(observer.pointer({1919, 0}), std::make_pair(1919, 0));

    poster->post(std::vector {LinuxEvent::motion(300, 300, 0, 0), LinuxEvent::button(Button::left, true),
        LinuxEvent::button(Button::left, false), LinuxEvent::wheel(240, 0), LinuxEvent::wheel(60, 0),
        LinuxEvent::wheel(60, 0), LinuxEvent::wheel(0, -120), LinuxEvent::wheel(-50, 0), LinuxEvent::wheel(-70, 0),
        LinuxEvent::button(Button::middle, true), LinuxEvent::button(Button::middle, false),
        LinuxEvent::button(Button::right, true), LinuxEvent::button(Button::right, false)});
    // Wheel remainders carry over: 240+60+60 is three clicks, -50-70 one.
    EXPECT_EQ(presses(observer, 8), "1 4 4 4 6 5 2 3");

    poster->post(std::vector {LinuxEvent::key(KEY_LEFTCTRL, true), LinuxEvent::key(KEY_C, true),
        LinuxEvent::key(KEY_C, false), LinuxEvent::key(KEY_LEFTCTRL, false), LinuxEvent::key(0x2ff, true),
        LinuxEvent::key(0xffff, true), LinuxEvent::key(KEY_PLAYPAUSE, true), LinuxEvent::key(KEY_PLAYPAUSE, false),
        LinuxEvent::key(KEY_LEFTSHIFT, true), LinuxEvent::key(KEY_1, true), LinuxEvent::key(KEY_1, false),
        LinuxEvent::key(KEY_LEFTSHIFT, false), LinuxEvent::key(KEY_BRIGHTNESSUP, true),
        LinuxEvent::key(KEY_BRIGHTNESSUP, false)});
    EXPECT_EQ(presses(observer, 6), "Control_L c/4 XF86AudioPlay Shift_L 1/1 XF86MonBrightnessUp"); // 4 Control, 1 Shift
}

// Text read back as an application reads it; the pauses are run by hand.
class XTestTypingTest : public XTestPosterTest {
protected:
    void SetUp() override
    {
        XTestPosterTest::SetUp();
        if (IsSkipped())
            return;
        window.emplace(server->display(), 1920, 1080);
        original = window->keymap();
        poster = XTestPoster::open(server->display(), {});
        poster->setTyping([this](auto, std::function<void()> task) { pauses.push_back(std::move(task)); },
            [this](const std::string& characters) { untyped += characters; });
    }

    // Runs the pauses asked for so far, not those they ask for in turn.
    void pause()
    {
        for (const auto& task : std::exchange(pauses, {}))
            task();
    }

    std::optional<test::XTestWindow> window;
    std::vector<unsigned long> original;
    std::shared_ptr<XTestPoster> poster;
    std::vector<std::function<void()>> pauses;
    std::string untyped;
};

// The keymap is never left changed; held Shift and Caps Lock alter no typed character.
TEST_F(XTestTypingTest, TextComesBackExactlyWhateverIsHeldAndTheKeymapIsRestoredAfterThePauseOrTheEnd)
{
    const std::string text = "Hello, wörld — ✓ 日本";
    poster->post(std::vector {LinuxEvent::text(text)});
    EXPECT_EQ(window->text(text), text);
    EXPECT_NE(window->keymap(), original) << "—, ✓, 日 and 本 are on spare keys until the pause";
    pause();
    EXPECT_EQ(window->keymap(), original);

    XkbLockModifiers(window->display(), XkbUseCoreKbd, LockMask, LockMask);
    XSync(window->display(), False);
    poster->post(std::vector {LinuxEvent::key(KEY_LEFTSHIFT, true), LinuxEvent::text("aZ1!ä✓"), LinuxEvent::key(KEY_B, true),
        LinuxEvent::key(KEY_B, false), LinuxEvent::key(KEY_LEFTSHIFT, false)});
    // B is a capital with Caps Lock alone, so with Shift again it is not.
    EXPECT_EQ(window->text("aZ1!ä✓b"), "aZ1!ä✓b");
    XkbStateRec state {};
    XkbGetState(window->display(), XkbUseCoreKbd, &state);
    EXPECT_EQ(state.locked_mods & LockMask, LockMask);
    EXPECT_EQ(state.base_mods, 0);
    poster.reset();
    EXPECT_EQ(window->keymap(), original);
    EXPECT_EQ(untyped, "");
}

// More characters than spare keys wait for the pause; a later click stays behind them.
TEST_F(XTestTypingTest, TextBeyondTheSpareKeysWaitsAndWhatFollowsWaitsBehindIt)
{
    std::u32string many;
    for (char32_t c = 0x4E00; many.size() < PhoneMessage::maxTextLength; ++c)
        many.push_back(c);
    poster->post(std::vector {LinuxEvent::text(UTF8::encode(many.substr(0, 100)))});
    poster->post(std::vector {LinuxEvent::text(UTF8::encode(many.substr(100))), LinuxEvent::button(Button::left, true)});
    using Kind = test::XTestWindow::Event::Kind;
    const auto text = UTF8::encode(many); // three bytes a character
    const auto spareKeys = test::XTestWindow::emptyKeys(original);
    std::string seen;
    const auto readUntil = [&](std::size_t bytes) {
        window->read([&](const auto& events) {
            if (!events.empty() && events.back().kind != Kind::release)
                seen += events.back().kind == Kind::button ? "|" : events.back().text;
            return seen.size() >= bytes;
        });
    };
    for (std::size_t round = 1; seen.size() < text.size() && !pauses.empty(); ++round) {
        readUntil(std::min(text.size(), 3 * spareKeys * round));
        pause();
    }
    readUntil(text.size() + 1);
    pause();
    EXPECT_EQ(seen, text + "|");
    EXPECT_EQ(window->keymap(), original);

    // Beyond what can wait, text is reported untyped rather than kept without bound.
    std::u32string flood;
    for (char32_t c = 0x5000; flood.size() < 10 * 256; ++c)
        flood.push_back(c);
    for (std::size_t at = 0; at < flood.size(); at += 256)
        poster->post(std::vector {LinuxEvent::text(UTF8::encode(flood.substr(at, 256)))});
    EXPECT_EQ(UTF8::codePoints(untyped), flood.substr(flood.size() - 2 * 256)); // 2,048 characters wait
}

// XTest first on X11 (no second acceleration); a vanished server is reported once.
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
