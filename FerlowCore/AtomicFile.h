#pragma once

#include <filesystem>
#include <optional>
#include <sys/types.h>

#include "FerlowCore/Bytes.h"

namespace ferlow {

// Whole-file writes that never leave a half-written file behind, for the
// small JSON files Ferlow keeps.
struct AtomicFile {
    // Writes `data` to a new file beside `path` with `mode`, flushes it to
    // disk and renames it over `path`. Throws std::filesystem::filesystem_error.
    static void write(const std::filesystem::path& path, ByteView data, mode_t mode);

    // Reads the whole file; absent when it cannot be opened or read.
    static std::optional<Bytes> read(const std::filesystem::path& path);

    // Moves a file that could not be understood out of the way, so that the
    // next save does not destroy what the user had: "<name>.unreadable", or
    // "<name>.unreadable-2", -3, ... when that exists. Returns the new path,
    // or nothing when there was no file or it could not be moved.
    static std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path);
};

} // namespace ferlow
