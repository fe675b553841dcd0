#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "FerlowCore/MediaKey.h"
#include "FerlowCore/SystemGesture.h"

namespace ferlow {

// How the editor names media keys and gestures for people, in the
// desktop's words; and the macOS spelling of a shortcut as buttons store it
// (macOS virtual key codes and modifier bits).
struct KeyNames {
    static constexpr std::uint64_t control = 0x40000, option = 0x80000, shift = 0x20000, command = 0x100000;

    // The 76 keys the macOS spelling names, by key code.
    static const std::map<std::uint16_t, std::string>& table();

    // A shortcut spelled the macOS way: "⌃⌥⇧⌘" as set (always in that
    // order), then the key's name, or "Key " and the code for a key the
    // table does not name: ⌘C, ⌃⇧⌘T, Key 200. Never shown: the editor shows
    // the chord the desktop gets. Titles that earlier versions spelled out
    // this way are recognised by it.
    static std::string describe(std::uint16_t code, std::uint64_t modifiers);

    static std::string name(MediaKey key);         // "Play/Pause"
    static std::string name(SystemGesture gesture); // "Overview"
};

} // namespace ferlow
