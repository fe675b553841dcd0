#pragma once

#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "FerlowCore/Pairing.h"

namespace ferlow {

// The paired phones as `ferlow --list` shows them, and how `--forget`
// finds one.
struct PhoneList {
    // Used pairings, newest first, as the control channel carries them:
    // [{"id", "name", "lastUsedAt", "connected"}]. With a phone connected,
    // the first is the one.
    static nlohmann::json encode(const std::vector<Pairing>& used, bool firstConnected);
    // One line per phone: name, "Connected" or when it was last used, id.
    static std::vector<std::string> lines(const nlohmann::json& phones, double now);

    // The pairing whose id is `who`, else the one whose name is; otherwise
    // a one-line explanation (no such phone, or several of that name).
    static std::variant<Pairing, std::string> find(const std::vector<Pairing>& all, const std::string& who);

    // The used pairings of a store's list, newest first.
    static std::vector<Pairing> used(std::vector<Pairing> all);
};

} // namespace ferlow
