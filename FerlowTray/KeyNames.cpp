#include "FerlowTray/KeyNames.h"

namespace ferlow {

const std::map<std::uint16_t, std::string>& KeyNames::table()
{
    static const std::map<std::uint16_t, std::string> names {
        // Letters and digits sit where the ANSI layout puts them, so the
        // codes are not in alphabetical order.
        {0, "A"}, {1, "S"}, {2, "D"}, {3, "F"}, {4, "H"}, {5, "G"}, {6, "Z"}, {7, "X"}, {8, "C"}, {9, "V"},
        {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"}, {17, "T"}, {31, "O"}, {32, "U"},
        {34, "I"}, {35, "P"}, {37, "L"}, {38, "J"}, {40, "K"}, {45, "N"}, {46, "M"},
        {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"}, {25, "9"}, {26, "7"}, {28, "8"}, {29, "0"},
        {24, "="}, {27, "-"}, {30, "]"}, {33, "["}, {39, "'"}, {41, ";"}, {42, "\\"}, {43, ","}, {44, "/"},
        {47, "."}, {50, "`"},
        {36, "Return"}, {48, "Tab"}, {49, "Space"}, {51, "Delete"}, {53, "Esc"}, {115, "Home"}, {116, "Page Up"},
        {117, "Forward Delete"}, {119, "End"}, {121, "Page Down"},
        {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"}, {96, "F5"}, {97, "F6"}, {98, "F7"}, {100, "F8"},
        {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"}, {105, "F13"}, {107, "F14"}, {113, "F15"},
        {123, "\u2190"}, {124, "\u2192"}, {125, "\u2193"}, {126, "\u2191"},
    };
    return names;
}

std::string KeyNames::describe(std::uint16_t code, std::uint64_t modifiers)
{
    // Matched against stored titles only; these symbols never reach the screen.
    std::string text;
    if (modifiers & control)
        text += "\u2303";
    if (modifiers & option)
        text += "\u2325";
    if (modifiers & shift)
        text += "\u21E7";
    if (modifiers & command)
        text += "\u2318";
    const auto& names = table();
    const auto found = names.find(code);
    return text + (found != names.end() ? found->second : "Key " + std::to_string(code));
}

std::string KeyNames::name(MediaKey key)
{
    switch (key) {
    case MediaKey::playPause:
        return "Play/Pause";
    case MediaKey::next:
        return "Next Track";
    case MediaKey::previous:
        return "Previous Track";
    case MediaKey::volumeUp:
        return "Volume Up";
    case MediaKey::volumeDown:
        return "Volume Down";
    case MediaKey::mute:
        return "Mute";
    case MediaKey::brightnessUp:
        return "Brightness Up";
    case MediaKey::brightnessDown:
        return "Brightness Down";
    }
    return {};
}

std::string KeyNames::name(SystemGesture gesture)
{
    switch (gesture) {
    case SystemGesture::missionControl:
        return "Overview";
    case SystemGesture::appExpose:
        return "App Windows";
    case SystemGesture::showDesktop:
        return "Show Desktop";
    case SystemGesture::apps:
        return "Apps";
    case SystemGesture::lookUp:
        return "Look Up";
    case SystemGesture::spaceLeft:
        return "Workspace to the Left";
    case SystemGesture::spaceRight:
        return "Workspace to the Right";
    }
    return {};
}

} // namespace ferlow
