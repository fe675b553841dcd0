#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FerlowCore/Pairing.h"
#include "FerlowCore/PrivateFile.h"

namespace ferlow {

// The paired phones, kept in `directory`/pairings.json as a PrivateFile
// (folder 0700, file 0600, written atomically, an unusable file moved aside
// to pairings.json.unreadable before the first save replaces it). Pending
// pairings (never used) expire after `pendingLifetime` seconds. Every public
// operation holds the store's lock for its whole duration, so the store may
// be used from any thread; another process may use the same file, and each
// save replaces it whole.
//
// Storage failures are swallowed: the in-memory list stays authoritative and
// the next change tries again.
class PairingStore final {
public:
    using Clock = std::function<double()>; // seconds since 1970

    static constexpr double pendingLifetime = 600;

    explicit PairingStore(std::filesystem::path directory, Clock clock = systemClock);

    std::vector<Pairing> all();
    Pairing createPending(); // throws RandomSourceError
    std::optional<Pairing> lookup(const std::string& id);
    void markUsed(const std::string& id, const std::string& deviceName);
    void remove(const std::string& id);

    const std::filesystem::path& file() const { return m_file.path(); }
    const std::filesystem::path& directory() const { return m_directory; }

    static double systemClock();

private:
    void load();
    void prune();
    void save();

    std::filesystem::path m_directory;
    PrivateFile m_file;
    Clock m_clock;
    std::vector<Pairing> m_items;
    std::mutex m_lock;
};

} // namespace ferlow
