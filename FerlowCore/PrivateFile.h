#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// A file that could not be read, and where it was moved to.
struct KeptAside {
    std::filesystem::path file;
    std::filesystem::path aside;
};

// The one policy for a file of the user's own data (the paired phones, the
// action buttons): its folder is the owner's only (0700), the file too
// (0600), every save is atomic, and a file that exists but cannot be
// understood is moved aside before the first save replaces it, so a damaged
// file never silently costs the user what it held.
class PrivateFile final {
public:
    explicit PrivateFile(std::filesystem::path path);

    const std::filesystem::path& path() const { return m_path; }

    // The file's bytes; absent when there is none or it cannot be read (an
    // unreadable file is then kept aside by the next save). First removes
    // what saves killed midway left behind. Writes nothing.
    std::optional<Bytes> load();

    // What load() returned could not be decoded: the next save keeps it
    // aside first. An empty file holds nothing worth keeping.
    void markUndecodable(ByteView loaded);

    // Creates missing folders with mode 0700 (what XDG Base Directory asks
    // of a program's data folders), sets the file's own
    // folder to 0700, keeps an unusable file aside, then writes `data`
    // atomically with mode 0600. Throws std::filesystem::filesystem_error and
    // then leaves the file as it was; never replaces a file it could not keep
    // aside.
    void save(ByteView data);

    // Moves the file load() could not use aside now rather than at the first
    // save, so the user can be told where it went. Nothing when there was no
    // such file or it could not be moved (the next save then tries again).
    std::optional<KeptAside> keepUnreadableAside();

    // Why a save failed, for the user: the path and the system's words.
    static std::string describe(const std::exception& failure);

private:
    std::filesystem::path m_path;
    bool m_keepAsideBeforeSave = false;
};

} // namespace ferlow
