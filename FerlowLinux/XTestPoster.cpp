#include "FerlowLinux/XTestPoster.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xtest.h>

#include "FerlowLinux/LinuxKeys.h"

namespace ferlow {

namespace {

// The XTEST request carries root coordinates as 16-bit numbers; anything
// further out is pinned to the edge rather than wrapped around.
std::int16_t rootCoordinate(std::int32_t value)
{
    constexpr std::int32_t low = std::numeric_limits<std::int16_t>::min(), high = std::numeric_limits<std::int16_t>::max();
    return static_cast<std::int16_t>(std::clamp(value, low, high));
}

std::uint8_t xButton(LinuxEvent::Button button)
{
    switch (button) {
    case LinuxEvent::Button::left:
        return 1;
    case LinuxEvent::Button::middle:
        return 2;
    case LinuxEvent::Button::right:
        return 3;
    }
    return 1;
}

// Core protocol wheel buttons: 4 up, 5 down, 6 left, 7 right.
constexpr unsigned wheelUp = 4, wheelDown = 5, wheelLeft = 6, wheelRight = 7;
// One event never clicks the wheel more often than this.
constexpr std::int32_t maxClicksPerEvent = 100;

} // namespace

std::unique_ptr<XTestPoster> XTestPoster::open(const std::string& displayName, LossReport onLoss, std::string* why)
{
    auto connection = std::make_unique<XConnection>(displayName);
    Display* display = connection->display();
    if (!display) {
        if (why) {
            const char* shown = displayName.empty() ? std::getenv("DISPLAY") : displayName.c_str();
            *why = std::string("cannot open the X display ") + (shown && *shown ? shown : "(DISPLAY is not set)");
        }
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        if (why)
            *why = std::string("the X display ") + XDisplayString(display) + " has no XTEST extension";
        return nullptr;
    }
    return std::unique_ptr<XTestPoster>(new XTestPoster(std::move(connection), std::move(onLoss)));
}

XTestPoster::XTestPoster(std::unique_ptr<XConnection> connection, LossReport onLoss)
    : m_connection(std::move(connection))
    , m_display(m_connection->display())
    , m_xcb(XGetXCBConnection(m_display))
    , m_root(static_cast<std::uint32_t>(XDefaultRootWindow(m_display)))
    , m_onLoss(std::move(onLoss))
{
    loadKeymap();
}

XTestPoster::~XTestPoster() noexcept = default;

void XTestPoster::loadKeymap()
{
    m_keycodes.fill(0);
    for (const auto& row : LinuxKeys::all()) {
        const KeySym keysym = XStringToKeysym(std::string(row.keysym).c_str());
        if (keysym != NoSymbol && row.evdev < m_keycodes.size())
            m_keycodes[row.evdev] = XKeysymToKeycode(m_display, keysym);
    }
}

void XTestPoster::post(std::span<const LinuxEvent> events)
{
    if (m_connection->lost()) {
        reportLoss();
        return;
    }
    bool keymapRead = false;
    for (const auto& event : events) {
        if (const auto* motion = event.as<LinuxEvent::Motion>()) {
            fake(XCB_MOTION_NOTIFY, 0, rootCoordinate(motion->x), rootCoordinate(motion->y));
        } else if (const auto* button = event.as<LinuxEvent::PointerButton>()) {
            fake(button->down ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, xButton(button->button));
        } else if (const auto* wheel = event.as<LinuxEvent::Wheel>()) {
            turnWheel(wheel->vertical, m_carryVertical, wheelUp, wheelDown);
            turnWheel(wheel->horizontal, m_carryHorizontal, wheelRight, wheelLeft);
        } else if (const auto* key = event.as<LinuxEvent::Key>()) {
            if (!std::exchange(keymapRead, true))
                readEvents();
            const std::uint8_t keycode = key->code < m_keycodes.size() ? m_keycodes[key->code] : 0;
            if (keycode != 0)
                fake(key->down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode);
        }
    }
    // Straight to XCB: Xlib's flush would also try to read every time.
    if (xcb_flush(m_xcb) <= 0)
        m_connection->markLost();
    if (m_connection->lost())
        reportLoss();
}

// One XTEST FakeInput request, queued until the flush. The pointer moves
// in root coordinates; the other kinds carry a button or a keycode.
void XTestPoster::fake(std::uint8_t type, std::uint8_t detail, std::int16_t x, std::int16_t y)
{
    xcb_test_fake_input(m_xcb, type, detail, XCB_CURRENT_TIME, type == XCB_MOTION_NOTIFY ? m_root : XCB_NONE, x, y, 0);
}

void XTestPoster::turnWheel(std::int32_t units, std::int32_t& carry, unsigned positiveButton, unsigned negativeButton)
{
    if (units == 0)
        return;
    // A turn the other way starts afresh instead of first paying back what
    // the last direction left over.
    if ((carry > 0 && units < 0) || (carry < 0 && units > 0))
        carry = 0;
    const std::int64_t total = std::int64_t(carry) + units;
    const std::int64_t clicks = total / LinuxEvent::unitsPerDetent;
    carry = static_cast<std::int32_t>(total - clicks * LinuxEvent::unitsPerDetent);
    const unsigned button = clicks > 0 ? positiveButton : negativeButton;
    const auto count = std::min<std::int64_t>(clicks < 0 ? -clicks : clicks, maxClicksPerEvent);
    for (std::int64_t i = 0; i < count; ++i) {
        fake(XCB_BUTTON_PRESS, static_cast<std::uint8_t>(button));
        fake(XCB_BUTTON_RELEASE, static_cast<std::uint8_t>(button));
    }
}

// Takes in what the server sent since, without waiting: a keymap change
// arrives as MappingNotify and is read here, so keys keep their codes after
// the user switches layouts.
void XTestPoster::readEvents()
{
    bool keymapChanged = false;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            keymapChanged = true;
        }
    }
    if (keymapChanged)
        loadKeymap();
}

void XTestPoster::reportLoss()
{
    if (m_lossReported)
        return;
    m_lossReported = true;
    if (m_onLoss)
        m_onLoss("The X server has gone away; Ferlow no longer posts input to it.");
}

} // namespace ferlow
