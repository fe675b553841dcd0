// ferlow: the phone trackpad and remote for this computer, as a command.

#include <csignal>
#include <malloc.h>
#include <cstdio>
#include <string_view>
#include <vector>

#include "Ferlow/CommandRunner.h"
#include "Ferlow/Console.h"
#ifdef FERLOW_WITH_TRAY
#include "FerlowTray/TrayApp.h"
#endif

int main(int argc, char** argv)
{
    // glibc gives every thread that allocates an arena of its own. Ferlow's
    // threads (the I/O queue, GLib's and the watchers') allocate little, and
    // rarely at the same moment: one arena for all keeps their pages together.
    mallopt(M_ARENA_MAX, 1);
    // A reader that goes away must not kill the daemon through its output.
    std::signal(SIGPIPE, SIG_IGN);
    // No arguments: the tray app. Every option is the command line's, and
    // none of them makes a Qt application.
    if (argc <= 1) {
#ifdef FERLOW_WITH_TRAY
        return ferlow::runTrayApp(argc, argv);
#else
        ferlow::Console::error("this build has no tray; run ferlow --headless");
        return ferlow::CommandLine::usage;
#endif
    }
    std::vector<std::string_view> arguments(argv + 1, argv + argc);
    try {
        return ferlow::CommandRunner(ferlow::CommandLine::parse(arguments)).run();
    } catch (const ferlow::UsageError& error) {
        ferlow::Console::error(error.what());
        return ferlow::CommandLine::usage;
    } catch (const std::exception& error) {
        ferlow::Console::error(error.what());
        return ferlow::CommandLine::failed;
    }
}
