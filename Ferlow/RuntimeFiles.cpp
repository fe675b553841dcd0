#include "Ferlow/RuntimeFiles.h"

#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

std::filesystem::path RuntimeFiles::lockFile() { return XdgPaths::supportDirectory() / "ferlow.lock"; }

std::filesystem::path RuntimeFiles::controlSocket() { return XdgPaths::supportDirectory() / "ferlow.sock"; }

} // namespace ferlow
