#pragma once

#include <cstdint>
#include <variant>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/MediaKey.h"
#include "FerlowCore/SystemGesture.h"

namespace ferlow {

// What an action button does.
//
// JSON form: an object with exactly one of the keys "key", "media", "mouse",
// "gesture", "appSwitcher", whose value holds the payload:
//   {"key": {"code": 53, "modifiers": 0}}, {"media": {"_0": "playPause"}},
//   {"mouse": {"button": 1}}, {"gesture": {"_0": "missionControl"}},
//   {"appSwitcher": {}}.
struct ActionKind {
    struct Key {
        std::uint16_t code;      // virtual key code
        std::uint64_t modifiers; // event-flag mask, stored in full
        bool operator==(const Key&) const = default;
    };
    struct Media {
        MediaKey key;
        bool operator==(const Media&) const = default;
    };
    struct Mouse {
        std::int64_t button; // 0 left, 1 right, 2 middle; others kept as they are
        bool operator==(const Mouse&) const = default;
    };
    struct Gesture {
        SystemGesture gesture;
        bool operator==(const Gesture&) const = default;
    };
    struct AppSwitcher {
        bool operator==(const AppSwitcher&) const = default;
    };

    using Value = std::variant<Key, Media, Mouse, Gesture, AppSwitcher>;
    Value value {AppSwitcher {}};

    static ActionKind key(std::uint16_t code, std::uint64_t modifiers) { return {Key {code, modifiers}}; }
    static ActionKind media(MediaKey key) { return {Media {key}}; }
    static ActionKind mouse(std::int64_t button) { return {Mouse {button}}; }
    static ActionKind gesture(SystemGesture gesture) { return {Gesture {gesture}}; }
    static ActionKind appSwitcher() { return {AppSwitcher {}}; }

    template <typename T> const T* as() const { return std::get_if<T>(&value); }

    bool operator==(const ActionKind&) const = default;

    nlohmann::ordered_json encode() const;
    // Throws DecodingError; zero or several case keys give a typeMismatch
    // whose description is "Invalid number of keys found, expected one.".
    static ActionKind decode(const nlohmann::json& json);
};

} // namespace ferlow
