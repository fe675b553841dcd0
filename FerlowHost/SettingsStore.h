#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

#include "FerlowCore/PrivateFile.h"

namespace ferlow {

// The user's settings: a handful of JSON values under string keys ("port",
// "termsAccepted", "openAtLoginOffered", "release"). A store is used from the
// main context only. Writes never throw: a store that cannot persist a
// change keeps it in memory, says why in saveProblem(), and writes
// everything again on the next change or retrySave().
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // Absent when the key has never been set or was removed.
    virtual std::optional<nlohmann::json> get(std::string_view key) const = 0;
    virtual void set(std::string_view key, nlohmann::json value) = 0;
    virtual void remove(std::string_view key) = 0;

    // Why the last write failed; nothing while every change is kept.
    virtual std::optional<std::string> saveProblem() const { return std::nullopt; }
    virtual void retrySave() { }
    // A file it could not read at start, moved aside now so the user can
    // be told where it went.
    virtual std::optional<KeptAside> keepUnreadableAside() { return std::nullopt; }
};

} // namespace ferlow
