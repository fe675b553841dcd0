#include "FerlowLinux/XTestTyping.h"

#include <algorithm>
#include <bit>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace ferlow {

namespace {

constexpr unsigned modifierBits = 8; // Shift, Lock, Control, Mod1 to Mod5

// Keys that select levels while held. Lock keys are never pressed: they
// would change the state the user left.
bool selectsLevels(KeySym keysym)
{
    return keysym == XK_Shift_L || keysym == XK_Shift_R || keysym == XK_ISO_Level3_Shift
        || keysym == XK_ISO_Level5_Shift;
}

// Modifier keys that act only while held, so letting go of one and
// pressing it again changes nothing else (unlike Caps Lock or a key that
// switches the layout).
bool actsWhileHeld(KeySym keysym)
{
    return selectsLevels(keysym) || keysym == XK_Control_L || keysym == XK_Control_R || keysym == XK_Alt_L
        || keysym == XK_Alt_R || keysym == XK_Meta_L || keysym == XK_Meta_R || keysym == XK_Super_L
        || keysym == XK_Super_R || keysym == XK_Hyper_L || keysym == XK_Hyper_R || keysym == XK_Mode_switch;
}

// The modifiers that select `level` of `type`, preferring fewer of them and
// never Lock; level 0 needs none. False when no modifiers select it.
bool modifiersFor(const XkbKeyTypeRec& type, unsigned level, std::uint32_t& modifiers)
{
    if (level == 0) {
        modifiers = 0;
        return true;
    }
    bool found = false;
    for (unsigned i = 0; i < type.map_count; ++i) {
        const auto& entry = type.map[i];
        if (!entry.active || entry.level != level || (entry.mods.mask & LockMask))
            continue;
        if (!found || std::popcount(unsigned(entry.mods.mask)) < std::popcount(modifiers)) {
            modifiers = entry.mods.mask;
            found = true;
        }
    }
    return found;
}

} // namespace

XTestTyping::XTestTyping(Display* display)
    : m_display(display)
{
}

XTestTyping::~XTestTyping()
{
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, 0, True);
}

