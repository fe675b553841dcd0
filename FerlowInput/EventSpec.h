#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "FerlowInput/Geometry.h"

namespace ferlow {

// One synthetic input event, as plain data. The numbers are the event
// vocabulary of the posting layer, kept as integers so that specs can be
// built, compared and traced without any desktop:
//   mouse.type: 1/2 left down/up, 3/4 right down/up, 5 moved, 6 left drag,
//     7 right drag, 25/26 other button down/up; mouse.button: 0 left,
//     1 right, 2 middle.
//   scroll.phase: 0 none, 1 began, 2 changed, 4 ended, 8 cancelled;
//   scroll.momentum: 0 none, 1 begin, 2 continue, 3 end.
//   gesture.subtype: 5 rotate, 6 scroll, 8 magnify, 22 smart zoom;
//   gesture, scrollGesture and dock phases: 1 began, 2 changed, 4 ended,
//     8 cancelled.
//   dock.motion: 1 horizontal, 2 vertical, 3 pinch.
//   key.flags: 0x20000 shift, 0x40000 control, 0x80000 option,
//     0x100000 command, 0x200000 numeric pad, 0x800000 function.
//   media.key: the special-key numbers of MediaKey (nxCode).
//   text.then: 0 none, 36 Return, 48 Tab (their key codes).
struct EventSpec {
    struct Mouse {
        std::int32_t type = 0;
        Point at;
        std::int32_t button = 0;
        std::int64_t clickState = 0;
        Vector delta;
        bool operator==(const Mouse&) const = default;
    };
    // A continuous (pixel) scroll-wheel event.
    struct Scroll {
        std::int32_t dx = 0, dy = 0;
        std::int64_t phase = 0;
        std::int64_t momentum = 0;
        bool operator==(const Scroll&) const = default;
    };
    // The trackpad gesture that accompanies a phased scroll (subtype 6).
    struct ScrollGesture {
        double dx = 0, dy = 0;
        std::int64_t phase = 0;
        bool operator==(const ScrollGesture&) const = default;
    };
    struct Gesture {
        std::int64_t subtype = 0;
        std::optional<std::int64_t> phase;
        std::optional<double> magnification;
        std::optional<double> rotation;
        bool operator==(const Gesture&) const = default;
    };
    // One step of a live dock swipe.
    struct Dock {
        std::int64_t motion = 0;
        double progress = 0;
        std::int64_t phase = 0;
        std::optional<double> velocity;
        bool operator==(const Dock&) const = default;
    };
    struct Key {
        std::uint16_t code = 0;
        std::uint64_t flags = 0;
        bool down = false;
        bool operator==(const Key&) const = default;
    };
    struct Media {
        std::int32_t key = 0;
        bool down = false;
        bool operator==(const Media&) const = default;
    };
    struct Launch {
        std::string bundleID;
        bool operator==(const Launch&) const = default;
    };
    // Typing: `deletions` backspaces, then the characters of `text` (UTF-8
    // without control characters) whatever keys the layout needs for them,
    // then the key `then`. Typed keys are plain keys in every application,
    // never an application's own chord.
    struct Text {
        std::uint32_t deletions = 0;
        std::string text;
        std::uint16_t then = 0;
        bool operator==(const Text&) const = default;
    };

    static constexpr std::uint16_t returnKey = 36, tabKey = 48;

    using Value = std::variant<Mouse, Scroll, ScrollGesture, Gesture, Dock, Key, Media, Launch, Text>;
    Value value;

    static EventSpec mouse(std::int32_t type, Point at, std::int32_t button, std::int64_t clickState, Vector delta)
    {
        return {Mouse {type, at, button, clickState, delta}};
    }
    static EventSpec scroll(std::int32_t dx, std::int32_t dy, std::int64_t phase, std::int64_t momentum)
    {
        return {Scroll {dx, dy, phase, momentum}};
    }
    static EventSpec scrollGesture(double dx, double dy, std::int64_t phase) { return {ScrollGesture {dx, dy, phase}}; }
    static EventSpec gesture(std::int64_t subtype, std::optional<std::int64_t> phase,
        std::optional<double> magnification, std::optional<double> rotation)
    {
        return {Gesture {subtype, phase, magnification, rotation}};
    }
    static EventSpec dock(std::int64_t motion, double progress, std::int64_t phase, std::optional<double> velocity)
    {
        return {Dock {motion, progress, phase, velocity}};
    }
    static EventSpec key(std::uint16_t code, std::uint64_t flags, bool down) { return {Key {code, flags, down}}; }
    static EventSpec media(std::int32_t key, bool down) { return {Media {key, down}}; }
    static EventSpec launch(std::string bundleID) { return {Launch {std::move(bundleID)}}; }
    static EventSpec text(std::uint32_t deletions, std::string text, std::uint16_t then = 0)
    {
        return {Text {deletions, std::move(text), then}};
    }

    template <typename T> const T* as() const { return std::get_if<T>(&value); }
    template <typename T> bool is() const { return std::holds_alternative<T>(value); }

    // A short readable rendering ("key 55 0x100000 down"), for test
    // failures and debugging.
    std::string description() const;

    bool operator==(const EventSpec&) const = default;
};

} // namespace ferlow
