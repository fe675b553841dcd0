#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ferlow {

// A command line that makes no sense; the message is one line for stderr.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What `ferlow` was asked to do.
struct CommandLine {
    enum class Command { help, version, headless, pair, list, forget, agreeTerms, uninstall };

    Command command = Command::help;
    std::optional<std::uint16_t> port; // --port N
    bool agreeTerms = false;           // --agree-terms alongside --headless or --pair
    bool yes = false;                  // --yes: uninstall without asking
    std::string phone;                 // --forget's name or id

    // The arguments after the program name. Throws UsageError.
    static CommandLine parse(const std::vector<std::string_view>& arguments);

    static const std::string_view help;

    // Exit statuses.
    static constexpr int ok = 0, failed = 1, portBusy = 2, usage = 64; // 64: EX_USAGE of sysexits.h
};

} // namespace ferlow
