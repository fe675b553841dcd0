#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace ferlow {

// Where the running instance keeps its lock and the control socket that the
// other `ferlow` commands talk to: $XDG_RUNTIME_DIR/ferlow, the session's
// own place for such files, or the data folder where the session has none.
// The tray app, the daemon and the short commands all find them here.
struct RuntimeFiles {
    static std::filesystem::path directory();
    // Held by the running app for its whole life (see InstanceLock).
    static std::filesystem::path lockFile();
    // Passed by whoever takes or looks at the lock (see InstanceLock).
    static std::filesystem::path gateFile();
    static std::filesystem::path controlSocket();

    // Makes the folder owner-only (0700) and checks that the socket's path
    // fits in a socket address; what is wrong, in one line, otherwise.
    static std::optional<std::string> prepare();
};

} // namespace ferlow
