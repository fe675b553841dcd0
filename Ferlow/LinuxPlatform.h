#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Ferlow/MainContext.h"
#include "Ferlow/Platform.h"
#include "FerlowHost/IOQueue.h"

namespace ferlow {

// The one place that puts the Linux platform layer together for the app
// model: the settings file, the input backend, the desktop's displays,
// pointer, front application and settings, opening at login, the folders
// and the uninstall steps.
struct LinuxPlatform {
    // Problems the user should hear about (a key file with a mistake, an
    // input backend that was lost), one line each, on the main context.
    using Tell = std::function<void(const std::string& problem)>;

    // Chooses the input backend now. `main` receives the desktop's change
    // notifications, `io` runs the poster's own timers; both must outlive
    // what is returned.
    static Platform make(MainContext& main, IOQueue& io, Tell tell);

    // The pad this installation serves: beside the program in a build tree
    // (build/pad), else the installed copy.
    static std::filesystem::path bundledPadDirectory();

    // Removes the autostart entry, the settings folder and the data folder,
    // and returns what the user must still do by hand.
    static std::vector<std::string> uninstall();

    // The program file that is running.
    static std::filesystem::path program();
    // Whether that program is an installed one, with its pad in
    // share/ferlow/pad beside it, rather than one in a build tree.
    static bool installed();
};

} // namespace ferlow
