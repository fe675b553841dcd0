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
    , m_clock(std::move(clock))
    , m_file(m_directory / "pairings.json")
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

bool PairingStore::prune()
{
    const double now = m_clock();
    const auto before = m_items.size();
    std::erase_if(m_items, [now](const Pairing& p) { return !p.lastUsedAt && now - p.createdAt > pendingLifetime; });
    if (m_items.size() == before)
        return false;
    m_changed = true;
    return true;
}

void PairingStore::save()
{
    std::function<void()> request;
    {
        std::lock_guard guard(m_lock);
        if (!m_changed || m_flushRequested)
            return;
        if (m_requestFlush) {
            m_flushRequested = true;
            request = m_requestFlush;
        }
    }
    if (request)
        request();
    else
        flush();
}

std::optional<std::string> PairingStore::flush()
{
    // Changes are written in their order: each save takes the list as it is
    // once the save before it has finished.
    std::lock_guard writing(m_writeLock);
    std::vector<Pairing> items;
    {
        std::lock_guard guard(m_lock);
        m_flushRequested = false;
        if (!m_changed)
            return m_problem;
        m_changed = false;
        items = m_items;
    }
    std::optional<std::string> problem;
    try {
        nlohmann::ordered_json json = nlohmann::ordered_json::array();
        for (const auto& pairing : items)
            json.push_back(pairing.encode());
        m_file.save(asBytes(JSONCoding::dump(json)));
    } catch (const std::exception& failure) {
        problem = PrivateFile::describe(failure);
    }
    std::lock_guard guard(m_lock);
    m_problem = problem;
    return problem;
}

void PairingStore::writeLater(std::function<void()> requestFlush)
{
    std::lock_guard guard(m_lock);
    m_requestFlush = std::move(requestFlush);
}

std::optional<std::string> PairingStore::saveProblem()
{
    std::lock_guard guard(m_lock);
    return m_problem;
}

void PairingStore::retrySave()
{
    {
        std::lock_guard guard(m_lock);
        if (!m_problem)
            return;
        m_changed = true;
    }
    save();
}

std::optional<KeptAside> PairingStore::keepUnreadableAside()
{
    std::lock_guard writing(m_writeLock);
    return m_file.keepUnreadableAside();
}

std::vector<Pairing> PairingStore::all()
{
    std::vector<Pairing> items;
    bool expired = false;
    {
        std::lock_guard guard(m_lock);
        expired = prune();
        items = m_items;
    }
    if (expired)
        save();
    return items;
}

Pairing PairingStore::createPending()
{
    Pairing pairing = Pairing::make(m_clock());
    {
        std::lock_guard guard(m_lock);
        m_items.push_back(pairing);
        m_changed = true;
    }
    save();
    return pairing;
}

std::optional<Pairing> PairingStore::lookup(const std::string& id)
{
    std::optional<Pairing> result;
    bool expired = false;
    {
        std::lock_guard guard(m_lock);
        expired = prune();
        const auto found = std::find_if(m_items.begin(), m_items.end(), [&](const Pairing& p) { return p.id == id; });
        if (found != m_items.end())
            result = *found;
    }
    if (expired)
        save();
    return result;
}

void PairingStore::markUsed(const std::string& id, const std::string& deviceName)
{
    {
        std::lock_guard guard(m_lock);
        const auto found = std::find_if(m_items.begin(), m_items.end(), [&](const Pairing& p) { return p.id == id; });
        if (found == m_items.end())
            return;
        found->lastUsedAt = m_clock();
        found->name = deviceName;
        m_changed = true;
    }
    save();
}

void PairingStore::remove(const std::string& id)
{
    {
        std::lock_guard guard(m_lock);
        std::erase_if(m_items, [&](const Pairing& p) { return p.id == id; });
        m_changed = true;
    }
    save();
}

} // namespace ferlow
