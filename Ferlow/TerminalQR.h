#pragma once

#include <string>

#include "Ferlow/QRCode.h"

namespace ferlow {

// A QR code drawn in a terminal with Unicode half blocks: each character
// cell holds two modules, one above the other, so the modules come out
// square in the usual 1:2 cell. The quiet zone is drawn too. Pairing URLs
// need at most a version 9 symbol: 61 columns with the quiet zone, so the
// code fits an 80-column terminal.
struct TerminalQR {
    enum class Colours {
        // Dark modules are the text's own colour: right on a light
        // background, inverted on a dark one. For files and pipes.
        none,
        // Black on bright white (ANSI SGR 30 and 107), readable whatever
        // the terminal's theme.
        forced,
    };

    // One line per two module rows, each ending in "\n".
    static std::string render(const QRCode& code, Colours colours);
};

} // namespace ferlow
