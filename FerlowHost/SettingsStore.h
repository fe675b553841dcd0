#pragma once

#include <optional>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace ferlow {

// The user's settings: a handful of JSON values under string keys ("port",
// "termsAccepted", "openAtLoginOffered", "release"). A store is used from the
// main context only. Writes never throw and never fail visibly: a store that
// cannot persist a change keeps it in memory and tries again on the next one.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Absent when the key has never been set or was removed.
    virtual std::optional<nlohmann::json> get(std::string_view key) const = 0;
    virtual void set(std::string_view key, nlohmann::json value) = 0;
    virtual void remove(std::string_view key) = 0;
};

} // namespace ferlow
