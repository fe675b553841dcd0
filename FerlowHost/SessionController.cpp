#include "FerlowHost/SessionController.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "FerlowCore/Base64URL.h"
#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"
#include "FerlowCore/LocalNetworkPolicy.h"
#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/SessionCrypto.h"

namespace ferlow {

namespace {

double monotonicSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::optional<SessionController::Hello> SessionController::parseHello(std::string_view text)
{
    try {
        const auto json = JSONCoding::parse(asBytes(text));
        if (!json.is_object())
            return std::nullopt;
        const auto t = json.find("t");
        if (t == json.end() || !t->is_string() || t->get<std::string>() != "hello")
            return std::nullopt;
        if (JSONCoding::requireInteger(json, "v") != 1)
            return std::nullopt;
        Hello hello;
        hello.id = JSONCoding::requireString(json, "id");
        auto nonce = Base64URL::decode(JSONCoding::requireString(json, "n"));
        if (!nonce || nonce->size() != 16)
            return std::nullopt;
        hello.nonce = std::move(*nonce);
        return hello;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

SessionController::SessionController(std::shared_ptr<PairingStore> store, std::shared_ptr<Translator> translator,
    std::shared_ptr<EventPoster> poster, Suppliers suppliers)
    : m_store(std::move(store))
    , m_translator(std::move(translator))
    , m_poster(std::move(poster))
    , m_suppliers(std::move(suppliers))
{
    if (!m_suppliers.now)
        m_suppliers.now = monotonicSeconds;
    if (!m_suppliers.macName)
        m_suppliers.macName = [] {
            const auto host = LocalNetworkPolicy::localHostName();
            return host == "localhost" ? std::string("Computer") : host;
        };
}

SessionController::Handlers SessionController::accept(std::shared_ptr<MessageSocket> socket)
{
    auto session = std::make_shared<Session>(std::move(socket), m_suppliers.now);
    m_sessions.push_back(session);
    if (requestTick)
        requestTick();

    const std::weak_ptr<SessionController> weakSelf = weak_from_this();
    const std::weak_ptr<Session> weakSession = session;
    Handlers handlers;
    handlers.onText = [weakSelf, weakSession](std::string_view text) {
        const auto self = weakSelf.lock();
        const auto target = weakSession.lock();
        if (self && target)
            self->text(text, target);
    };
    handlers.onBinary = [weakSelf, weakSession](ByteView bytes) {
        const auto self = weakSelf.lock();
        const auto target = weakSession.lock();
        if (self && target)
            self->binary(bytes, target);
    };
    handlers.onClose = [weakSelf, weakSession] {
        const auto self = weakSelf.lock();
        const auto target = weakSession.lock();
        if (self && target)
            self->ended(target);
    };
    return handlers;
}

// A protocol violation: close the socket without a word and end the session.
void SessionController::fail(const std::shared_ptr<Session>& session)
{
    session->socket->close();
    ended(session);
}

void SessionController::text(std::string_view text, const std::shared_ptr<Session>& session)
{
    if (session->state.kind() != Session::State::Kind::awaitingHello)
        return fail(session);
    const auto hello = parseHello(text);
    if (!hello)
        return fail(session);

    const auto pairing = m_store->lookup(hello->id);
    if (!pairing) {
        session->socket->sendText(unknownPairingReply);
        return fail(session);
    }
    Bytes macNonce;
    try {
        macNonce = random(16);
    } catch (const RandomSourceError&) {
        return fail(session); // no session keys from bytes the random source did not fill
    }
    const auto keys = SessionCrypto::deriveKeys(pairing->secret, hello->nonce, macNonce, Role::mac);
    session->state = Session::State::awaitingHi(std::make_unique<SealingChannel>(keys), *pairing);
    session->socket->sendText(R"({"t":"hello","v":1,"n":")" + Base64URL::encode(macNonce) + "\"}");
}

void SessionController::binary(ByteView bytes, const std::shared_ptr<Session>& session)
{
    const auto kind = session->state.kind();
    if (kind != Session::State::Kind::awaitingHi && kind != Session::State::Kind::active)
        return fail(session);

    MessageCodec::Stamped stamped {PhoneMessage::forget(), std::nullopt};
    try {
        const Bytes plaintext = session->state.channel()->open(bytes);
        stamped = MessageCodec::decodePhoneStamped(plaintext);
    } catch (const SessionCryptoError&) {
        return fail(session);
    } catch (const DecodingError&) {
        return fail(session);
    } catch (const MessageCodecError&) {
        return fail(session);
    }

    if (kind == Session::State::Kind::active)
        return handle(stamped.message, stamped.ts, session);
    const auto* hi = stamped.message.as<PhoneMessage::Hi>();
    if (!hi)
        return fail(session);
    becomeActive(session, *hi);
}

void SessionController::becomeActive(const std::shared_ptr<Session>& session, const PhoneMessage::Hi& hi)
{
    // One phone at a time: any other established phone is told and let go,
    // its own older session included when the same phone reconnects.
    for (const auto& other : snapshot()) {
        if (other == session || !other->isActive())
            continue;
        other->send(MacMessage::replaced());
        other->socket->close();
        ended(other);
    }

    const Pairing pairing = *session->state.pairing();
    session->state = Session::State::active(session->state.takeChannel(), pairing);
    session->deviceName = hi.device;
    m_store->markUsed(pairing.id, hi.device);

    session->send(MacMessage::ready(m_suppliers.accessibility(), m_suppliers.actions(), m_suppliers.macName(),
        m_suppliers.prefs(), m_suppliers.context(), m_suppliers.update(), m_suppliers.typing && m_suppliers.typing()));
    if (onChange)
        onChange();
}

void SessionController::handle(const PhoneMessage& message, std::optional<double> stamp,
    const std::shared_ptr<Session>& session)
{
    if (message.is<PhoneMessage::Hi>())
        return;
    if (const auto* ping = message.as<PhoneMessage::Ping>()) {
        session->watchdog.observe(message);
        session->pacer.observe(ping->ts, m_suppliers.now());
        session->send(MacMessage::pong(ping->ts));
        return;
    }
    if (message.is<PhoneMessage::Forget>()) {
        if (session->isActive())
            revoke(session->state.pairing()->id);
        return;
    }

    // Input: refused at the door without permission or while an update is required.
    if (!m_suppliers.accessibility() || m_suppliers.update().isRequired())
        return;
    session->watchdog.observe(message);
    const double arrival = m_suppliers.now();
    const double play = session->pacer.playTime(stamp, arrival);
    if (trace) {
        char line[128];
        std::snprintf(line, sizeof line, "%.2f arrive %s %.2f play+%.2f", arrival * 1000,
            message.description().substr(0, 12).c_str(), stamp.value_or(-1), (play - arrival) * 1000);
        trace(line);
    }
    // Halves need room: a phone that samples faster than the two halves plus
    // the pacer's catch-up gap would otherwise be scheduled further behind
    // with every sample. Such a phone already sends at the rate splitting
    // aims for. The first sample of a gesture plays whole.
    const double gap = stamp && session->lastStamp ? *stamp - *session->lastStamp : -1;
    const bool room = gap >= (splitOffset + Session::catchUpSpacing) * 1000 && gap <= gestureGap * 1000;
    if (stamp)
        session->lastStamp = stamp;
    const auto halves = room ? split(message) : std::nullopt;
    if (halves) {
        session->pending.push_back({play, halves->first});
        session->pending.push_back({play + splitOffset, halves->second, true});
        session->pacer.reserve(play + splitOffset);
    } else {
        session->pending.push_back({play, message});
    }
    boundBacklog(*session, arrival);
    while (session->pending.size() > maxPending) {
        const PhoneMessage overdue = std::move(session->pending.front().message);
        session->pending.pop_front();
        playMessage(overdue);
    }
    drainWithin(std::max(drainTolerance, session->pacer.currentBuffer() * arrivalShare));
}

std::optional<std::pair<PhoneMessage, PhoneMessage>> SessionController::split(const PhoneMessage& message)
{
    if (const auto* move = message.as<PhoneMessage::Move>()) {
        const auto half = PhoneMessage::move(move->dx / 2, move->dy / 2);
        return std::pair {half, half};
    }
    if (const auto* scroll = message.as<PhoneMessage::Scroll>()) {
        const bool ongoing = scroll->phase == Phase::changed
            || (!scroll->phase && scroll->momentum == MomentumPhase::continue_);
        if (!ongoing)
            return std::nullopt;
        const auto half = PhoneMessage::scroll(scroll->dx / 2, scroll->dy / 2, scroll->phase, scroll->momentum);
        return std::pair {half, half};
    }
    return std::nullopt;
}

std::optional<PhoneMessage> SessionController::merge(const PhoneMessage& first, const PhoneMessage& second)
{
    const auto* moveA = first.as<PhoneMessage::Move>();
    const auto* moveB = second.as<PhoneMessage::Move>();
    if (moveA && moveB)
        return PhoneMessage::move(moveA->dx + moveB->dx, moveA->dy + moveB->dy);
    const auto* a = first.as<PhoneMessage::Scroll>();
    const auto* b = second.as<PhoneMessage::Scroll>();
    if (!a || !b || a->phase != b->phase || a->momentum != b->momentum)
        return std::nullopt;
    const bool ongoing = a->phase == Phase::changed || (!a->phase && a->momentum == MomentumPhase::continue_);
    if (!ongoing)
        return std::nullopt;
    return PhoneMessage::scroll(a->dx + b->dx, a->dy + b->dy, a->phase, a->momentum);
}

// Keeps the last queued message within maxBacklog of now. Adjacent
// mergeable neighbours are merged pairwise, pass after pass, until the queue
// fits at the catch-up pace (or nothing merges any more: presses, releases
// and gesture boundaries stay where they are). Then no gap is left longer
// than the catch-up spacing, and the pacer no longer reserves time beyond
// the last entry.
void SessionController::boundBacklog(Session& session, double now)
{
    auto& pending = session.pending;
    const double limit = now + maxBacklog;
    if (pending.empty() || pending.back().at <= limit)
        return;
    const double start = std::min(pending.front().at, limit);
    const auto room = static_cast<std::size_t>((limit - start) / Session::catchUpSpacing) + 1;
    for (bool merged = true; merged && pending.size() > room;) {
        merged = false;
        std::deque<Session::Pending> kept;
        bool mergedLast = false;
        for (auto& entry : pending) {
            if (!kept.empty() && !mergedLast) {
                if (auto both = merge(kept.back().message, entry.message)) {
                    kept.back().message = std::move(*both);
                    kept.back().rides = false; // caught up at the catch-up pace instead
                    merged = mergedLast = true;
                    continue;
                }
            }
            kept.push_back(std::move(entry));
            mergedLast = false;
        }
        pending.swap(kept);
    }
    // Times only move earlier, and the queue stays in play order.
    double previous = start - Session::catchUpSpacing;
    for (auto& entry : pending)
        previous = entry.at = std::min(entry.at, previous + Session::catchUpSpacing);
    session.pacer.rewind(previous);
}

void SessionController::playMessage(const PhoneMessage& message)
{
    if (m_suppliers.accessibility())
        m_poster->post(m_translator->translate(message));
}

void SessionController::drain() { drainWithin(drainTolerance); }

// `early`: how soon an entry may be due to play now, when playing it early
// leaves no gap of its own behind (it is the last, or a second half, whose
// successor is a sample of its own). Entries of a queue that is catching up
// keep their even spacing.
void SessionController::drainWithin(double early)
{
    const double now = m_suppliers.now();
    std::optional<double> wake;
    for (const auto& session : snapshot()) {
        if (!session->isActive())
            continue;
        // Strictly first in, first out: stop at the first entry not yet due.
        auto& pending = session->pending;
        while (!pending.empty()) {
            const auto& next = pending.front();
            const bool due = next.at <= now + drainTolerance;
            if (!due && !(next.at <= now + early && (pending.size() == 1 || next.rides)))
                break;
            const PhoneMessage message = std::move(pending.front().message);
            pending.pop_front();
            playMessage(message);
        }
        // A phone gone silent is let go as soon as its silence is up, not
        // at the next tick after that.
        const auto expired = session->watchdog.expired();
        if (!expired.empty())
            post(expired);
        else if (const auto due = session->watchdog.expiresAt())
            wake = std::min(wake.value_or(*due + watchdogSlack), *due + watchdogSlack);
        if (pending.empty())
            continue;
        // A second half with nothing behind it yet waits for the phone's
        // next message, up to a point; once that has come, it keeps its time.
        const auto& head = pending.front();
        const double at = head.rides && pending.size() == 1 ? head.at + rideAllowance : head.at;
        wake = std::min(wake.value_or(at), at);
    }
    if (wake && requestWake)
        requestWake(*wake);
}

void SessionController::tick()
{
    drain();
    const double now = m_suppliers.now();
    for (const auto& session : snapshot())
        if (!session->isActive() && now - session->acceptedAt > handshakeLimit)
            fail(session);
    const auto specs = m_translator->expire();
    if (!specs.empty() && m_suppliers.accessibility())
        m_poster->post(specs);
}

bool SessionController::needsTick() const { return !m_sessions.empty() || m_translator->switcherOpen(); }

void SessionController::post(const std::vector<PhoneMessage>& messages)
{
    if (messages.empty() || !m_suppliers.accessibility())
        return;
    for (const auto& message : messages)
        m_poster->post(m_translator->translate(message));
}

// Whatever was queued is played now, then everything the phone left open is
// released, so that no button, key or gesture stays held. One that fails to
// post keeps none of the others back.
void SessionController::letGo(Session& session)
{
    std::vector<PhoneMessage> closing;
    for (auto& entry : session.pending)
        closing.push_back(std::move(entry.message));
    session.pending.clear();
    const auto held = session.watchdog.finishAll();
    closing.insert(closing.end(), held.begin(), held.end());
    for (const auto& message : closing) {
        try {
            playMessage(message);
        } catch (...) {
        }
    }
}

void SessionController::ended(const std::shared_ptr<Session>& session)
{
    const auto found = std::find(m_sessions.begin(), m_sessions.end(), session);
    if (found == m_sessions.end())
        return;
    const bool wasActive = session->isActive();
    m_sessions.erase(found);
    session->state = Session::State::closed();
    letGo(*session);
    if (wasActive && onChange)
        onChange();
}

void SessionController::revoke(const std::string& id)
{
    for (const auto& session : snapshot()) {
        const auto kind = session->state.kind();
        if (kind != Session::State::Kind::awaitingHi && kind != Session::State::Kind::active)
            continue;
        if (session->state.pairing()->id != id)
            continue;
        session->send(MacMessage::revoked()); // only reaches an active session
        session->socket->close();
        ended(session);
    }
    m_store->remove(id);
    if (onChange)
        onChange();
}

void SessionController::broadcast(const MacMessage& message)
{
    for (const auto& session : snapshot())
        session->send(message);
}

void SessionController::broadcastAccessibility(bool granted) { broadcast(MacMessage::accessibility(granted)); }
void SessionController::broadcastActions() { broadcast(MacMessage::actions(m_suppliers.actions())); }
void SessionController::broadcastPrefs() { broadcast(MacMessage::prefs(m_suppliers.prefs())); }
void SessionController::broadcastUpdate()
{
    const auto status = m_suppliers.update();
    broadcast(MacMessage::update(status));
    // From now on input is refused, the phone's releases included, while its
    // pings keep the watchdog quiet: let go of what it holds now.
    if (status.isRequired())
        for (const auto& session : snapshot())
            if (session->isActive())
                letGo(*session);
}

void SessionController::broadcastContext() { broadcast(MacMessage::context(m_suppliers.context())); }

void SessionController::reportUntyped(const std::string& characters)
{
    if (characters.empty())
        return;
    for (const auto& session : snapshot()) {
        if (!session->isActive() || session->toldUntyped)
            continue;
        session->toldUntyped = true;
        session->send(MacMessage::untyped(characters));
    }
}

std::optional<std::string> SessionController::activeDeviceName() const
{
    for (const auto& session : m_sessions)
        if (session->isActive())
            return session->deviceName;
    return std::nullopt;
}

Bytes SessionController::random(std::size_t count) { return Pairing::random(count); }

} // namespace ferlow
