#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <variant>

namespace ferlow {

// One input event in the Linux desktop's own terms, what the chord mapper
// hands to a backend. Each backend uses what it can of a motion: XTest
// places the pointer at the absolute position, uinput moves it by the
// phone's delta.
struct LinuxEvent {
    enum class Button : std::uint8_t { left, right, middle };

    // The absolute position in root-window pixels (already clamped to the
    // displays) and the phone's own movement.
    struct Motion {
        std::int32_t x = 0, y = 0;
        std::int32_t dx = 0, dy = 0;
        bool operator==(const Motion&) const = default;
    };
    struct PointerButton {
        Button button = Button::left;
        bool down = false;
        bool operator==(const PointerButton&) const = default;
    };
    // High-resolution wheel units, 120 to a detent (the kernel's
    // REL_WHEEL_HI_RES convention): vertical > 0 scrolls up (wheel turned
    // away from the user), horizontal > 0 scrolls right. A finger scroll
    // is a series that ends with `finish` (the fingers lifted, or the
    // momentum after them died out), possibly on a wheel that moves nothing;
    // a series of whole `detents` (a zoom step) has no end. Backends that
    // only turn a wheel ignore both.
    enum class Scrolling : std::uint8_t { continuing, finish, detents };
    struct Wheel {
        std::int32_t vertical = 0, horizontal = 0;
        Scrolling scrolling = Scrolling::continuing;
        bool operator==(const Wheel&) const = default;
    };
    // A key by its evdev code (linux/input-event-codes.h, KEY_*).
    struct Key {
        std::uint16_t code = 0;
        bool down = false;
        bool operator==(const Key&) const = default;
    };

    // Text typed as characters, whatever keys the layout needs for them:
    // UTF-8 without control characters (Return, Tab and deletions come as
    // keys). A backend that cannot type a character skips it.
    struct Text {
        std::string utf8;
        bool operator==(const Text&) const = default;
    };

    static constexpr std::int32_t unitsPerDetent = 120;
    // The pixels of a finger scroll that make one detent.
    static constexpr double pixelsPerDetent = 50;

    std::variant<Motion, PointerButton, Wheel, Key, Text> value;

    static LinuxEvent motion(std::int32_t x, std::int32_t y, std::int32_t dx, std::int32_t dy)
    {
        return {Motion {x, y, dx, dy}};
    }
    static LinuxEvent button(Button button, bool down) { return {PointerButton {button, down}}; }
    static LinuxEvent wheel(
        std::int32_t vertical, std::int32_t horizontal, Scrolling scrolling = Scrolling::continuing)
    {
        return {Wheel {vertical, horizontal, scrolling}};
    }
    static LinuxEvent key(std::uint16_t code, bool down) { return {Key {code, down}}; }
    static LinuxEvent text(std::string utf8) { return {Text {std::move(utf8)}}; }

    template <typename T> const T* as() const { return std::get_if<T>(&value); }

    // "key 29 down", "wheel 120 0": for test failures and debugging.
    std::string description() const;

    bool operator==(const LinuxEvent&) const = default;
};

// Where Linux events go: one backend (the portal, uinput or XTest), or nothing. The
// events of one call are posted in order and then flushed together. Used on
// the I/O thread only.
class LinuxEventSink {
public:
    virtual ~LinuxEventSink() noexcept = default;
    virtual void post(std::span<const LinuxEvent> events) = 0;
};

} // namespace ferlow
