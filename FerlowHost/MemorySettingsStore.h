#pragma once

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "FerlowHost/SettingsStore.h"

namespace ferlow {

// Settings that live only as long as the object: for tests, and for runs
// that must leave nothing behind.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<nlohmann::json> get(std::string_view key) const override;
    void set(std::string_view key, nlohmann::json value) override;
    void remove(std::string_view key) override;

private:
    std::map<std::string, nlohmann::json, std::less<>> m_values;
};

} // namespace ferlow
