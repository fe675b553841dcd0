#pragma once

#include <filesystem>

namespace ferlow {

// Where the running instance keeps its lock and the control socket that the
// other `ferlow` commands talk to. The tray app, the daemon and the short
// commands all find them here.
struct RuntimeFiles {
    static std::filesystem::path lockFile();
    static std::filesystem::path controlSocket();
};

} // namespace ferlow
