#include "FerlowLinux/XTestPoster.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <xcb/xtest.h>

#include "FerlowCore/UTF8.h"
#include "FerlowLinux/LinuxKeys.h"
#include "FerlowLinux/XTestTyping.h"

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

std::shared_ptr<XTestPoster> XTestPoster::open(const std::string& displayName, LossReport onLoss, std::string* why)
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
    return std::shared_ptr<XTestPoster>(new XTestPoster(std::move(connection), std::move(onLoss)));
}

XTestPoster::XTestPoster(std::unique_ptr<XConnection> connection, LossReport onLoss)
    : m_connection(std::move(connection))
    , m_display(m_connection->display())
    , m_xcb(XGetXCBConnection(m_display))
    , m_root(static_cast<std::uint32_t>(XDefaultRootWindow(m_display)))
    , m_onLoss(std::move(onLoss))
    , m_typing(std::make_unique<XTestTyping>(m_display))
{
    loadKeymap();
}

// Whatever waited for the spare keys is posted now, the text that still
// needed them skipped, so no key or button stays held; and the keymap is
// left as it was found. Nothing here waits for the server: closing the
// connection does, for a bounded time, so a stopped server cannot hold an
// exit.
XTestPoster::~XTestPoster() noexcept
{
    if (!m_connection->usable())
        return;
    m_closing = true;
    m_untyped = nullptr; // whoever listened may be gone by now
    const auto waiting = std::exchange(m_waiting, {});
    m_waitingCharacters = 0;
    post(waiting);
    m_typing->restore();
    XFlush(m_display);
}

void XTestPoster::setTyping(Defer defer, UntypedReport untyped)
{
    m_defer = std::move(defer);
    m_untyped = std::move(untyped);
}

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
    if (holdBehindTyping(events))
        return;
    bool keymapRead = false;
    bool typed = false;
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
        } else if (const auto* text = event.as<LinuxEvent::Text>()) {
            if (!std::exchange(keymapRead, true))
                readEvents();
            typed = true;
            if (!typeText(text->utf8, events.subspan(static_cast<std::size_t>(&event - events.data()) + 1)))
                break;
        }
    }
    // Straight to XCB: Xlib's flush would also try to read every time. Text
    // is typed through Xlib, whose buffer only its own flush hands on.
    if (typed)
        XFlush(m_display);
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
        // Spare keys taking characters while text is typed change no key
        // that keys are posted on: those changes are not read back.
        if (event.type == MappingNotify
            && m_typing->keymapChanged(event.xmapping.request, event.xmapping.first_keycode, event.xmapping.count)) {
            XRefreshKeyboardMapping(&event.xmapping);
            keymapChanged = true;
        }
    }
    if (keymapChanged)
        loadKeymap();
}

// Types `utf8`, and false when part of it must wait for the spare keys:
// then that part and `after` are kept, to be posted after the pause.
bool XTestPoster::typeText(const std::string& utf8, std::span<const LinuxEvent> after)
{
    const bool spareKeys = m_defer && !m_closing;
    std::u32string skipped;
    const auto rest = m_typing->type(UTF8::codePoints(utf8), skipped,
        spareKeys ? XTestTyping::SpareKeys::use : XTestTyping::SpareKeys::never);
    if (!skipped.empty() && m_untyped)
        m_untyped(TypingKeymap::distinct(skipped));
    if (!spareKeys || !m_typing->remapped())
        return true;
    ++m_typed;
    if (rest.empty()) {
        restoreKeymapWhenIdle();
        return true;
    }
    hold(LinuxEvent::text(UTF8::encode(rest)));
    for (const auto& event : after)
        hold(event);
    m_defer(typingPause, [weak = weak_from_this()] {
        if (const auto self = weak.lock())
            self->resumeTyping();
    });
    return false;
}

// Events posted while text waits for the spare keys wait behind it.
bool XTestPoster::holdBehindTyping(std::span<const LinuxEvent> events)
{
    if (m_waiting.empty())
        return false;
    for (const auto& event : events)
        hold(event);
    return true;
}

// Text beyond what may wait is not typed but told, so a phone that sends
// faster than spare keys can type cannot grow the queue without bound.
void XTestPoster::hold(const LinuxEvent& event)
{
    if (const auto* text = event.as<LinuxEvent::Text>()) {
        const auto characters = UTF8::codePoints(text->utf8);
        if (m_waitingCharacters + characters.size() > maxWaitingCharacters) {
            if (m_untyped)
                m_untyped(TypingKeymap::distinct(characters));
            return;
        }
        m_waitingCharacters += characters.size();
    }
    m_waiting.push_back(event);
}

void XTestPoster::resumeTyping()
{
    if (m_connection->lost()) {
        m_waiting.clear();
        return;
    }
    m_typing->settle();
    const auto waiting = std::exchange(m_waiting, {});
    m_waitingCharacters = 0;
    post(waiting);
}

// Once nothing has been typed for the pause, the spare keys are emptied.
void XTestPoster::restoreKeymapWhenIdle()
{
    m_defer(typingPause, [weak = weak_from_this(), typed = m_typed] {
        const auto self = weak.lock();
        if (!self || self->m_typed != typed || !self->m_waiting.empty() || self->m_connection->lost())
            return;
        self->m_typing->restore();
        // Waits for the server to have it, so that it is done whatever
        // comes next: one round trip a typing burst.
        XSync(self->m_display, False);
        self->readEvents();
    });
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
