#pragma once

// Posted Linux events as the key chords a reader would write.

#include <set>
#include <string>
#include <vector>

#include "FerlowLinux/KeyProfile.h"
#include "FerlowLinux/LinuxEvent.h"

namespace ferlow::test {

// Each key press as the chord it makes with the modifiers down at the time
// ("ctrl+c"), a modifier pressed and released alone as itself ("super"),
// other events by their description, separated by spaces. A key still down
// at the end is named after "held:", a release of a key that is up after
// "stray:", a press of a key that is down after "again:".
inline std::string chords(const std::vector<LinuxEvent>& events)
{
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : " ") + part; };
    std::set<std::uint16_t> down, usedModifiers;
    for (const auto& event : events) {
        const auto* key = event.as<LinuxEvent::Key>();
        if (!key) {
            add(event.description());
            continue;
        }
        const std::string name = LinuxChord {0, key->code}.description();
        const bool modifier = name == "ctrl" || name == "alt" || name == "shift" || name == "super";
        if (key->down == down.contains(key->code)) {
            add((key->down ? "again:" : "stray:") + name);
        } else if (key->down && !modifier) {
            std::string chord;
            for (const auto* m : {"ctrl", "alt", "shift", "super"})
                for (const auto held : down)
                    if (LinuxChord {0, held}.description() == m) {
                        chord += std::string(m) + "+";
                        usedModifiers.insert(held);
                    }
            add(chord + name);
        } else if (!key->down && modifier && !usedModifiers.erase(key->code)) {
            add(name);
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
