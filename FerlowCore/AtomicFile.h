#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <sys/types.h>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// Whole-file writes that never leave a half-written file behind, for the
// small JSON files Ferlow keeps.
struct AtomicFile {
    // Writes `data` to a new temporary file beside `path` (".<name>.XXXXXX")
    // with `mode`, flushes it to disk, renames it over `path` and flushes the
    // folder, so a crash at any point leaves the old file or the new one.
    // The temporary file stays locked (flock) until it has been renamed, which
    // tells removeLeftovers() in another process that it is still being
    // written. Throws std::filesystem::filesystem_error.
    static void write(const std::filesystem::path& path, ByteView data, mode_t mode);

    // Reads the whole file; absent when it cannot be opened or read.
    static std::optional<Bytes> read(const std::filesystem::path& path);

    // Moves a file that could not be understood out of the way, so that the
    // next save does not destroy what the user had: "<name>.unreadable", or
    // "<name>.unreadable-2", -3, ... when that exists. Never replaces an
    // existing file. Returns the new path, or nothing when there was no file
    // or it could not be moved.
    static std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path);

    // Removes the temporary files that writes of `path` left behind when they
    // were killed midway (they may hold the same secrets as the file). Only
    // regular files named exactly as write() names them are touched, never a
    // symbolic link, and never one that a live write still holds locked.
    // Returns how many were removed.
    static std::size_t removeLeftovers(const std::filesystem::path& path);
};

} // namespace ferlow
