#include "FerlowLinux/ChordMapper.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <linux/input-event-codes.h>

#include "FerlowInput/SystemGestures.h"

namespace ferlow {

namespace {

constexpr std::uint16_t firstMacModifier = 54; // right Command; 55–63 follow

struct LinuxModifierKey {
    std::uint8_t bit;
    std::uint16_t key;
};
// The order in which modifiers are pressed; released in reverse.
constexpr LinuxModifierKey linuxModifierKeys[] = {
    {LinuxChord::ctrl, KEY_LEFTCTRL},
    {LinuxChord::alt, KEY_LEFTALT},
    {LinuxChord::shift, KEY_LEFTSHIFT},
    {LinuxChord::super, KEY_LEFTMETA},
};

// Event numbers of the macOS-level specs.
enum MouseType : std::int32_t {
    leftDown = 1, leftUp = 2, rightDown = 3, rightUp = 4, moved = 5, leftDrag = 6, rightDrag = 7,
    otherDown = 25, otherUp = 26,
};
constexpr std::int32_t middleButton = 2;
constexpr std::int64_t magnifySubtype = 8;
constexpr std::int64_t phaseBegan = 1, phaseEnded = 4, phaseCancelled = 8;
constexpr std::int64_t momentumEnded = 3;
constexpr std::uint32_t mediaHolder = 0x10000;

std::int32_t saturate(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double low = std::numeric_limits<std::int32_t>::min();
    constexpr double high = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(value, low, high));
}

std::uint8_t buttonBit(LinuxEvent::Button button) { return static_cast<std::uint8_t>(1u << static_cast<unsigned>(button)); }

// Whole wheel units of `amount` plus what `carry` held; the fraction stays
// in `carry`. An amount beyond one spec's limit is pinned there and carries
// nothing.
std::int32_t wheelUnits(double amount, double& carry)
{
    constexpr double limit = ChordMapper::maxDetentsPerSpec * LinuxEvent::unitsPerDetent;
    const double total = amount + carry;
    if (!(std::abs(total) < limit)) {
        carry = 0;
        return total > 0 ? static_cast<std::int32_t>(limit) : -static_cast<std::int32_t>(limit);
    }
    const double whole = std::trunc(total);
    carry = total - whole;
    return static_cast<std::int32_t>(whole);
}

} // namespace

ChordMapper::ChordMapper(KeyProfile profile, std::shared_ptr<LinuxEventSink> sink)
    : m_profile(std::move(profile))
    , m_sink(std::move(sink))
{
}

void ChordMapper::post(const std::vector<EventSpec>& specs)
{
    m_out.clear();
    for (const auto& spec : specs) {
        if (const auto* k = spec.as<EventSpec::Key>())
            key(*k);
        else if (const auto* m = spec.as<EventSpec::Mouse>())
            mouse(*m);
        else if (const auto* s = spec.as<EventSpec::Scroll>())
            scroll(*s);
        else if (const auto* media = spec.as<EventSpec::Media>())
            this->media(*media);
        else if (const auto* g = spec.as<EventSpec::Gesture>())
            magnify(*g);
        else if (const auto* l = spec.as<EventSpec::Launch>())
            launch(*l);
        else if (const auto* t = spec.as<EventSpec::Text>())
            text(*t);
        // Scroll gestures and live dock swipes have no Linux counterpart.
    }
    if (!m_out.empty())
        m_sink->post(m_out);
}

void ChordMapper::releaseAll()
{
    m_out.clear();
    while (!m_keys.empty())
        release(m_keys.begin());
    for (const auto button : {LinuxEvent::Button::left, LinuxEvent::Button::right, LinuxEvent::Button::middle})
        if (m_buttons & buttonBit(button))
            emit(LinuxEvent::button(button, false));
    for (auto it = m_linuxModifiers.rbegin(); it != m_linuxModifiers.rend(); ++it)
        emit(LinuxEvent::key(*it, false));
    m_buttons = 0;
    m_linuxModifiers.clear();
    m_macModifierKeys = 0;
    m_consumed = 0;
    m_magnification = 0;
    if (!m_out.empty())
        m_sink->post(m_out);
}

std::uint64_t ChordMapper::heldMacModifiers() const
{
    std::uint64_t bits = 0;
    for (std::uint16_t i = 0; i < 10; ++i)
        if (m_macModifierKeys & (1u << i))
            bits |= *KeyProfile::macModifierBit(static_cast<std::uint16_t>(firstMacModifier + i));
    return bits;
}

