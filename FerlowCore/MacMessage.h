#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/ActionButton.h"
#include "FerlowCore/TrackpadPrefs.h"
#include "FerlowCore/UpdateStatus.h"

namespace ferlow {

// One message from the computer to the phone, as a JSON object whose "t"
// selects the case. Keys are written in a fixed order; an absent app is left
// out rather than written as null.
struct MacMessage {
    struct Ready { // "ready": everything the phone needs to draw its interface
        bool accessibility = false;
        std::vector<ActionButton> actions;
        std::string macName;
        TrackpadPrefs prefs;
        std::optional<AppContext> app;
        UpdateStatus update;
        // "txt", written only when true: the computer can type text, so the
        // phone may send "w" messages.
        bool typing = false;
        bool operator==(const Ready&) const = default;
    };
    struct Accessibility { // "ax"
        bool granted = false;
        bool operator==(const Accessibility&) const = default;
    };
    struct Actions { // "actions"
        std::vector<ActionButton> actions;
        bool operator==(const Actions&) const = default;
    };
    struct Prefs { // "prefs"
        TrackpadPrefs prefs;
        bool operator==(const Prefs&) const = default;
    };
    struct Context { // "ctx"
        std::optional<AppContext> app;
        bool operator==(const Context&) const = default;
    };
    struct Update { // "update"
        UpdateStatus status;
        bool operator==(const Update&) const = default;
    };
    struct Pong { // "pong"
        double ts = 0;
        bool operator==(const Pong&) const = default;
    };
    struct Replaced { // "replaced"
        bool operator==(const Replaced&) const = default;
    };
    struct Revoked { // "revoked"
        bool operator==(const Revoked&) const = default;
    };
    // "untyped": characters the phone typed that the computer's keyboard
    // layout cannot produce. Only ever sent in answer to typing.
    struct Untyped {
        std::string characters;
        bool operator==(const Untyped&) const = default;
    };

    using Value = std::variant<Ready, Accessibility, Actions, Prefs, Context, Update, Pong, Replaced, Revoked, Untyped>;
    Value value;

    static MacMessage ready(bool accessibility, std::vector<ActionButton> actions, std::string macName,
        TrackpadPrefs prefs, std::optional<AppContext> app, UpdateStatus update, bool typing = false)
    {
        return {Ready {accessibility, std::move(actions), std::move(macName), std::move(prefs), std::move(app),
            std::move(update), typing}};
    }
    static MacMessage accessibility(bool granted) { return {Accessibility {granted}}; }
    static MacMessage actions(std::vector<ActionButton> actions) { return {Actions {std::move(actions)}}; }
    static MacMessage prefs(TrackpadPrefs prefs) { return {Prefs {std::move(prefs)}}; }
    static MacMessage context(std::optional<AppContext> app) { return {Context {std::move(app)}}; }
    static MacMessage update(UpdateStatus status) { return {Update {std::move(status)}}; }
    static MacMessage pong(double ts) { return {Pong {ts}}; }
    static MacMessage replaced() { return {Replaced {}}; }
    static MacMessage revoked() { return {Revoked {}}; }
    static MacMessage untyped(std::string characters) { return {Untyped {std::move(characters)}}; }

    template <typename T> const T* as() const { return std::get_if<T>(&value); }
    template <typename T> bool is() const { return std::holds_alternative<T>(value); }

    std::string_view tag() const;

    bool operator==(const MacMessage&) const = default;

    // Throws EncodingError for a non-finite number.
    nlohmann::ordered_json encode() const;
    // Throws DecodingError, or MessageCodecError for an unknown tag.
    static MacMessage decode(const nlohmann::json& json);
};

} // namespace ferlow
