#pragma once

#include "Ferlow/CommandLine.h"

namespace ferlow {

// Carries out one `ferlow` command line. Commands that change state go
// through the running instance when there is one (so a connected phone
// hears about it at once), and act on the files directly when there is not.
// Normal output goes to stdout, one line at a time; errors are one line on
// stderr.
class CommandRunner final {
public:
    explicit CommandRunner(CommandLine line) : m_line(std::move(line)) { }

    // The process's exit status.
    int run();

    // A second launch of the tray app: the running Ferlow opens its status
    // window. The exit status.
    static int showRunningInstance();

private:
    int pairThroughInstance();
    int list(bool running);
    int forget(bool running);
    int agreeTerms(bool running);
    bool confirmUninstall();
    int uninstall(bool running);

    CommandLine m_line;
};

} // namespace ferlow