bool ChordMapper::isDown(std::uint16_t linuxKey) const
{
    return std::find(m_linuxModifiers.begin(), m_linuxModifiers.end(), linuxKey) != m_linuxModifiers.end()
        || std::any_of(m_keys.begin(), m_keys.end(), [&](const auto& held) { return held.second == linuxKey; });
}

void ChordMapper::press(std::uint32_t holder, std::uint16_t linuxKey)
{
    if (!isDown(linuxKey))
        emit(LinuxEvent::key(linuxKey, true));
    m_keys.emplace(holder, linuxKey);
}

void ChordMapper::release(std::map<std::uint32_t, std::uint16_t>::iterator held)
{
    const auto linuxKey = held->second;
    m_keys.erase(held);
    if (!isDown(linuxKey))
        emit(LinuxEvent::key(linuxKey, false));
}

void ChordMapper::pressModifiers(std::uint8_t linuxModifiers)
{
    for (const auto& modifier : linuxModifierKeys) {
        if (!(linuxModifiers & modifier.bit) || isDown(modifier.key))
            continue;
        emit(LinuxEvent::key(modifier.key, true));
        m_linuxModifiers.push_back(modifier.key);
    }
}

void ChordMapper::releaseModifiersWhenIdle()
{
    if (m_macModifierKeys != 0 || !m_keys.empty())
        return;
    for (auto it = m_linuxModifiers.rbegin(); it != m_linuxModifiers.rend(); ++it)
        emit(LinuxEvent::key(*it, false));
    m_linuxModifiers.clear();
    m_consumed = 0;
}

// A pointer event modified by held macOS modifiers that no key has used yet
// gets their plain Linux counterparts.
void ChordMapper::pressHeldMacModifiers()
{
    if (m_macModifierKeys == 0)
        return;
    const std::uint64_t unused = heldMacModifiers() & ~m_consumed & SystemShortcut::modifierMask;
    if (!unused)
        return;
    std::uint8_t modifiers = 0;
    if (unused & (MacChord::command | MacChord::control))
        modifiers |= LinuxChord::ctrl;
    if (unused & MacChord::option)
        modifiers |= LinuxChord::alt;
    if (unused & MacChord::shift)
        modifiers |= LinuxChord::shift;
    pressModifiers(modifiers);
    m_consumed |= unused;
}

void ChordMapper::macModifier(std::uint16_t code, bool down)
{
    const auto bit = static_cast<std::uint16_t>(1u << (code - firstMacModifier));
    if (down) {
        m_macModifierKeys |= bit;
        return;
    }
    if (!(m_macModifierKeys & bit))
        return;
    m_macModifierKeys = static_cast<std::uint16_t>(m_macModifierKeys & ~bit);
    m_consumed &= heldMacModifiers();
    releaseModifiersWhenIdle();
}

void ChordMapper::key(const EventSpec::Key& key)
{
    if (KeyProfile::macModifierBit(key.code)) {
        macModifier(key.code, key.down);
        return;
    }
    // A release, or a second press without one, lets go of the first.
    const auto held = m_keys.find(key.code);
    if (held != m_keys.end())
        release(held);
    const auto chord = key.down ? m_profile.chord({key.code, key.flags}, m_app) : std::nullopt;
    if (!chord) {
        if (held != m_keys.end())
            releaseModifiersWhenIdle();
        return;
    }
    pressModifiers(chord->modifiers);
    press(key.code, chord->key);
    m_consumed |= heldMacModifiers();
}

void ChordMapper::media(const EventSpec::Media& media)
{
    if (media.key < 0 || media.key > 0xFFFF)
        return;
    const auto holder = mediaHolder + static_cast<std::uint32_t>(media.key);
    const auto held = m_keys.find(holder);
    if (held != m_keys.end()) {
        release(held);
        releaseModifiersWhenIdle();
    }
    if (!media.down)
        return;
    if (const auto linuxKey = KeyProfile::mediaKey(media.key))
        press(holder, *linuxKey);
}

