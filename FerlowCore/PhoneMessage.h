#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/SystemGesture.h"

namespace ferlow {

// Gesture phase; the raw values are bits, not consecutive.
enum class Phase : std::int64_t { began = 1, changed = 2, ended = 4, cancelled = 8 };
std::optional<Phase> phaseFromRaw(std::int64_t raw);

// Inertial scrolling phase.
enum class MomentumPhase : std::int64_t { none = 0, begin = 1, continue_ = 2, end = 3 };
std::optional<MomentumPhase> momentumPhaseFromRaw(std::int64_t raw);

// Which system swipe a dock-style gesture drives: "h", "v" or "p".
enum class DockKind { horizontal, vertical, pinch };
std::string_view rawValue(DockKind kind);
std::optional<DockKind> dockKindFromRaw(std::string_view raw);

// A key pressed after typed text: "ret" (Return) or "tab".
enum class TextKey { enter, tab };
std::string_view rawValue(TextKey key);
std::optional<TextKey> textKeyFromRaw(std::string_view raw);

// The closed set of JSON keys that phone and Mac messages share, in
// declaration order. A key outside the set maps to nothing and is ignored.
// The last three belong to typing, which both sides announce before using
// (docs/protocol-extensions.md).
enum class K { t, x, y, b, d, c, p, mp, v, k, vel, n, id, dev, sa, ts, ax, ok, actions, name, g, app, u, s, del, txt };
inline constexpr std::array<std::string_view, 26> keyNames {
    "t", "x", "y", "b", "d", "c", "p", "mp", "v", "k", "vel", "n",
    "id", "dev", "sa", "ts", "ax", "ok", "actions", "name", "g", "app", "u", "s", "del", "txt",
};
std::string_view rawValue(K key);
std::optional<K> keyFromRaw(std::string_view raw);

// One message from the phone, as a JSON object whose "t" selects the case.
struct PhoneMessage {
    struct Move { // "m"
        double dx = 0, dy = 0;
        bool operator==(const Move&) const = default;
    };
    struct Button { // "b"
        std::int64_t index = 0;
        bool down = false;
        std::int64_t clicks = 0;
        bool operator==(const Button&) const = default;
    };
    struct Scroll { // "s"
        double dx = 0, dy = 0;
        std::optional<Phase> phase;
        MomentumPhase momentum = MomentumPhase::none;
        bool operator==(const Scroll&) const = default;
    };
    struct Pinch { // "z"
        double delta = 0;
        Phase phase = Phase::began;
        bool operator==(const Pinch&) const = default;
    };
    struct Rotate { // "r"
        double degrees = 0;
        Phase phase = Phase::began;
        bool operator==(const Rotate&) const = default;
    };
    struct Dock { // "d"
        DockKind kind = DockKind::horizontal;
        double progress = 0;
        Phase phase = Phase::began;
        double velocity = 0;
        bool operator==(const Dock&) const = default;
    };
    struct System { // "sys"
        SystemGesture gesture = SystemGesture::missionControl;
        bool operator==(const System&) const = default;
    };
    struct Action { // "a"
        std::string id;
        bool down = false;
        bool operator==(const Action&) const = default;
    };
    struct Hi { // "hi"
        std::string device;
        bool standalone = false;
        bool operator==(const Hi&) const = default;
    };
    struct Ping { // "p"
        double ts = 0;
        bool operator==(const Ping&) const = default;
    };
    struct SmartZoom { // "sz"
        bool operator==(const SmartZoom&) const = default;
    };
    struct Forget { // "forget"
        bool operator==(const Forget&) const = default;
    };
    // "w": typing. `deletions` characters before the caret are deleted, one
    // backspace each, then `text` is typed, then `key` is pressed. The
    // text never holds control characters: decoding drops them.
    struct Text {
        std::int64_t deletions = 0;
        std::string text;
        std::optional<TextKey> key;
        bool operator==(const Text&) const = default;
    };

    // Bounds of one "w": characters of "s" (Unicode code points) and "del".
    static constexpr std::size_t maxTextLength = 256;
    static constexpr std::int64_t maxDeletions = 256;

    using Value = std::variant<Move, Button, Scroll, Pinch, Rotate, Dock, System, Action, Hi, Ping, SmartZoom, Forget, Text>;
    Value value;

    static PhoneMessage move(double dx, double dy) { return {Move {dx, dy}}; }
    static PhoneMessage button(std::int64_t index, bool down, std::int64_t clicks) { return {Button {index, down, clicks}}; }
    static PhoneMessage scroll(double dx, double dy, std::optional<Phase> phase, MomentumPhase momentum)
    {
        return {Scroll {dx, dy, phase, momentum}};
    }
    static PhoneMessage pinch(double delta, Phase phase) { return {Pinch {delta, phase}}; }
    static PhoneMessage rotate(double degrees, Phase phase) { return {Rotate {degrees, phase}}; }
    static PhoneMessage dock(DockKind kind, double progress, Phase phase, double velocity)
    {
        return {Dock {kind, progress, phase, velocity}};
    }
    static PhoneMessage system(SystemGesture gesture) { return {System {gesture}}; }
    static PhoneMessage action(std::string id, bool down) { return {Action {std::move(id), down}}; }
    static PhoneMessage hi(std::string device, bool standalone) { return {Hi {std::move(device), standalone}}; }
    static PhoneMessage ping(double ts) { return {Ping {ts}}; }
    static PhoneMessage smartZoom() { return {SmartZoom {}}; }
    static PhoneMessage forget() { return {Forget {}}; }
    static PhoneMessage text(std::int64_t deletions, std::string text, std::optional<TextKey> key = std::nullopt)
    {
        return {Text {deletions, std::move(text), key}};
    }

    template <typename T> const T* as() const { return std::get_if<T>(&value); }
    template <typename T> bool is() const { return std::holds_alternative<T>(value); }

    // The type tag of the case ("m", "b", ...).
    std::string_view tag() const;
    // A short readable rendering: the case name followed by its fields.
    std::string description() const;

    bool operator==(const PhoneMessage&) const = default;

    // Throws DecodingError, or MessageCodecError for an unknown tag.
    static PhoneMessage decode(const nlohmann::json& json);
    // Throws EncodingError for a non-finite number. Never writes "ts" except
    // as the payload of a ping.
    nlohmann::ordered_json encode() const;
};

} // namespace ferlow
