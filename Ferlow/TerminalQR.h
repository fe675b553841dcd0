#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Ferlow/QRCode.h"

namespace ferlow {

// A QR code drawn in a terminal with Unicode half blocks: each character
// cell holds two modules, one above the other, so the modules come out
// square in the usual 1:2 cell.
//
// Sized for an 80x24 terminal: the code with its quiet zone takes at most
// 21 lines, so that three lines printed under it (where Ferlow listens, how
// it moves the pointer, the countdown) stay on screen with it.
struct TerminalQR {
    enum class Colours {
        // Dark modules are the text's own colour: right on a light
        // background, inverted on a dark one. For files and pipes.
        none,
        // Black on bright white (ANSI SGR 30 and 107), readable whatever
        // the terminal's theme.
        forced,
    };

    static constexpr int maxLines = 21;
    // Light modules around the symbol. ISO/IEC 18004 asks for four; with
    // two, a pairing URL's symbol (version 5, 37 modules) fits maxLines, and
    // readers still find it, as on a terminal the zone is drawn light
    // whatever the theme (Colours::forced).
    static constexpr int quietZone = 2;

    // The code of `text` as the terminal draws it: error correction level M,
    // or L when M's symbol would take more than maxLines and L's is smaller.
    // Absent when the text fits no symbol.
    static std::optional<QRCode> encode(std::string_view text);
    // How many lines render() takes for `code`.
    static int lines(const QRCode& code);
    // One line per two module rows, each ending in "\n".
    static std::string render(const QRCode& code, Colours colours);
};

} // namespace ferlow
