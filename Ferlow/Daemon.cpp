#include "Ferlow/Daemon.h"

#include <csignal>

#include "Ferlow/CommandRunner.h"
#include "Ferlow/Console.h"
#include "Ferlow/LinuxPlatform.h"
#include "Ferlow/PairingCountdown.h"
#include "Ferlow/PhoneList.h"
#include "FerlowCore/Terms.h"

namespace ferlow {

Daemon::Daemon(const CommandLine& line, bool showPairing) : m_line(line), m_wantsPairing(showPairing)
{
    AppModel::Options options;
    // A daemon is started at login by its service manager, not by a
    // desktop autostart entry it would make for itself.
    options.offerOpenAtLogin = false;
    m_model = std::make_unique<AppModel>(
        m_main, m_io, LinuxPlatform::make(m_main, Console::error), AppEnvironment::fromProcess(), std::move(options));
    if (m_line.port)
        m_model->setPort(*m_line.port);
}

Daemon::~Daemon()
{
    m_control.reset();
    m_model.reset(); // ends the sessions while the I/O queue still runs
}

int Daemon::run()
{
    try {
        m_control = std::make_unique<ControlChannel>(m_main.context(), CommandRunner::controlSocket(),
            [this](const nlohmann::json& request, const ControlChannel::Reply& reply) { handle(request, reply); });
    } catch (const std::system_error& failure) {
        Console::error("other ferlow commands cannot reach this one: " + std::string(failure.what()));
    }
    m_signals.add(SIGINT);
    m_signals.add(SIGTERM);
    m_signals.async_wait([this](const std::error_code& error, int) {
        if (!error)
            shutdown(CommandLine::ok);
    });

    m_model->onTermsNeeded = [] {
        Console::error("newer terms of use need your agreement, so Ferlow stopped listening. Read them at "
            + std::string(Terms::termsURL) + ", then run: ferlow --agree-terms");
    };
    m_observer = m_model->observe([this](AppModel::Field field) {
        if (field == AppModel::Field::pairings && m_offer) {
            for (const auto& pairing : m_model->pairings()) {
                if (pairing.id == m_offer->pairing.id) {
                    Console::showPaired(pairing.name);
                    m_offer.reset();
                    m_pairingTimer.reset();
                }
            }
        }
    });

    m_model->start();
    if (m_line.agreeTerms)
        m_model->agreeToTerms();
    if (m_model->termsNeeded()) {
        if (Console::interactive()) {
            if (!Console::askTerms()) {
                Console::error("Ferlow needs your agreement to its terms of use to run.");
                return CommandLine::failed;
            }
            m_model->agreeToTerms();
        } else {
            Console::error("Ferlow needs your agreement to its terms of use (" + std::string(Terms::termsURL)
                + ") before it listens. Run: ferlow --agree-terms");
        }
    }
    if (const auto& error = m_model->serverError()) {
        Console::error(*error);
        return error->starts_with("Port ") ? CommandLine::portBusy : CommandLine::failed;
    }
    if (m_model->serverRunning())
        announce();

    m_main.run();
    return m_status;
}

void Daemon::announce()
{
    Console::say("Ferlow listening on " + m_model->address());
    Console::say("Input: " + m_model->inputBackend());
    if (m_wantsPairing || m_model->pairings().empty())
        showPairing(m_wantsPairing);
    m_wantsPairing = false;
}

void Daemon::showPairing(bool asked)
{
    // The code carries the pairing's secret: it is drawn only on a terminal,
    // never into a log, unless someone asked for it by name.
    if (!asked && !Console::outputIsTerminal()) {
        Console::say("No phone is paired yet. To pair one, run in a terminal: ferlow --pair");
        return;
    }
    m_offer = m_model->addPhone();
    if (!m_offer || !Console::showPairingCode(m_offer->url)) {
        Console::error("cannot make a pairing code for the host name \u201C" + m_model->localHostName() + "\u201D");
        m_offer.reset();
        return;
    }
    m_offerMadeAt = m_main.now();
    Console::showCountdown(PairingCountdown::secondsLeft(0));
    m_pairingTimer = m_main.every(1.0, [this] { tickPairing(); });
}

void Daemon::tickPairing()
{
    const auto left = PairingCountdown::secondsLeft(m_main.now() - m_offerMadeAt);
    if (left == 0) {
        Console::showExpired();
        m_offer.reset();
        m_pairingTimer.reset();
        return;
    }
    if (Console::outputIsTerminal())
        Console::showCountdown(left);
}

nlohmann::json Daemon::phones()
{
    m_model->refresh();
    return PhoneList::encode(m_model->pairings(), m_model->connectedDevice().has_value());
}

void Daemon::handle(const nlohmann::json& request, const ControlChannel::Reply& reply)
{
    const auto failure = [&](const std::string& message) { reply({{"ok", false}, {"error", message}}, {}); };
    const auto field = [&](const char* key) {
        const auto found = request.find(key);
        return found != request.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    const std::string operation = field("do");

    if (operation == "pair") {
        const auto offer = m_model->addPhone();
        if (!offer)
            return failure("cannot make a pairing code for the host name \u201C" + m_model->localHostName() + "\u201D");
        return reply({{"ok", true}, {"url", offer->url}, {"id", offer->pairing.id}}, {});
    }
    if (operation == "pairing") {
        const auto pairing = m_model->store().lookup(field("id"));
        if (!pairing)
            return reply({{"ok", true}, {"state", "gone"}}, {});
        if (pairing->pending())
            return reply({{"ok", true}, {"state", "pending"}}, {});
        return reply({{"ok", true}, {"state", "used"}, {"name", pairing->name}}, {});
    }
    if (operation == "list")
        return reply({{"ok", true}, {"phones", phones()}}, {});
    if (operation == "forget") {
        const auto found = PhoneList::find(m_model->store().all(), field("phone"));
        if (const auto* problem = std::get_if<std::string>(&found))
            return failure(*problem);
        const auto& pairing = std::get<Pairing>(found);
        m_model->remove(pairing);
        return reply({{"ok", true}, {"name", pairing.name}}, {});
    }
    if (operation == "agree-terms") {
        const bool wasListening = m_model->serverRunning();
        m_model->agreeToTerms();
        if (!wasListening && m_model->serverRunning())
            announce();
        if (const auto& error = m_model->serverError())
            return failure(*error);
        return reply({{"ok", true}}, {});
    }
    if (operation == "uninstall") {
        const auto steps = m_model->uninstall();
        return reply({{"ok", true}, {"steps", steps}}, [this] { shutdown(CommandLine::ok); });
    }
    failure("unknown request \u201C" + operation + "\u201D");
}

void Daemon::shutdown(int status)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_status = status;
    m_pairingTimer.reset();
    Console::endCountdown();
    m_model->stop();
    m_main.stop();
}

} // namespace ferlow
