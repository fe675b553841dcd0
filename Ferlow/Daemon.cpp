#include "Ferlow/Daemon.h"

#include <csignal>

#include "Ferlow/Console.h"
#include "Ferlow/LinuxPlatform.h"
#include "Ferlow/PairingCountdown.h"
#include "Ferlow/RuntimeFiles.h"
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
    m_requests = std::make_unique<ControlRequests>(
        *m_model, ControlRequests::Actions {[this] { agree(); }, [this] { shutdown(CommandLine::ok); }});
    try {
        m_control = std::make_unique<ControlChannel>(m_main.context(), RuntimeFiles::controlSocket(),
            [this](const nlohmann::json& request, const ControlChannel::Reply& reply) {
                m_requests->answer(request, [reply](ControlRequests::Answer answer) {
                    reply(answer.reply, std::move(answer.afterReply));
                });
            });
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
    m_model->whenServerSettled([this] {
        if (const auto& error = m_model->serverError()) {
            Console::error(*error);
            shutdown(error->starts_with("Port ") ? CommandLine::portBusy : CommandLine::failed);
        } else if (m_model->serverRunning()) {
            announce();
        }
    });

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

void Daemon::agree()
{
    const bool wasListening = m_model->serverRunning();
    m_model->agreeToTerms();
    m_model->whenServerSettled([this, wasListening] {
        if (!wasListening && m_model->serverRunning())
            announce();
    });
}

void Daemon::shutdown(int status)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_status = status;
    m_pairingTimer.reset();
    Console::endCountdown();
    m_model->stop([this] { m_main.stop(); });
    m_stopTimer = m_main.every(AppModel::stopPatience, [this] { m_main.stop(); });
}

} // namespace ferlow
