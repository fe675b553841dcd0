#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FerlowCore/PrivateFile.h"

namespace ferlow {

// The terminal side of `ferlow`: what it prints, and the questions it asks.
// Output is written with stdio and flushed by line, so a reader on a pipe
// sees each line as it happens. Lines carry text from elsewhere (a phone's
// name, a file name), so each goes out as UTF8::printable: a terminal is
// never sent a control character it would obey.
struct Console {
    // stdin and stdout are both terminals: questions can be asked and a
    // countdown drawn in place.
    static bool interactive();
    static bool outputIsTerminal();

    static void say(std::string_view line);   // stdout
    static void error(std::string_view line); // stderr, as "ferlow: <line>"

    // Prints `question` and reads an answer; only "y" or "yes" (any case)
    // agrees. No terminal, or end of input, disagrees.
    static bool confirm(std::string_view question);

    // The pairing code: a heading, the URL and the Wi-Fi note, then the QR
    // code last, so that the lines printed next stay on a 24-line screen
    // with it (TerminalQR). False when no code can be drawn.
    static bool showPairingCode(const std::string& url);
    // "Code works for 9:05", from whole seconds left (PairingCountdown).
    static std::string countdown(long long secondsLeft);
    // Draws the countdown in place on a terminal, as a line elsewhere.
    static void showCountdown(long long secondsLeft);
    // Ends a countdown drawn in place, before a line of other output.
    static void endCountdown();

    static void showPaired(const std::string& name);
    // A file found unreadable at start, and where it was moved (stderr).
    static void showKeptAside(const KeptAside& kept);
    static void showExpired();

    // "Last used 5 minutes ago", against the wall clock.
    static std::string lastUsed(std::optional<double> lastUsedAt, double now);

    // The terms of use as the terms window shows them, and the question.
    static bool askTerms();
};

} // namespace ferlow