void ChordMapper::mouse(const EventSpec::Mouse& mouse)
{
    auto button = [this](LinuxEvent::Button which, bool down) {
        const auto bit = buttonBit(which);
        if (down == bool(m_buttons & bit))
            return;
        if (down)
            pressHeldMacModifiers();
        emit(LinuxEvent::button(which, down));
        m_buttons = static_cast<std::uint8_t>(down ? m_buttons | bit : m_buttons & ~bit);
    };
    switch (mouse.type) {
    case moved:
    case leftDrag:
    case rightDrag:
        if (!std::isfinite(mouse.at.x) || !std::isfinite(mouse.at.y))
            return;
        pressHeldMacModifiers();
        // The position is clamped one pixel inside the displays' right and
        // bottom edges, so rounding down keeps it there.
        emit(LinuxEvent::motion(saturate(std::floor(mouse.at.x)), saturate(std::floor(mouse.at.y)),
            saturate(std::round(mouse.delta.dx)), saturate(std::round(mouse.delta.dy))));
        return;
    case leftDown:
    case leftUp:
        button(LinuxEvent::Button::left, mouse.type == leftDown);
        return;
    case rightDown:
    case rightUp:
        button(LinuxEvent::Button::right, mouse.type == rightDown);
        return;
    case otherDown:
    case otherUp:
        if (mouse.button == middleButton)
            button(LinuxEvent::Button::middle, mouse.type == otherDown);
        return;
    default:
        return;
    }
}

void ChordMapper::scroll(const EventSpec::Scroll& scroll)
{
    constexpr double unitsPerPixel = LinuxEvent::unitsPerDetent / pixelsPerDetent;
    // A positive macOS wheel delta scrolls up and left; Linux counts right
    // as positive.
    const auto vertical = wheelUnits(double(scroll.dy) * unitsPerPixel, m_wheelCarryY);
    const auto horizontal = wheelUnits(-double(scroll.dx) * unitsPerPixel, m_wheelCarryX);
    const bool ends = scroll.phase == phaseEnded || scroll.phase == phaseCancelled || scroll.momentum == momentumEnded;
    if (vertical == 0 && horizontal == 0 && !ends)
        return;
    if (vertical != 0 || horizontal != 0)
        pressHeldMacModifiers();
    emit(LinuxEvent::wheel(vertical, horizontal, ends ? LinuxEvent::Scrolling::finish : LinuxEvent::Scrolling::continuing));
}

void ChordMapper::magnify(const EventSpec::Gesture& gesture)
{
    if (gesture.subtype != magnifySubtype)
        return; // rotation and smart zoom
    if (gesture.phase == phaseBegan)
        m_magnification = 0;
    if (gesture.magnification && std::isfinite(*gesture.magnification))
        m_magnification = std::clamp(m_magnification + *gesture.magnification,
            -maxDetentsPerSpec * magnificationPerDetent, maxDetentsPerSpec * magnificationPerDetent);
    // The small bias keeps 0.3 / 0.15 from coming out as 1.999... detents.
    const double detents = std::trunc(m_magnification / magnificationPerDetent + std::copysign(1e-9, m_magnification));
    m_magnification -= detents * magnificationPerDetent;
    if (gesture.phase == phaseEnded || gesture.phase == phaseCancelled)
        m_magnification = 0;
    if (detents == 0)
        return;

    const bool ctrlHeld = isDown(KEY_LEFTCTRL);
    if (!ctrlHeld)
        emit(LinuxEvent::key(KEY_LEFTCTRL, true));
    emit(LinuxEvent::wheel(static_cast<std::int32_t>(detents) * LinuxEvent::unitsPerDetent, 0, LinuxEvent::Scrolling::detents));
    if (!ctrlHeld)
        emit(LinuxEvent::key(KEY_LEFTCTRL, false));
}

void ChordMapper::launch(const EventSpec::Launch& launch)
{
    const auto chord = m_profile.launcher();
    if (launch.bundleID != SystemGestures::appsBundleID || !chord || isDown(chord->key))
        return;
    const auto before = m_linuxModifiers.size();
    pressModifiers(chord->modifiers);
    emit(LinuxEvent::key(chord->key, true));
    emit(LinuxEvent::key(chord->key, false));
    // Only what this tap pressed goes up again.
    while (m_linuxModifiers.size() > before) {
        emit(LinuxEvent::key(m_linuxModifiers.back(), false));
        m_linuxModifiers.pop_back();
    }
}

void ChordMapper::text(const EventSpec::Text& text)
{
    const auto tap = [this](std::uint16_t key) {
        emit(LinuxEvent::key(key, true));
        emit(LinuxEvent::key(key, false));
    };
    for (std::uint32_t i = 0; i < text.deletions; ++i)
        tap(KEY_BACKSPACE);
    if (!text.text.empty())
        emit(LinuxEvent::text(text.text));
    if (text.then == EventSpec::returnKey)
        tap(KEY_ENTER);
    else if (text.then == EventSpec::tabKey)
        tap(KEY_TAB);
}

} // namespace ferlow
