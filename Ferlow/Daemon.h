#pragma once

#include <memory>
#include <optional>

#include <asio/signal_set.hpp>
#include <nlohmann/json.hpp>

#include "Ferlow/AppModel.h"
#include "Ferlow/AsioMainContext.h"
#include "Ferlow/CommandLine.h"
#include "Ferlow/ControlChannel.h"
#include "Ferlow/ControlRequests.h"
#include "FerlowHost/IOQueue.h"

namespace ferlow {

// `ferlow --headless`: the app model under an Asio main context on the
// calling thread, with no window. It says where it listens and which input
// backend it uses (again whenever where phones find the computer changes),
// shows a pairing code in the terminal while no phone is paired, answers the
// other `ferlow` commands over the control channel, and stops on SIGINT or
// SIGTERM by ending every session the way a phone leaving does, so nothing
// stays pressed.
class Daemon final {
public:
    // The caller holds the instance lock.
    Daemon(const CommandLine& line, bool showPairing);
    ~Daemon();

    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Runs until a signal or an uninstall; the exit status.
    int run();

private:
    void announce();
    void offerPairing(bool asked);
    // Where phones find this computer and how it moves the pointer, under
    // the pairing code while one is offered.
    void showAddress();
    void addressChanged();
    void cannotPair();
    void tickPairing();
    void agree();
    void shutdown(int status);

    const CommandLine& m_line;
    AsioMainContext m_main;
    IOQueue m_io;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<ControlRequests> m_requests;
    std::unique_ptr<ControlChannel> m_control;
    asio::signal_set m_signals {m_main.context()};

    bool m_wantsPairing;
    std::optional<AppModel::PairingOffer> m_offer;
    double m_offerMadeAt = 0;
    std::unique_ptr<MainContext::Timer> m_pairingTimer;
    std::unique_ptr<MainContext::Timer> m_stopTimer;
    std::shared_ptr<void> m_observer;
    int m_status = CommandLine::ok;
    bool m_stopping = false;
    bool m_saveFailing = false;
};

} // namespace ferlow
