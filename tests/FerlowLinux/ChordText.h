#pragma once

// Renders posted Linux events as the key chords a reader would write.

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include <linux/input-event-codes.h>

#include "FerlowLinux/KeyProfile.h"
#include "FerlowLinux/LinuxEvent.h"

namespace ferlow::test {

inline std::uint8_t modifierBit(std::uint16_t key)
{
    switch (key) {
    case KEY_LEFTCTRL:
        return LinuxChord::ctrl;
    case KEY_LEFTALT:
        return LinuxChord::alt;
    case KEY_LEFTSHIFT:
        return LinuxChord::shift;
    case KEY_LEFTMETA:
        return LinuxChord::super;
    default:
        return 0;
    }
}

// Each key press as the chord it makes with the modifiers down at the time
// ("ctrl+c"), a modifier pressed and released alone as itself ("super"),
// separated by spaces; a key still down at the end, or released without
// being pressed, is named after "held:" or "stray:".
inline std::string chords(const std::vector<LinuxEvent>& events)
{
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    std::vector<std::uint16_t> modifiers;
    std::set<std::uint16_t> used, down;
    for (const auto& event : events) {
        const auto* key = event.as<LinuxEvent::Key>();
        if (!key) {
            add(event.description());
            continue;
        }
        const auto name = LinuxChord {0, key->code}.description();
        if (key->down && down.contains(key->code)) {
            add("again:" + name);
        } else if (!key->down && !down.contains(key->code)) {
            add("stray:" + name);
        } else if (key->down && modifierBit(key->code)) {
            modifiers.push_back(key->code);
        } else if (key->down) {
            std::uint8_t bits = 0;
            for (const auto m : modifiers) {
                bits |= modifierBit(m);
                used.insert(m);
            }
            add(LinuxChord {bits, key->code}.description());
        } else if (modifierBit(key->code)) {
            if (!used.contains(key->code))
                add(name);
            used.erase(key->code);
            std::erase(modifiers, key->code);
        }
        if (key->down)
            down.insert(key->code);
        else
            down.erase(key->code);
    }
    for (const auto key : down)
        add("held:" + LinuxChord {0, key}.description());
    return text;
}

} // namespace ferlow::test
