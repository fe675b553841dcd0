#include "Ferlow/CommandRunner.h"

#include <chrono>
#include <thread>

#include "Ferlow/AppModel.h"
#include "Ferlow/Console.h"
#include "Ferlow/ControlChannel.h"
#include "Ferlow/Daemon.h"
#include "Ferlow/InstanceLock.h"
#include "Ferlow/LinuxPlatform.h"
#include "Ferlow/PairingCountdown.h"
#include "Ferlow/PhoneList.h"
#include "Ferlow/RuntimeFiles.h"
#include "FerlowCore/PairingStore.h"
#include "FerlowCore/ReleaseInfo.h"
#include "FerlowCore/Terms.h"
#include "FerlowLinux/JsonSettingsStore.h"
#include "FerlowLinux/XdgPaths.h"

namespace ferlow {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto answerLimit = 10s;
constexpr auto uninstallLimit = 60s;

std::string processText(const InstanceLock& lock)
{
    return lock.holder() ? " (process " + std::to_string(*lock.holder()) + ")" : std::string();
}

// The running instance's answer, or a one-line complaint and nothing.
std::optional<nlohmann::json> askInstance(const nlohmann::json& request, std::chrono::milliseconds limit = answerLimit)
{
    const auto reply = ControlChannel::ask(RuntimeFiles::controlSocket(), request, limit);
    if (!reply || !reply->is_object()) {
        Console::error("Ferlow is running but does not answer");
        return std::nullopt;
    }
    if (!reply->value("ok", false)) {
        Console::error(reply->value("error", std::string("the running Ferlow refused")));
        return std::nullopt;
    }
    return reply;
}

void reportUninstall(const std::vector<std::string>& steps)
{
    if (steps.empty()) {
        Console::say("Ferlow is uninstalled.");
        Console::say("Nothing of it is left on this computer.");
        return;
    }
    Console::say("Ferlow is almost uninstalled.");
    Console::say("One more step for you:");
    for (const auto& step : steps)
        Console::say("\u2022 " + step);
}

} // namespace

int CommandRunner::run()
{
    using Command = CommandLine::Command;
    if (m_line.command == Command::help) {
        std::fwrite(CommandLine::help.data(), 1, CommandLine::help.size(), stdout);
        return CommandLine::ok;
    }
    if (m_line.command == Command::version) {
        Console::say("ferlow " + std::string(AppModel::currentVersion));
        return CommandLine::ok;
    }

    if (!XdgPaths::makePrivateDirectory(XdgPaths::supportDirectory())) {
        Console::error("cannot use the folder " + XdgPaths::supportDirectory().string());
        return CommandLine::failed;
    }
    if (const auto problem = RuntimeFiles::prepare()) {
        Console::error(*problem);
        return CommandLine::failed;
    }

    if (m_line.command == Command::headless || m_line.command == Command::pair) {
        // A daemon holds it for its life.
        const InstanceLock lock(RuntimeFiles::lockFile(), RuntimeFiles::gateFile(), InstanceLock::Role::app);
        if (lock.outcome() == InstanceLock::Outcome::failed) {
            Console::error(lock.problem());
            return CommandLine::failed;
        }
        if (lock.outcome() == InstanceLock::Outcome::acquired)
            return Daemon(m_line, m_line.command == Command::pair).run();
        if (m_line.command == Command::pair)
            return pairThroughInstance();
        Console::error("Ferlow is already running" + processText(lock));
        return CommandLine::failed;
    }

    // Asked before anything is locked: the question may wait on a person.
    if (m_line.command == Command::uninstall && !confirmUninstall())
        return CommandLine::failed;
    // While no Ferlow runs, the files are this command's until it ends.
    const InstanceLock lock(RuntimeFiles::lockFile(), RuntimeFiles::gateFile(), InstanceLock::Role::command);
    if (lock.outcome() == InstanceLock::Outcome::failed) {
        Console::error(lock.problem());
        return CommandLine::failed;
    }
    const bool running = lock.outcome() == InstanceLock::Outcome::held;

    switch (m_line.command) {
    case Command::list:
        return list(running);
    case Command::forget:
        return forget(running);
    case Command::agreeTerms:
        return agreeTerms(running);
    case Command::uninstall:
        return uninstall(running);
    case Command::headless:
    case Command::pair:
    case Command::help:
    case Command::version:
        break;
    }
    return CommandLine::ok;
}

int CommandRunner::showRunningInstance()
{
    return askInstance({{"do", "show"}}) ? CommandLine::ok : CommandLine::failed;
}

