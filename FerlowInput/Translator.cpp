#include "FerlowInput/Translator.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "FerlowInput/SystemGestures.h"

namespace ferlow {

namespace {

constexpr std::uint16_t commandKey = 55;
constexpr std::uint16_t tabKey = 48;
constexpr std::uint64_t commandFlag = 0x100000;

struct ButtonTypes {
    std::int32_t down, up, platformButton;
};
// Phone button index -> event types and desktop button number.
constexpr std::array<ButtonTypes, 3> buttonTypes {{{1, 2, 0}, {3, 4, 1}, {25, 26, 2}}};

// The order in which a key action presses its modifiers.
constexpr std::array<SystemGestures::ModifierKey, 4> modifierOrder {{
    {59, 0x40000},  // control
    {58, 0x80000},  // option
    {56, 0x20000},  // shift
    {55, 0x100000}, // command
}};

// The desktop expects arrows to carry the function and numeric-pad bits,
// and function keys and the navigation block the function bit.
std::uint64_t keyExtraFlags(std::uint16_t code)
{
    if (code >= 123 && code <= 126)
        return 0xA00000;
    if ((code >= 96 && code <= 111) || (code >= 114 && code <= 122) || code == 64 || code == 79 || code == 80
        || code == 90)
        return 0x800000;
    return 0;
}

std::int64_t phaseNumber(Phase phase) { return static_cast<std::int64_t>(phase); }
std::int64_t momentumNumber(MomentumPhase momentum) { return static_cast<std::int64_t>(momentum); }

// A whole-pixel amount the 32-bit event field cannot hold is pinned to its
// limit instead of wrapping around into a jump the other way.
std::int32_t saturate(double whole)
{
    constexpr double low = std::numeric_limits<std::int32_t>::min();
    constexpr double high = std::numeric_limits<std::int32_t>::max();
    if (std::isnan(whole))
        return 0;
    return static_cast<std::int32_t>(std::clamp(whole, low, high));
}

std::int64_t dockMotion(DockKind kind)
{
    switch (kind) {
    case DockKind::horizontal:
        return 1;
    case DockKind::vertical:
        return 2;
    case DockKind::pinch:
        return 3;
    }
    return 1;
}

// What a finished emulated swipe stands for, by direction.
SystemGesture emulatedDockGesture(DockKind kind, bool forward)
{
    switch (kind) {
    case DockKind::horizontal:
        return forward ? SystemGesture::spaceRight : SystemGesture::spaceLeft;
    case DockKind::vertical:
        return forward ? SystemGesture::missionControl : SystemGesture::appExpose;
    case DockKind::pinch:
        return forward ? SystemGesture::showDesktop : SystemGesture::apps;
    }
    return SystemGesture::missionControl;
}

} // namespace

Translator::Translator(std::shared_ptr<PointerState> pointer, LayoutSource layout, CursorSource cursor, Clock now,
    DockSwipes dockSwipes)
    : m_pointer(std::move(pointer))
    , m_layout(std::move(layout))
    , m_cursor(std::move(cursor))
    , m_now(std::move(now))
    , m_dockSwipes(dockSwipes)
    , m_actions([] { return std::vector<ActionButton> {}; })
{
}

std::vector<EventSpec> Translator::translate(const PhoneMessage& message)
{
    if (const auto* m = message.as<PhoneMessage::Move>())
        return move(*m);
    if (const auto* b = message.as<PhoneMessage::Button>())
        return button(b->index, b->down, b->clicks);
    if (const auto* s = message.as<PhoneMessage::Scroll>())
        return scroll(*s);
    if (const auto* p = message.as<PhoneMessage::Pinch>())
        return {EventSpec::gesture(8, phaseNumber(p->phase), p->delta, std::nullopt)};
    if (const auto* r = message.as<PhoneMessage::Rotate>())
        return {EventSpec::gesture(5, phaseNumber(r->phase), std::nullopt, r->degrees)};
    if (message.is<PhoneMessage::SmartZoom>())
        return {EventSpec::gesture(22, std::nullopt, std::nullopt, std::nullopt)};
    if (const auto* d = message.as<PhoneMessage::Dock>())
        return dock(*d);
    if (const auto* g = message.as<PhoneMessage::System>())
        return SystemGestures::specs(g->gesture);
    if (const auto* a = message.as<PhoneMessage::Action>())
        return action(*a);
    if (const auto* t = message.as<PhoneMessage::Text>())
        return text(*t);
    return {};
}

std::vector<EventSpec> Translator::expire()
{
    if (!m_switcherLastPress || m_now() - *m_switcherLastPress <= switcherIdleClose)
        return {};
    m_switcherLastPress.reset();
    return {EventSpec::key(commandKey, 0, false)};
}

// The first pointer message after a pause picks up whatever a real mouse did
// in between.
void Translator::resyncIfQuiet()
{
    const double t = m_now();
    if (t - m_lastPointerEventAt > quietBeforeResync)
        m_pointer->resync(m_cursor());
    m_lastPointerEventAt = t;
}

std::vector<EventSpec> Translator::move(const PhoneMessage::Move& move)
{
    resyncIfQuiet();
    const Point old = m_pointer->position;
    const Point proposed {old.x + move.dx, old.y + move.dy};
    const Point position = clamp(proposed, old, m_layout());
    m_pointer->position = position;

    const bool left = m_pointer->buttonsDown.contains(0);
    const bool right = m_pointer->buttonsDown.contains(1);
    const std::int32_t type = left ? 6 : right ? 7 : 5;
    // The phone's delta, not the clamped movement: applications that read
    // deltas (games, 3D views) keep turning at a screen edge.
    return {EventSpec::mouse(type, position, right && !left ? 1 : 0, 0, {std::round(move.dx), std::round(move.dy)})};
}

std::vector<EventSpec> Translator::button(std::int64_t index, bool down, std::int64_t clicks)
{
    if (index < 0 || index > 2)
        return {};
    // A release goes where the pointer already is, so it never waits for the
    // pointer to be read back: it is what the watchdog sends once the phone
    // has gone quiet, when a read would be due and may be slow.
    if (down)
        resyncIfQuiet();
    if (down)
        m_pointer->buttonsDown.insert(index);
    else
        m_pointer->buttonsDown.erase(index);

    const auto& types = buttonTypes[static_cast<std::size_t>(index)];
    std::vector<EventSpec> specs;
    specs.reserve(2);
    specs.push_back(EventSpec::mouse(down ? types.down : types.up, m_pointer->position, types.platformButton,
        clicks < 1 ? 1 : clicks, {}));
    if (!down && m_switcherLastPress) {
        // Picking an application with the pad ends the switcher.
        m_switcherLastPress.reset();
        specs.push_back(EventSpec::key(commandKey, 0, false));
    }
    return specs;
}

std::vector<EventSpec> Translator::scroll(const PhoneMessage::Scroll& scroll)
{
    const double totalX = scroll.dx + m_scrollRemainderX;
    const double totalY = scroll.dy + m_scrollRemainderY;
    const double wholeX = std::trunc(totalX);
    const double wholeY = std::trunc(totalY);
    m_scrollRemainderX = totalX - wholeX;
    m_scrollRemainderY = totalY - wholeY;

    const bool phaseEdge = scroll.phase && *scroll.phase != Phase::changed;
    const bool momentumEdge = scroll.momentum == MomentumPhase::begin || scroll.momentum == MomentumPhase::end;
    if (phaseEdge || momentumEdge) {
        // A fraction left from one gesture must not nudge the next.
        m_scrollRemainderX = 0;
        m_scrollRemainderY = 0;
    }

    const auto wheel = EventSpec::scroll(saturate(wholeX), saturate(wholeY),
        scroll.phase ? phaseNumber(*scroll.phase) : 0, momentumNumber(scroll.momentum));
    if (!scroll.phase)
        return {wheel};
    return {wheel, EventSpec::scrollGesture(scroll.dx, scroll.dy, phaseNumber(*scroll.phase))};
}

std::vector<EventSpec> Translator::dock(const PhoneMessage::Dock& dock)
{
    double delta = 0;
    if (dock.phase == Phase::began) {
        m_dockProgress = 0;
        m_dockLastDelta = 0;
    }
    if (dock.progress != m_dockProgress) {
        delta = dock.progress - m_dockProgress;
        m_dockLastDelta = delta;
    } else {
        // A repeat of the last progress keeps the last real direction.
        delta = m_dockLastDelta;
    }
    m_dockProgress = dock.progress;

    // A swipe whose finger was last moving back toward the start is
    // abandoned, not completed.
    Phase phase = dock.phase;
    if (phase == Phase::ended && delta != 0 && (delta > 0) != (dock.progress > 0))
        phase = Phase::cancelled;
    const bool finished = phase == Phase::ended || phase == Phase::cancelled;

    if (m_dockSwipes == DockSwipes::live) {
        return {EventSpec::dock(dockMotion(dock.kind), dock.progress, phaseNumber(phase),
            finished ? std::optional<double>(dock.velocity) : std::nullopt)};
    }
    if (phase != Phase::ended || std::abs(dock.progress) < emulatedDockThreshold)
        return {};
    return SystemGestures::specs(emulatedDockGesture(dock.kind, dock.progress > 0));
}

std::vector<EventSpec> Translator::action(const PhoneMessage::Action& action)
{
    if (!action.down) {
        const auto held = m_heldKeys.find(action.id);
        if (held == m_heldKeys.end())
            return {};
        const Release release = std::move(held->second);
        m_heldKeys.erase(held);
        return release(*this);
    }
    const auto buttons = m_actions();
    const auto found = std::find_if(buttons.begin(), buttons.end(), [&](const ActionButton& b) { return b.id == action.id; });
    if (found == buttons.end())
        return {};
    return pressAction(*found);
}

std::vector<EventSpec> Translator::pressAction(const ActionButton& button)
{
    const auto& kind = button.kind;
    if (const auto* key = kind.as<ActionKind::Key>())
        return keyAction(button.id, key->code, key->modifiers);
    if (const auto* media = kind.as<ActionKind::Media>()) {
        const std::int32_t code = nxCode(media->key);
        m_heldKeys[button.id] = [code](Translator&) { return std::vector<EventSpec> {EventSpec::media(code, false)}; };
        return {EventSpec::media(code, true)};
    }
    if (const auto* mouse = kind.as<ActionKind::Mouse>()) {
        const std::int64_t index = mouse->button;
        m_heldKeys[button.id] = [index](Translator& self) { return self.button(index, false, 1); };
        return this->button(index, true, 1);
    }
    if (const auto* gesture = kind.as<ActionKind::Gesture>())
        return SystemGestures::specs(gesture->gesture);
    return appSwitcher();
}

std::vector<EventSpec> Translator::keyAction(const std::string& id, std::uint16_t code, std::uint64_t modifiers)
{
    std::array<SystemGestures::ModifierKey, modifierOrder.size()> held {};
    std::size_t count = 0;
    for (const auto& modifier : modifierOrder)
        if (modifiers & modifier.bit)
            held[count++] = modifier;
    auto stroke = SystemGestures::stroke(code, std::span(held.data(), count), keyExtraFlags(code));
    m_heldKeys[id] = [release = std::move(stroke.release)](Translator&) { return release; };
    return std::move(stroke.press);
}

std::vector<EventSpec> Translator::text(const PhoneMessage::Text& text)
{
    const std::uint16_t then = !text.key ? 0 : *text.key == TextKey::tab ? EventSpec::tabKey : EventSpec::returnKey;
    if (text.deletions <= 0 && text.text.empty() && then == 0)
        return {};
    std::vector<EventSpec> specs;
    if (m_switcherLastPress) {
        // Typing goes to the application picked, not to the switcher.
        m_switcherLastPress.reset();
        specs.push_back(EventSpec::key(commandKey, 0, false));
    }
    const auto deletions = std::clamp<std::int64_t>(text.deletions, 0, PhoneMessage::maxDeletions);
    specs.push_back(EventSpec::text(static_cast<std::uint32_t>(deletions), text.text, then));
    return specs;
}

std::vector<EventSpec> Translator::appSwitcher()
{
    std::vector<EventSpec> specs;
    if (!m_switcherLastPress)
        specs.push_back(EventSpec::key(commandKey, commandFlag, true));
    specs.push_back(EventSpec::key(tabKey, commandFlag, true));
    specs.push_back(EventSpec::key(tabKey, commandFlag, false));
    m_switcherLastPress = m_now();
    return specs;
}

} // namespace ferlow
