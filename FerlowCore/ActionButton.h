#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/ActionKind.h"

namespace ferlow {

// One button of the phone's actions sheet.
//
// JSON form: {"id", "title", "kind", "conflict"?, "keep", "group"?}; the
// optional keys are written only when present and read as absent when
// missing or null.
struct ActionButton {
    std::string id;                      // unique within one list
    std::string title;
    ActionKind kind;
    std::optional<std::string> conflict; // set by the shortcut conflict check only
    bool keep = false;                   // the user keeps the button despite a clash
    std::optional<std::string> group;    // the page: "Keys", "Edit", ...

    bool operator==(const ActionButton&) const = default;

    nlohmann::ordered_json encode() const;
    static ActionButton decode(const nlohmann::json& json); // throws DecodingError

    static nlohmann::ordered_json encodeList(const std::vector<ActionButton>& buttons);
    // One bad element fails the whole list.
    static std::vector<ActionButton> decodeList(const nlohmann::json& json);
};

// The extra buttons offered for the application in front.
// JSON form: {"name": string, "actions": [ActionButton, ...]}.
struct AppContext {
    std::string name;
    std::vector<ActionButton> actions;

    bool operator==(const AppContext&) const = default;

    nlohmann::ordered_json encode() const;
    static AppContext decode(const nlohmann::json& json); // throws DecodingError
};

} // namespace ferlow
