#include "FerlowCore/PairingStore.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <sys/stat.h>

#include "FerlowCore/AtomicFile.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

namespace fs = std::filesystem;

double PairingStore::systemClock()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

PairingStore::PairingStore(fs::path directory, Clock clock)
    : m_directory(std::move(directory))
    , m_file(m_directory / "pairings.json")
    , m_clock(std::move(clock))
{
    load();
}

void PairingStore::load()
{
    const auto data = AtomicFile::read(m_file);
    if (!data) {
        // Missing is the normal first start; a file that exists but cannot be
        // read is kept aside before anything replaces it.
        std::error_code error;
        m_keepAsideBeforeSave = fs::exists(fs::symlink_status(m_file, error));
        return;
    }
    try {
        const auto json = JSONCoding::parse(*data);
        if (!json.is_array())
            throw std::runtime_error("not an array");
        std::vector<Pairing> items;
        for (const auto& element : json)
            items.push_back(Pairing::decode(element));
        m_items = std::move(items);
    } catch (const std::exception&) {
        m_items.clear();
        m_keepAsideBeforeSave = !data->empty();
    }
}

void PairingStore::prune()
{
    const double now = m_clock();
    const auto before = m_items.size();
    std::erase_if(m_items, [now](const Pairing& p) { return !p.lastUsedAt && now - p.createdAt > pendingLifetime; });
    if (m_items.size() != before)
        save();
}

void PairingStore::save()
{
    std::error_code error;
    fs::create_directories(m_directory, error);
    ::chmod(m_directory.c_str(), 0700);

    std::string text;
    try {
        nlohmann::ordered_json json = nlohmann::ordered_json::array();
        for (const auto& pairing : m_items)
            json.push_back(pairing.encode());
        text = JSONCoding::dump(json);
    } catch (const std::exception&) {
        return;
    }

    if (m_keepAsideBeforeSave) {
        AtomicFile::keepAside(m_file);
        std::error_code stillThere;
        if (fs::exists(fs::symlink_status(m_file, stillThere)))
            return; // never overwrite what could not be moved to safety
        m_keepAsideBeforeSave = false;
    }
    try {
        AtomicFile::write(m_file, asBytes(text), 0600);
    } catch (const std::exception&) {
        return;
    }
    ::chmod(m_file.c_str(), 0600);
}

std::vector<Pairing> PairingStore::all()
{
    std::lock_guard guard(m_lock);
    prune();
    return m_items;
}

Pairing PairingStore::createPending()
{
    std::lock_guard guard(m_lock);
    Pairing pairing = Pairing::make(m_clock());
    m_items.push_back(pairing);
    save();
    return pairing;
}

std::optional<Pairing> PairingStore::lookup(const std::string& id)
{
    std::lock_guard guard(m_lock);
    prune();
    const auto found = std::find_if(m_items.begin(), m_items.end(), [&](const Pairing& p) { return p.id == id; });
    if (found == m_items.end())
        return std::nullopt;
    return *found;
}

void PairingStore::markUsed(const std::string& id, const std::string& deviceName)
{
    std::lock_guard guard(m_lock);
    const auto found = std::find_if(m_items.begin(), m_items.end(), [&](const Pairing& p) { return p.id == id; });
    if (found == m_items.end())
        return;
    found->lastUsedAt = m_clock();
    found->name = deviceName;
    save();
}

void PairingStore::remove(const std::string& id)
{
    std::lock_guard guard(m_lock);
    std::erase_if(m_items, [&](const Pairing& p) { return p.id == id; });
    save();
}

} // namespace ferlow
