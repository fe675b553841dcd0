#pragma once

#include <filesystem>

#include <nlohmann/json.hpp>

#include "FerlowCore/PrivateFile.h"
#include "FerlowHost/SettingsStore.h"

namespace ferlow {

// The user's settings as one JSON object in `file` (settings.json in
// Ferlow's config folder), kept like every file of the user's own data:
// folder 0700, file 0600, the whole object written atomically on every
// change, keys sorted.
//
// A file that exists but cannot be read, or does not hold a JSON object, is
// never silently replaced: the store starts empty and the first change moves
// the file aside (settings.json.unreadable) before it writes. If it cannot be
// moved, changes stay in memory only, and saveProblem() says so. Main
// context only.
class JsonSettingsStore final : public SettingsStore {
public:
    // Reads the file; writes nothing.
    explicit JsonSettingsStore(std::filesystem::path file);

    std::optional<nlohmann::json> get(std::string_view key) const override;
    void set(std::string_view key, nlohmann::json value) override;
    void remove(std::string_view key) override;
    std::optional<std::string> saveProblem() const override { return m_problem; }
    void retrySave() override;
    std::optional<KeptAside> keepUnreadableAside() override { return m_file.keepUnreadableAside(); }

    const std::filesystem::path& file() const { return m_file.path(); }

private:
    void save();

    PrivateFile m_file;
    nlohmann::json m_values = nlohmann::json::object();
    std::optional<std::string> m_problem;
};

} // namespace ferlow
