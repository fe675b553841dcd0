#include "Ferlow/Console.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "Ferlow/TerminalQR.h"
#include "FerlowCore/Terms.h"
#include "FerlowCore/UTF8.h"

namespace ferlow {

namespace {

bool countdownOpen = false; // a countdown is drawn on the current line

std::string plural(long long count, std::string_view unit)
{
    return std::to_string(count) + " " + std::string(unit) + (count == 1 ? "" : "s");
}

} // namespace

bool Console::interactive() { return ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO); }

bool Console::outputIsTerminal() { return ::isatty(STDOUT_FILENO); }

void Console::say(std::string_view line)
{
    endCountdown();
    const std::string shown = UTF8::printable(line);
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Console::error(std::string_view line)
{
    endCountdown();
    const std::string shown = UTF8::printable(line);
    std::fprintf(stderr, "ferlow: %s\n", shown.c_str());
    std::fflush(stderr);
}

bool Console::confirm(std::string_view question)
{
    if (!interactive())
        return false;
    endCountdown();
    std::fprintf(stdout, "%.*s [y/N] ", static_cast<int>(question.size()), question.data());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    for (auto& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

bool Console::showPairingCode(const std::string& url)
{
    const auto code = TerminalQR::encode(url);
    if (!code)
        return false;
    say("Scan with your phone\u2019s camera");
    say(url);
    say("Phone and computer need to be on the same Wi-Fi.");
    const auto drawing = TerminalQR::render(
        *code, outputIsTerminal() ? TerminalQR::Colours::forced : TerminalQR::Colours::none);
    std::fwrite(drawing.data(), 1, drawing.size(), stdout);
    std::fflush(stdout);
    return true;
}

std::string Console::countdown(long long secondsLeft)
{
    const auto seconds = std::max(0LL, secondsLeft);
    char text[64];
    std::snprintf(text, sizeof text, "Code works for %lld:%02lld", seconds / 60, seconds % 60);
    return text;
}

void Console::showCountdown(long long secondsLeft)
{
    if (!outputIsTerminal()) {
        say(countdown(secondsLeft));
        return;
    }
    std::fprintf(stdout, "\r\x1b[K%s", countdown(secondsLeft).c_str());
    std::fflush(stdout);
    countdownOpen = true;
}

void Console::endCountdown()
{
    if (!countdownOpen)
        return;
    countdownOpen = false;
    std::fputc('\n', stdout);
}

void Console::showPaired(const std::string& name)
{
    say("Paired with " + name);
    say("Use the pad on your phone to move the pointer.");
}

void Console::showKeptAside(const KeptAside& kept)
{
    error("couldn't read " + kept.file.string() + "; it is kept as " + kept.aside.string());
}

void Console::showExpired()
{
    say("This code has expired");
    say("Run ferlow --pair for a new one.");
}

std::string Console::lastUsed(std::optional<double> lastUsedAt, double now)
{
    if (!lastUsedAt)
        return "Not used yet";
    const double ago = std::max(0.0, now - *lastUsedAt);
    if (ago < 60)
        return "Last used just now";
    if (ago < 3600)
        return "Last used " + plural(static_cast<long long>(ago / 60), "minute") + " ago";
    if (ago < 86400)
        return "Last used " + plural(static_cast<long long>(ago / 3600), "hour") + " ago";
    return "Last used " + plural(static_cast<long long>(ago / 86400), "day") + " ago";
}

bool Console::askTerms()
{
    say("Before you start");
    say("  \u2022 Ferlow is alpha software, provided as is, with no warranty.");
    say("  \u2022 It controls this computer for the phone you pair. Use it only on computers you\u2019re allowed to "
        "control.");
    say("  \u2022 Features, pricing or availability may change, and an update may be needed to keep using it.");
    say("  \u2022 What you do stays on your own network. Ferlow only asks its website which version is current.");
    say("Please read the Terms of Use (" + std::string(Terms::termsURL) + ") and Privacy Policy ("
        + std::string(Terms::privacyURL) + ").");
    return confirm("Agree and continue?");
}

} // namespace ferlow
