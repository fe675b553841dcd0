#include "Ferlow/CommandLine.h"

#include <charconv>

namespace ferlow {

const std::string_view CommandLine::help =
    "Usage: ferlow [option...]\n"
    "Turns your phone into a trackpad and remote for this computer.\n"
    "Without options it runs in the desktop's tray (or a window where there is none).\n"
    "\n"
    "  --headless          run without a window: serve the phone pad, print a pairing\n"
    "                      code while no phone is paired, stop on SIGINT or SIGTERM\n"
    "  --pair              show a new pairing code (starts Ferlow when it is not running)\n"
    "  --list              list the paired phones\n"
    "  --forget PHONE      remove a paired phone, by name or id\n"
    "  --port N            listen on port N (default 7311) for this run\n"
    "  --agree-terms       agree to the terms of use (with --headless: and run)\n"
    "  --uninstall [--yes] remove Ferlow's data, settings and login entry\n"
    "  --version           print the version\n"
    "  --help              print this help\n"
    "\n"
    "Exit status: 0 done, 1 failed, 2 port busy, 64 bad command line.\n";

namespace {

std::uint16_t portNumber(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        throw UsageError("--port needs a number from 1 to 65535, not \u201C" + std::string(text) + "\u201D");
    return static_cast<std::uint16_t>(value);
}

} // namespace

CommandLine CommandLine::parse(const std::vector<std::string_view>& arguments)
{
    CommandLine line;
    std::optional<Command> command;
    std::string_view commandOption;
    const auto choose = [&](Command chosen, std::string_view option) {
        if (command && *command != chosen)
            throw UsageError(std::string(option) + " cannot be combined with " + std::string(commandOption));
        command = chosen;
        commandOption = option;
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto argument = arguments[i];
        const auto value = [&](std::string_view option) -> std::string_view {
            if (i + 1 >= arguments.size())
                throw UsageError(std::string(option) + " needs a value");
            return arguments[++i];
        };
        if (argument == "--help" || argument == "-h")
            choose(Command::help, argument);
        else if (argument == "--version")
            choose(Command::version, argument);
        else if (argument == "--headless")
            choose(Command::headless, argument);
        else if (argument == "--pair")
            choose(Command::pair, argument);
        else if (argument == "--list")
            choose(Command::list, argument);
        else if (argument == "--forget")
            choose(Command::forget, argument), line.phone = std::string(value(argument));
        else if (argument.starts_with("--forget="))
            choose(Command::forget, "--forget"), line.phone = std::string(argument.substr(9));
        else if (argument == "--uninstall")
            choose(Command::uninstall, argument);
        else if (argument == "--agree-terms")
            line.agreeTerms = true;
        else if (argument == "--yes" || argument == "-y")
            line.yes = true;
        else if (argument == "--port")
            line.port = portNumber(value(argument));
        else if (argument.starts_with("--port="))
            line.port = portNumber(argument.substr(7));
        else
            throw UsageError("unknown option \u201C" + std::string(argument) + "\u201D (see ferlow --help)");
    }

    // --agree-terms is a command of its own, or an addition to a run.
    line.command = command.value_or(line.agreeTerms ? Command::agreeTerms : Command::help);
    const bool runs = line.command == Command::headless || line.command == Command::pair;
    if (line.agreeTerms && !runs && line.command != Command::agreeTerms)
        throw UsageError("--agree-terms cannot be combined with " + std::string(commandOption));
    if (line.command == Command::forget && line.phone.empty())
        throw UsageError("--forget needs the name or id of a paired phone");
    if (line.yes && line.command != Command::uninstall)
        throw UsageError("--yes goes with --uninstall");
    if (line.port && !runs)
        throw UsageError("--port goes with --headless or --pair");
    return line;
}

} // namespace ferlow
