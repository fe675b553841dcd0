#include "FerlowLinux/JsonSettingsStore.h"

#include "FerlowCore/AtomicFile.h"
#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"
#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

namespace fs = std::filesystem;

JsonSettingsStore::JsonSettingsStore(fs::path file) : m_file(std::move(file))
{
    std::error_code error;
    const auto status = fs::symlink_status(m_file, error);
    if (status.type() == fs::file_type::not_found)
        return;
    const auto bytes = AtomicFile::read(m_file);
    if (bytes && bytes->empty())
        return; // nothing in it to lose
    if (bytes) {
        try {
            auto parsed = JSONCoding::parse(*bytes);
            if (parsed.is_object()) {
                m_values = std::move(parsed);
                return;
            }
        } catch (const DecodingError&) {
        }
    }
    m_keepAsideBeforeSave = true;
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

void JsonSettingsStore::save()
{
    if (m_keepAsideBeforeSave) {
        std::error_code error;
        if (!AtomicFile::keepAside(m_file) && fs::symlink_status(m_file, error).type() != fs::file_type::not_found)
            return; // the user's file stays; changes live in memory
        m_keepAsideBeforeSave = false;
    }
    XdgPaths::makePrivateDirectory(m_file.parent_path());
    try {
        const std::string text = m_values.dump(2) + "\n";
        AtomicFile::write(m_file, asBytes(text), 0600);
    } catch (const std::exception&) {
        // Kept in memory; the next change writes everything again.
    }
}

} // namespace ferlow
