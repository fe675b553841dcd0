#include "FerlowInput/Watchdog.h"

#include <algorithm>

namespace ferlow {

namespace {

bool opens(Phase phase) { return phase == Phase::began || phase == Phase::changed; }

// Moves `value` to the end of the press list when pressed, drops it when
// released.
template <typename T> void track(std::vector<T>& list, const T& value, bool down)
{
    std::erase(list, value);
    if (!down)
        return;
    if (list.size() >= Watchdog::maxOpenPresses)
        list.erase(list.begin());
    list.push_back(value);
}

} // namespace

Watchdog::Watchdog(double timeout, Clock now)
    : m_timeout(timeout)
    , m_now(std::move(now))
    , m_lastSeen(m_now())
{
}

void Watchdog::observe(const PhoneMessage& message)
{
    m_lastSeen = m_now();
    if (const auto* b = message.as<PhoneMessage::Button>()) {
        track(m_held, b->index, b->down);
    } else if (const auto* s = message.as<PhoneMessage::Scroll>()) {
        if (s->phase)
            m_scrollOpen = opens(*s->phase);
        if (s->momentum != MomentumPhase::none)
            m_momentumOpen = s->momentum == MomentumPhase::begin || s->momentum == MomentumPhase::continue_;
    } else if (const auto* p = message.as<PhoneMessage::Pinch>()) {
        m_pinchOpen = opens(p->phase);
    } else if (const auto* r = message.as<PhoneMessage::Rotate>()) {
        m_rotateOpen = opens(r->phase);
    } else if (const auto* d = message.as<PhoneMessage::Dock>()) {
        if (d->phase == Phase::ended || d->phase == Phase::cancelled)
            m_dock.reset();
        else
            m_dock = OpenDock {d->kind, d->progress};
    } else if (const auto* a = message.as<PhoneMessage::Action>()) {
        track(m_heldActions, a->id, a->down);
    }
}

std::vector<PhoneMessage> Watchdog::expired()
{
    if (m_now() - m_lastSeen > m_timeout)
        return finishAll();
    return {};
}

std::optional<double> Watchdog::expiresAt() const
{
    const bool open = m_scrollOpen || m_momentumOpen || m_pinchOpen || m_rotateOpen || m_dock || !m_held.empty()
        || !m_heldActions.empty();
    if (!open)
        return std::nullopt;
    return m_lastSeen + m_timeout;
}

std::vector<PhoneMessage> Watchdog::finishAll()
{
    std::vector<PhoneMessage> out;
    if (m_scrollOpen)
        out.push_back(PhoneMessage::scroll(0, 0, Phase::ended, MomentumPhase::none));
    if (m_momentumOpen)
        out.push_back(PhoneMessage::scroll(0, 0, std::nullopt, MomentumPhase::end));
    if (m_pinchOpen)
        out.push_back(PhoneMessage::pinch(0, Phase::ended));
    if (m_rotateOpen)
        out.push_back(PhoneMessage::rotate(0, Phase::ended));
    if (m_dock)
        out.push_back(PhoneMessage::dock(m_dock->kind, m_dock->progress, Phase::cancelled, 0));
    for (const auto index : m_held)
        out.push_back(PhoneMessage::button(index, false, 1));
    for (const auto& id : m_heldActions)
        out.push_back(PhoneMessage::action(id, false));

    m_scrollOpen = m_momentumOpen = m_pinchOpen = m_rotateOpen = false;
    m_dock.reset();
    m_held.clear();
    m_heldActions.clear();
    return out;
}

} // namespace ferlow
