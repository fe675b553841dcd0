#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "FerlowCore/MediaKey.h"
#include "FerlowCore/SystemGesture.h"

namespace ferlow {

// How the editor writes shortcuts, media keys and gestures for people. Key
// codes are macOS virtual key codes, as buttons store them.
struct KeyNames {
    static constexpr std::uint64_t control = 0x40000, option = 0x80000, shift = 0x20000, command = 0x100000;

    // The 76 keys the editor can name, by key code.
    static const std::map<std::uint16_t, std::string>& table();

    // "⌃⌥⇧⌘" as set (always in that order), then the key's name, or "Key "
    // and the code for a key the table does not name: ⌘C, ⌃⇧⌘T, Key 200.
    static std::string describe(std::uint16_t code, std::uint64_t modifiers);

    static std::string name(MediaKey key);         // "Play/Pause"
    static std::string name(SystemGesture gesture); // "Mission Control"
};

} // namespace ferlow
