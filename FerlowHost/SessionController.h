#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FerlowCore/ActionButton.h"
#include "FerlowCore/Bytes.h"
#include "FerlowCore/MessageSocket.h"
#include "FerlowCore/PairingStore.h"
#include "FerlowCore/PhoneMessage.h"
#include "FerlowCore/TrackpadPrefs.h"
#include "FerlowCore/UpdateStatus.h"
#include "FerlowHost/Session.h"
#include "FerlowInput/EventPoster.h"
#include "FerlowInput/Translator.h"

namespace ferlow {

// The computer's end of the phone protocol. It runs the handshake that proves
// the phone holds a pairing secret, agrees fresh session keys, keeps one phone
// in charge at a time, turns the phone's sealed messages into paced input
// events and pushes configuration changes to the connected phone.
//
// Everything runs on the I/O queue: the socket handlers, tick(), drain(), the
// broadcasts and revoke(). The suppliers are asked afresh each time a value is
// needed. Create it with std::make_shared: the socket handlers hold it weakly.
class SessionController final : public std::enable_shared_from_this<SessionController> {
public:
    using Clock = std::function<double()>; // monotonic seconds

    struct Suppliers {
        std::function<bool()> accessibility;                  // may input be posted now
        std::function<std::vector<ActionButton>()> actions;   // the user's buttons
        std::function<std::string()> macName;                 // this computer's display name
        std::function<TrackpadPrefs()> prefs;
        std::function<std::optional<AppContext>()> context;   // buttons for the front application
        std::function<UpdateStatus()> update;
        std::function<bool()> typing;                         // can text be typed (default: no)
        Clock now;                                            // default: the monotonic clock
    };

    // The three handlers the socket's owner calls. Each holds the controller
    // and the session weakly and does nothing once either is gone.
    struct Handlers {
        std::function<void(std::string_view)> onText;
        std::function<void(ByteView)> onBinary;
        std::function<void()> onClose;
    };

    // Seconds between a stamped move and its second half.
    static constexpr double splitOffset = 1.0 / 120.0;
    // Messages due within this much of now are played at once.
    static constexpr double drainTolerance = 0.0005;
    // How long after its watchdog's timeout a silent phone's wake comes, so
    // that the timeout has passed (strictly) by then.
    static constexpr double watchdogSlack = 0.001;
    // When a message arrives, the last queued entry or a second half that
    // falls due within this share of the pacer's buffer is played at once:
    // the arrival has woken the queue already, and a wake-up of its own a
    // moment later would cost more than the moment is worth.
    static constexpr double arrivalShare = 0.25;
    // A lone second half waits up to this long past its time for the next
    // message's arrival to play it, instead of a wake-up of its own.
    static constexpr double rideAllowance = splitOffset / 2;
    // A stamped move or scroll this long after the previous stamped input
    // starts a gesture. It is never split: there is no earlier sample to
    // spread it towards, and halving it would only show half of it late.
    static constexpr double gestureGap = 0.05;
    // A connection that has not finished the handshake by then is closed, so
    // idle sockets cannot hold the server's connection slots for ever.
    static constexpr double handshakeLimit = 30;
    // Seconds of backlog a session may queue. Beyond it, adjacent moves and
    // adjacent ongoing scroll steps are merged and the queue plays at the
    // catch-up pace, so a burst after a network stall catches up within
    // this instead of replaying the stall long after the finger stopped.
    static constexpr double maxBacklog = 0.25;
    // Queued messages beyond this many are played at once rather than kept:
    // a phone that sends faster than it can be paced cannot grow the queue
    // without bound, and nothing it sent is lost.
    static constexpr std::size_t maxPending = 512;

    static constexpr std::string_view unknownPairingReply = R"({"t":"unknown"})";

    SessionController(std::shared_ptr<PairingStore> store, std::shared_ptr<Translator> translator,
        std::shared_ptr<EventPoster> poster, Suppliers suppliers);

    std::function<void()> onChange;           // the set of established sessions changed
    // When drain() is next needed, on now()'s clock. Each request replaces
    // the one before; with nothing queued none is made, and a drain() at a
    // time asked for earlier finds nothing to do.
    std::function<void(double)> requestWake;
    // A connection was accepted: tick() is needed again, for as long as
    // needsTick() says.
    std::function<void()> requestTick;
    std::function<void(const std::string&)> trace; // one line per paced input message

    Handlers accept(std::shared_ptr<MessageSocket> socket);
    void tick();
    // Whether tick() has anything to look after: a connection, or an
    // application switcher still held open after its phone left.
    bool needsTick() const;
    void drain();
    void revoke(const std::string& id);

    void broadcastAccessibility(bool granted);
    void broadcastActions();
    void broadcastPrefs();
    // A required update also lets go of everything the established phones
    // hold, as their ending would, since their input is refused from then on.
    void broadcastUpdate();
    void broadcastContext();
    // Characters the desktop could not type (the keyboard layout has no key
    // for them): each established phone hears of it once per session.
    void reportUntyped(const std::string& characters);

    std::optional<std::string> activeDeviceName() const;
    // The controller's clock, on which requestWake's times are given.
    double now() const { return m_suppliers.now(); }
    std::size_t sessionCount() const { return m_sessions.size(); }

    // The pairing id and the phone's nonce from a plaintext hello: a JSON
    // object with "t" "hello", integer "v" 1, a string "id" and a string "n"
    // holding exactly 16 bytes in Base64URL. Nothing for anything else.
    struct Hello {
        std::string id;
        Bytes nonce;
    };
    static std::optional<Hello> parseHello(std::string_view text);

    // A stamped move, or an ongoing scroll, as two halves; otherwise nothing.
    static std::optional<std::pair<PhoneMessage, PhoneMessage>> split(const PhoneMessage& message);
    // Two adjacent messages as one that moves exactly as far: two moves, or
    // two ongoing scroll steps of the same phase and momentum; otherwise nothing.
    static std::optional<PhoneMessage> merge(const PhoneMessage& first, const PhoneMessage& second);
    // Bytes from the secure random source; throws RandomSourceError.
    static Bytes random(std::size_t count);

private:
    void text(std::string_view text, const std::shared_ptr<Session>& session);
    void binary(ByteView bytes, const std::shared_ptr<Session>& session);
    void becomeActive(const std::shared_ptr<Session>& session, const PhoneMessage::Hi& hi);
    void handle(const PhoneMessage& message, std::optional<double> stamp, const std::shared_ptr<Session>& session);
    void playMessage(const PhoneMessage& message);
    void drainWithin(double early);
    static void boundBacklog(Session& session, double now);
    void letGo(Session& session);
    void ended(const std::shared_ptr<Session>& session);
    void fail(const std::shared_ptr<Session>& session);
    void post(const std::vector<PhoneMessage>& messages);
    void broadcast(const MacMessage& message);
    std::vector<std::shared_ptr<Session>> snapshot() const { return m_sessions; }

    std::shared_ptr<PairingStore> m_store;
    std::shared_ptr<Translator> m_translator;
    std::shared_ptr<EventPoster> m_poster;
    Suppliers m_suppliers;
    std::vector<std::shared_ptr<Session>> m_sessions; // accepted and not yet ended, in accept order
};

} // namespace ferlow
