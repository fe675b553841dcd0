#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowLinux/TypingKeymap.h"

struct _XDisplay;
struct _XkbDesc;

namespace ferlow {

// Types characters on an X server through XTEST, on the poster's
// connection.
//
// A character the keymap has is typed on its key, in the keyboard group in
// force, with the modifiers that select its level (Shift, AltGr) pressed
// around it. Modifiers already held, by the user or by Ferlow, are let go
// for the text and pressed again after it, and Caps Lock is off while the
// text is typed.
//
// A character the keymap lacks is typed on a spare key, one the keymap
// leaves empty, mapped to the character's keysym. A client looks a key up
// only when it gets to the event, so a spare key must keep its character
// until no key typed on it can still be waiting to be read: the owner calls
// settle() after a pause in typing, which frees the spare keys to take
// other characters, or restore(), which also empties them. When every spare
// key holds a character typed since the last pause, type() stops and
// returns the rest, to be typed after the next one.
class XTestTyping final {
public:
    explicit XTestTyping(_XDisplay* display);
    ~XTestTyping();
    XTestTyping(const XTestTyping&) = delete;
    XTestTyping& operator=(const XTestTyping&) = delete;

    enum class SpareKeys { use, never };

    // Types `text` and returns what must wait for the next pause. A character
    // with no keysym, or needing a spare key when there is none (or when
    // told never to use one), is skipped and appended to `skipped`.
    std::u32string type(std::u32string_view text, std::u32string& skipped, SpareKeys spareKeys = SpareKeys::use);

    // Whether spare keys hold characters.
    bool remapped() const { return !m_slots.empty(); }
    // After a pause: the spare keys may take other characters.
    void settle();
    // Empties the spare keys again, each only if it still holds the
    // character put there (a new keymap loaded meanwhile is left alone).
    void restore();

    // Called with each MappingNotify the connection receives. A change to
    // anything but the spare keys makes the keymap be read again, and the
    // answer is true.
    bool keymapChanged(int request, int firstKeycode, int count);

private:
    struct Slot {
        std::uint8_t keycode;
        std::uint32_t keysym;
        bool typed; // since the last pause
    };

    bool load();
    const TypingKeymap& keymapFor(int group);
    bool isSpare(unsigned keycode) const;
    std::uint8_t slotFor(std::uint32_t keysym);
    void tap(unsigned keycode, std::uint32_t modifiers);

    _XDisplay* m_display;
    _XkbDesc* m_xkb = nullptr;                      // the server's keymap, read when first needed
    std::map<int, TypingKeymap> m_groups;           // by keyboard group, built when first needed
    std::array<std::uint8_t, 8> m_modifierKeys {};  // per X modifier bit: a key that sets it, 0 for none
    std::vector<std::uint8_t> m_spare;              // keys the keymap leaves empty, free to map
    std::vector<std::uint8_t> m_pool;               // the spare keys, empty or holding a character
    std::vector<Slot> m_slots;                      // spare keys holding a character
};

} // namespace ferlow
