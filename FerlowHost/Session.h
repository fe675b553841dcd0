#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "FerlowCore/MacMessage.h"
#include "FerlowCore/MessageSocket.h"
#include "FerlowCore/Pairing.h"
#include "FerlowCore/PhoneMessage.h"
#include "FerlowCore/SealingChannel.h"
#include "FerlowInput/Pacer.h"
#include "FerlowInput/Watchdog.h"

namespace ferlow {

// The computer's record of one phone connection, from the WebSocket upgrade
// until it closes. The session controller drives every transition; a session
// itself only knows how to send a sealed message. Used on the I/O queue only.
class Session final {
public:
    using Clock = Watchdog::Clock;

    // Where the connection stands in the handshake. The sealing channel and
    // the pairing it was keyed from exist only while awaiting the hi and once
    // active.
    class State {
    public:
        enum class Kind { awaitingHello, awaitingHi, active, closed };

        static State awaitingHello() { return State(Kind::awaitingHello, nullptr, std::nullopt); }
        static State awaitingHi(std::unique_ptr<SealingChannel> channel, Pairing pairing)
        {
            return State(Kind::awaitingHi, std::move(channel), std::move(pairing));
        }
        static State active(std::unique_ptr<SealingChannel> channel, Pairing pairing)
        {
            return State(Kind::active, std::move(channel), std::move(pairing));
        }
        static State closed() { return State(Kind::closed, nullptr, std::nullopt); }

        Kind kind() const { return m_kind; }
        SealingChannel* channel() const { return m_channel.get(); }
        const Pairing* pairing() const { return m_pairing ? &*m_pairing : nullptr; }
        std::unique_ptr<SealingChannel> takeChannel() { return std::move(m_channel); }

    private:
        State(Kind kind, std::unique_ptr<SealingChannel> channel, std::optional<Pairing> pairing)
            : m_kind(kind), m_channel(std::move(channel)), m_pairing(std::move(pairing)) { }
        Kind m_kind;
        std::unique_ptr<SealingChannel> m_channel;
        std::optional<Pairing> m_pairing;
    };

    struct Pending {
        double at; // seconds on the controller's clock
        PhoneMessage message;
        // The second half of a split move or scroll: when nothing follows it
        // yet, it may wait a little for the wake-up of the phone's next
        // message rather than take one of its own.
        bool rides = false;
    };

    static constexpr double watchdogTimeout = 0.5;
    static constexpr double minBuffer = 0.006;
    static constexpr double maxBuffer = 0.024;
    static constexpr double catchUpSpacing = 0.004;
    static constexpr std::size_t pacerWindow = 120;

    Session(std::shared_ptr<MessageSocket> socket, Clock now);

    // Seals and sends `message`, only while active. A message that cannot be
    // encoded is dropped without using up a counter value.
    void send(const MacMessage& message);

    bool isActive() const { return state.kind() == State::Kind::active; }

    const std::shared_ptr<MessageSocket> socket;
    State state = State::awaitingHello();
    Watchdog watchdog;
    Pacer pacer;
    std::deque<Pending> pending;
    std::optional<std::string> deviceName;
    std::optional<double> lastStamp; // of the previous stamped input message
    bool toldUntyped = false;        // the phone heard of characters that could not be typed
    const double acceptedAt; // when the connection was accepted
};

} // namespace ferlow
