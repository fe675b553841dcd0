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
        m_main, m_io, LinuxPlatform::make(m_main, m_io, Console::error), AppEnvironment::fromProcess(), std::move(options));
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
    // No window to show for a second tray app.
    m_requests = std::make_unique<ControlRequests>(
        *m_model, ControlRequests::Actions {[this] { agree(); }, [this] { shutdown(CommandLine::ok); }, {}});
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
    for (const auto& kept : m_model->keptAside())
        Console::showKeptAside(kept);
    m_observer = m_model->observe([this](AppModel::Field field) {
        if (field == AppModel::Field::localHost)
            addressChanged();
        // One line when saving starts to fail, one when it works again.
        if (field == AppModel::Field::saveProblem && m_model->saveProblem().has_value() != m_saveFailing) {
            m_saveFailing = !m_saveFailing;
            Console::error(m_saveFailing ? "Ferlow can't save its files: " + *m_model->saveProblem()
                                         : std::string("Ferlow can save its files again."));
        }
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
    // The desktop's own dialog, where it asks one (the RemoteDesktop portal
    // on Wayland), unless a remembered consent is being restored or was just
    // refused; a refusal is told in one line and the pad shows "not allowed".
    if (!m_model->accessibilityGranted() && m_model->permissions().request() == Permissions::Request::none)
        m_model->permissions().prompt();
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
    if (m_wantsPairing || m_model->pairings().empty())
        offerPairing(m_wantsPairing);
    m_wantsPairing = false;
    showAddress();
}

void Daemon::offerPairing(bool asked)
{
    // The code carries the pairing's secret: it is drawn only on a terminal,
    // never into a log, unless someone asked for it by name.
    if (!asked && !Console::outputIsTerminal()) {
        Console::say("No phone is paired yet. To pair one, run in a terminal: ferlow --pair");
        return;
    }
    m_offer = m_model->addPhone();
    m_offerMadeAt = m_main.now();
    if (m_offer)
        m_pairingTimer = m_main.every(1.0, [this] { tickPairing(); });
    else
        cannotPair();
}

void Daemon::showAddress()
{
    if (!m_model->inputProblem().empty())
        Console::say(m_model->inputProblem());
    if (!m_model->localHost().published)
        Console::say(AppModel::addressNotice);
    // Then the code: the short lines under it stay on screen with it.
    if (m_offer && !Console::showPairingCode(m_offer->url)) {
        cannotPair();
        m_offer.reset();
        m_pairingTimer.reset();
    }
    Console::say("Ferlow listening on " + m_model->address());
    Console::say("Input: " + m_model->inputBackend());
    if (m_offer)
        Console::showCountdown(PairingCountdown::secondsLeft(m_main.now() - m_offerMadeAt));
}

void Daemon::addressChanged()
{
    if (!m_model->serverRunning())
        return;
    if (m_offer) {
        if (auto url = m_model->pairingURL(m_offer->pairing)) {
            m_offer->url = std::move(*url);
        } else {
            cannotPair();
            m_offer.reset();
            m_pairingTimer.reset();
        }
    }
    showAddress();
}

void Daemon::cannotPair()
{
    Console::error("cannot make a pairing code for the host name \u201C" + m_model->localHost().host + "\u201D");
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
