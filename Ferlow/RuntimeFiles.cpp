#include "Ferlow/RuntimeFiles.h"

#include <sys/un.h>

#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

namespace fs = std::filesystem;

fs::path RuntimeFiles::directory()
{
    const auto runtime = XdgPaths::runtimeHome();
    return runtime ? *runtime / "ferlow" : XdgPaths::supportDirectory();
}

fs::path RuntimeFiles::lockFile() { return directory() / "ferlow.lock"; }

fs::path RuntimeFiles::gateFile() { return directory() / "ferlow.gate"; }

fs::path RuntimeFiles::controlSocket() { return directory() / "ferlow.sock"; }

std::optional<std::string> RuntimeFiles::prepare()
{
    if (!XdgPaths::makePrivateDirectory(directory()))
        return "cannot use the folder " + directory().string();
    // sun_path holds the path and its terminating zero.
    const auto socket = controlSocket().string();
    if (socket.size() >= sizeof(sockaddr_un::sun_path))
        return "the path " + socket + " is too long for a socket (at most " + std::to_string(sizeof(sockaddr_un::sun_path) - 1)
            + " bytes); set XDG_RUNTIME_DIR to a shorter folder";
    return std::nullopt;
}

} // namespace ferlow
