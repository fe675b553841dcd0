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
// operation may be called from any thread; another process may use the same
// file, and each save replaces it whole.
//
// The list in memory is authoritative. A save that fails leaves the file as
// it was and is remembered (saveProblem()); the next change, or retrySave(),
// writes the whole list again.
//
// By default each change is written before the call returns. After
// writeLater(), a change only asks for flush() to run soon elsewhere, so a
// caller on a thread that must not wait for the disk never does.
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

    // From now on a change calls `requestFlush` instead of writing; it must
    // see that flush() runs soon, on any thread. Call before the store is
    // shared.
    void writeLater(std::function<void()> requestFlush);
    // Writes the list if it changed since the last save; returns why the
    // last save failed, or nothing when the file holds the list.
    std::optional<std::string> flush();
    // Why the last save failed; nothing when it worked.
    std::optional<std::string> saveProblem();
    // After a failed save: writes the list again (now, or through flush()).
    void retrySave();
    // An unreadable file found at load, moved aside now (PrivateFile).
    std::optional<KeptAside> keepUnreadableAside();

    const std::filesystem::path& file() const { return m_file.path(); }
    const std::filesystem::path& directory() const { return m_directory; }

    static double systemClock();

private:
    void load();
    bool prune(); // with m_lock held; true when something expired
    void save();  // without m_lock held: writes a change now or asks for it

    std::filesystem::path m_directory;
    Clock m_clock;

    std::mutex m_lock; // the list and what is known of its saving
    std::vector<Pairing> m_items;
    bool m_changed = false;        // since the last save was tried
    bool m_flushRequested = false; // and requestFlush has been asked
    std::optional<std::string> m_problem;
    std::function<void()> m_requestFlush;

    std::mutex m_writeLock; // the file: one save at a time, in the order of the changes
    PrivateFile m_file;
};

} // namespace ferlow
