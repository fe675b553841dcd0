#include "FerlowHost/MemorySettingsStore.h"

namespace ferlow {

std::optional<nlohmann::json> MemorySettingsStore::get(std::string_view key) const
{
    const auto found = m_values.find(key);
    if (found == m_values.end())
        return std::nullopt;
    return found->second;
}

void MemorySettingsStore::set(std::string_view key, nlohmann::json value)
{
    m_values.insert_or_assign(std::string(key), std::move(value));
}

void MemorySettingsStore::remove(std::string_view key)
{
    if (const auto found = m_values.find(key); found != m_values.end())
        m_values.erase(found);
}

} // namespace ferlow