bool XTestTyping::load()
{
    if (m_xkb)
        return true;
    if (!XkbUseExtension(m_display, nullptr, nullptr))
        return false;
    m_xkb = XkbGetMap(m_display, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    if (!m_xkb)
        return false;
    m_groups.clear();
    m_modifierKeys.fill(0);
    m_spare.clear();
    // A keymap loaded meanwhile may have taken spare keys for its own.
    std::erase_if(m_slots, [this](const Slot& slot) {
        return XkbKeyNumGroups(m_xkb, slot.keycode) == 0 || XkbKeySymEntry(m_xkb, slot.keycode, 0, 0) != slot.keysym;
    });
    m_pool.clear();
    for (const auto& slot : m_slots)
        m_pool.push_back(slot.keycode);
    for (unsigned keycode = m_xkb->min_key_code; keycode <= m_xkb->max_key_code; ++keycode) {
        const unsigned modifiers = m_xkb->map->modmap[keycode];
        if (modifiers != 0) {
            if (XkbKeyNumGroups(m_xkb, keycode) == 0 || !selectsLevels(XkbKeySymEntry(m_xkb, keycode, 0, 0)))
                continue;
            for (unsigned bit = 0; bit < modifierBits; ++bit)
                if ((modifiers & (1u << bit)) && m_modifierKeys[bit] == 0)
                    m_modifierKeys[bit] = static_cast<std::uint8_t>(keycode);
            continue;
        }
        if (XkbKeyNumSyms(m_xkb, keycode) == 0) {
            m_spare.push_back(static_cast<std::uint8_t>(keycode));
            m_pool.push_back(static_cast<std::uint8_t>(keycode));
        }
    }
    return true;
}

bool XTestTyping::isSpare(unsigned keycode) const
{
    return std::find(m_pool.begin(), m_pool.end(), keycode) != m_pool.end();
}

const TypingKeymap& XTestTyping::keymapFor(int group)
{
    if (const auto found = m_groups.find(group); found != m_groups.end())
        return found->second;
    std::uint32_t pressable = 0;
    for (unsigned bit = 0; bit < modifierBits; ++bit)
        if (m_modifierKeys[bit] != 0)
            pressable |= 1u << bit;
    std::vector<TypingKeymap::KeyLevel> levels;
    for (unsigned keycode = m_xkb->min_key_code; keycode <= m_xkb->max_key_code; ++keycode) {
        const unsigned groups = XkbKeyNumGroups(m_xkb, keycode);
        if (groups == 0 || isSpare(keycode))
            continue;
        // A group beyond the key's own wraps around, XKB's default for
        // keys with fewer groups than the keymap.
        const unsigned keyGroup = unsigned(group) % groups;
        const XkbKeyTypeRec& type = *XkbKeyKeyType(m_xkb, keycode, keyGroup);
        for (unsigned level = 0; level < type.num_levels; ++level) {
            const KeySym keysym = XkbKeySymEntry(m_xkb, keycode, level, keyGroup);
            std::uint32_t modifiers = 0;
            if (keysym != NoSymbol && modifiersFor(type, level, modifiers))
                levels.push_back({keycode, modifiers, static_cast<std::uint32_t>(keysym)});
        }
    }
    return m_groups.emplace(group, TypingKeymap(levels, pressable)).first->second;
}

void XTestTyping::tap(unsigned keycode, std::uint32_t modifiers)
{
    for (unsigned bit = 0; bit < modifierBits; ++bit)
        if (modifiers & (1u << bit))
            XTestFakeKeyEvent(m_display, m_modifierKeys[bit], True, CurrentTime);
    XTestFakeKeyEvent(m_display, keycode, True, CurrentTime);
    XTestFakeKeyEvent(m_display, keycode, False, CurrentTime);
    for (unsigned bit = modifierBits; bit-- > 0;)
        if (modifiers & (1u << bit))
            XTestFakeKeyEvent(m_display, m_modifierKeys[bit], False, CurrentTime);
}

// A spare key that holds `keysym`, mapping an empty one, or one whose
// character was typed before the last pause, when none does yet; 0 when
// every spare key holds a character typed since.
std::uint8_t XTestTyping::slotFor(std::uint32_t keysym)
{
    for (auto& slot : m_slots) {
        if (slot.keysym == keysym) {
            slot.typed = true;
            return slot.keycode;
        }
    }
    Slot* slot = nullptr;
    if (!m_spare.empty()) {
        slot = &m_slots.emplace_back(Slot {m_spare.back(), 0, false});
        m_spare.pop_back();
    } else {
        const auto free = std::find_if(m_slots.begin(), m_slots.end(), [](const Slot& s) { return !s.typed; });
        if (free == m_slots.end())
            return 0;
        slot = &*free;
    }
    // Both levels alike, so that the server does not make an upper-case
    // level of its own for a lone letter.
    KeySym both[] = {keysym, keysym};
    XChangeKeyboardMapping(m_display, slot->keycode, 2, both, 1);
    slot->keysym = keysym;
    slot->typed = true;
    return slot->keycode;
}

void XTestTyping::settle()
{
    for (auto& slot : m_slots)
        slot.typed = false;
}

std::u32string XTestTyping::type(std::u32string_view text, std::u32string& skipped, SpareKeys spareKeys)
{
    if (text.empty())
        return {};
    const bool keymap = load();
    XkbStateRec state {};
    if (keymap)
        XkbGetState(m_display, XkbUseCoreKbd, &state);
    const TypingKeymap* table = keymap ? &keymapFor(state.group) : nullptr;

    // What is held is let go for the text, and Caps Lock is off.
    std::vector<std::uint8_t> lifted;
    if (keymap) {
        char keys[32] {};
        XQueryKeymap(m_display, keys);
        for (unsigned keycode = m_xkb->min_key_code; keycode <= m_xkb->max_key_code; ++keycode) {
            const bool down = (keys[keycode / 8] >> (keycode % 8)) & 1;
            if (down && XkbKeyNumGroups(m_xkb, keycode) > 0 && actsWhileHeld(XkbKeySymEntry(m_xkb, keycode, 0, 0))) {
                XTestFakeKeyEvent(m_display, keycode, False, CurrentTime);
                lifted.push_back(static_cast<std::uint8_t>(keycode));
            }
        }
    }
    const bool capsLock = (state.locked_mods & LockMask) != 0;
    if (capsLock)
        XkbLockModifiers(m_display, XkbUseCoreKbd, LockMask, 0);

    std::size_t typed = 0;
    for (; typed < text.size(); ++typed) {
        const char32_t character = text[typed];
        if (const auto stroke = table ? table->find(character) : std::nullopt) {
            tap(stroke->keycode, stroke->modifiers);
            continue;
        }
        const auto keysym = spareKeys == SpareKeys::use ? TypingKeymap::keysymFor(character) : 0;
        const auto keycode = keysym ? slotFor(keysym) : 0;
        if (keycode != 0) {
            tap(keycode, 0);
            continue;
        }
        if (keysym != 0 && !m_slots.empty())
            break; // the spare keys are all taken: the rest waits for the pause
        skipped.push_back(character);
    }

    if (capsLock)
        XkbLockModifiers(m_display, XkbUseCoreKbd, LockMask, LockMask);
    for (const auto keycode : lifted)
        XTestFakeKeyEvent(m_display, keycode, True, CurrentTime);
    return std::u32string(text.substr(typed));
}

void XTestTyping::restore()
{
    if (m_slots.empty())
        return;
    const auto [low, high] = std::minmax_element(m_slots.begin(), m_slots.end(),
        [](const Slot& a, const Slot& b) { return a.keycode < b.keycode; });
    const int first = low->keycode, count = high->keycode - low->keycode + 1;
    int perKeycode = 0;
    KeySym* current = XGetKeyboardMapping(m_display, static_cast<KeyCode>(first), count, &perKeycode);
    for (const auto& slot : m_slots) {
        if (!current || current[(slot.keycode - first) * perKeycode] != slot.keysym)
            continue; // no longer ours
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(m_display, slot.keycode, 1, &none, 1);
        m_spare.push_back(slot.keycode);
    }
    if (current)
        XFree(current);
    m_slots.clear();
}

bool XTestTyping::keymapChanged(int request, int firstKeycode, int count)
{
    if (request == MappingKeyboard) {
        bool ours = count > 0;
        for (int keycode = firstKeycode; ours && keycode < firstKeycode + count; ++keycode)
            ours = isSpare(static_cast<unsigned>(keycode));
        if (ours)
            return false;
    } else if (request != MappingModifier) {
        return false; // the pointer's buttons
    }
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, 0, True);
    m_xkb = nullptr;
    return true;
}

} // namespace ferlow
