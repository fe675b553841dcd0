#include "FerlowLinux/JsonSettingsStore.h"

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

namespace fs = std::filesystem;

JsonSettingsStore::JsonSettingsStore(fs::path file) : m_file(std::move(file))
{
    const auto bytes = m_file.load();
    if (!bytes)
        return;
    try {
        auto parsed = JSONCoding::parse(*bytes);
        if (parsed.is_object()) {
            m_values = std::move(parsed);
            return;
        }
    } catch (const DecodingError&) {
    }
    m_file.markUndecodable(*bytes);
}

std::optional<nlohmann::json> JsonSettingsStore::get(std::string_view key) const
{
    const auto found = m_values.find(key);
    if (found == m_values.end())
        return std::nullopt;
    return *found;
}

void JsonSettingsStore::set(std::string_view key, nlohmann::json value)
{
    m_values[std::string(key)] = std::move(value);
    save();
}

void JsonSettingsStore::remove(std::string_view key)
{
    if (m_values.erase(std::string(key)) > 0)
        save();
}

void JsonSettingsStore::retrySave()
{
    if (m_problem)
        save();
}

void JsonSettingsStore::save()
{
    try {
        const std::string text = m_values.dump(2) + "\n";
        m_file.save(asBytes(text));
        m_problem.reset();
    } catch (const std::exception& failure) {
        // Kept in memory; the next change writes everything again, and a
        // file that could not be kept aside is never replaced.
        m_problem = PrivateFile::describe(failure);
    }
}

} // namespace ferlow