int CommandRunner::pairThroughInstance()
{
    const auto offer = askInstance({{"do", "pair"}});
    if (!offer)
        return CommandLine::failed;
    auto url = offer->value("url", std::string());
    const auto id = offer->value("id", std::string());
    const auto show = [&url](const nlohmann::json& located) {
        if (const auto notice = located.value("notice", std::string()); !notice.empty())
            Console::say(notice);
        if (Console::showPairingCode(url))
            return true;
        Console::error("cannot draw a code for " + url);
        return false;
    };
    if (!show(*offer))
        return CommandLine::failed;
    const auto madeAt = std::chrono::steady_clock::now();
    Console::showCountdown(PairingCountdown::secondsLeft(0));
    // The running Ferlow knows when the phone has used the code, and where
    // phones find the computer now. Ticks fall on whole seconds from madeAt,
    // so the time each question takes does not add up into a skipped second.
    for (auto tick = madeAt + 1s;; tick += 1s) {
        std::this_thread::sleep_until(tick);
        const auto left = PairingCountdown::secondsLeft(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - madeAt).count());
        const auto state = askInstance({{"do", "pairing"}, {"id", id}});
        if (!state)
            return CommandLine::failed;
        if (state->value("state", "") == "used") {
            Console::showPaired(state->value("name", std::string()));
            return CommandLine::ok;
        }
        if (state->value("state", "") == "gone" || left == 0) {
            Console::showExpired();
            return CommandLine::failed;
        }
        if (const auto now = state->value("url", url); now != url && !now.empty()) {
            url = now;
            Console::endCountdown();
            if (!show(*state))
                return CommandLine::failed;
            Console::showCountdown(left);
        } else if (Console::outputIsTerminal()) {
            Console::showCountdown(left);
        }
    }
}

int CommandRunner::list(bool running)
{
    nlohmann::json phones;
    if (running) {
        const auto reply = askInstance({{"do", "list"}});
        if (!reply)
            return CommandLine::failed;
        phones = reply->value("phones", nlohmann::json::array());
    } else {
        PairingStore store(XdgPaths::supportDirectory());
        phones = PhoneList::encode(PhoneList::used(store.all()), false);
    }
    const auto lines = PhoneList::lines(phones, PairingStore::systemClock());
    if (lines.empty())
        Console::say("No phone paired yet");
    for (const auto& line : lines)
        Console::say(line);
    return CommandLine::ok;
}

int CommandRunner::forget(bool running)
{
    std::string name;
    if (running) {
        const auto reply = askInstance({{"do", "forget"}, {"phone", m_line.phone}});
        if (!reply)
            return CommandLine::failed;
        name = reply->value("name", m_line.phone);
    } else {
        PairingStore store(XdgPaths::supportDirectory());
        const auto found = PhoneList::find(store.all(), m_line.phone);
        if (const auto* problem = std::get_if<std::string>(&found)) {
            Console::error(*problem);
            return CommandLine::failed;
        }
        name = std::get<Pairing>(found).name;
        store.remove(std::get<Pairing>(found).id);
        if (const auto problem = store.saveProblem()) {
            Console::error("couldn't save: " + *problem);
            return CommandLine::failed;
        }
    }
    Console::say("Forgot " + name + ". It will need a new code to connect again.");
    return CommandLine::ok;
}

int CommandRunner::agreeTerms(bool running)
{
    if (running) {
        if (!askInstance({{"do", "agree-terms"}}))
            return CommandLine::failed;
    } else {
        JsonSettingsStore settings(XdgPaths::configDirectory() / "settings.json");
        std::optional<std::int64_t> terms;
        if (const auto cached = settings.get(UpdateChecker::cacheKey); cached && cached->is_string()) {
            try {
                terms = ReleaseInfo::decode(asBytes(cached->get_ref<const std::string&>())).terms;
            } catch (const std::exception&) {
                // An unreadable cache names no newer terms.
            }
        }
        settings.set(AppModel::termsAcceptedKey, Terms::required(terms));
        if (const auto problem = settings.saveProblem()) {
            Console::error("couldn't save: " + *problem);
            return CommandLine::failed;
        }
    }
    Console::say("You agreed to the terms of use.");
    return CommandLine::ok;
}

bool CommandRunner::confirmUninstall()
{
    if (m_line.yes)
        return true;
    if (!Console::interactive()) {
        Console::error("--uninstall asks before it removes anything: run it in a terminal, or add --yes");
        return false;
    }
    Console::say("Uninstall Ferlow?");
    Console::say("This removes your paired phones, your buttons and settings and Open at Login, "
                 "then tells you how to remove the program itself.");
    return Console::confirm("Uninstall?");
}

int CommandRunner::uninstall(bool running)
{
    if (running) {
        const auto reply = askInstance({{"do", "uninstall"}}, uninstallLimit);
        if (!reply)
            return CommandLine::failed;
        reportUninstall(reply->value("steps", std::vector<std::string> {}));
    } else {
        reportUninstall(LinuxPlatform::uninstall());
    }
    return CommandLine::ok;
}

} // namespace ferlow
