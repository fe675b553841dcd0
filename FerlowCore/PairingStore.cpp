#include "FerlowCore/PairingStore.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include <nlohmann/json.hpp>

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
    const auto data = m_file.load();
    if (!data)
        return;
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
        m_file.markUndecodable(*data);
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
    try {
        nlohmann::ordered_json json = nlohmann::ordered_json::array();
        for (const auto& pairing : m_items)
            json.push_back(pairing.encode());
        m_file.save(asBytes(JSONCoding::dump(json)));
    } catch (const std::exception&) {
        // Kept in memory; the next change writes the file again.
    }
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
