#include "FerlowLinux/LinuxKeys.h"

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

#include <linux/input-event-codes.h>

#include "FerlowCore/ASCII.h"

namespace ferlow {

namespace {

// Letters, digits and function keys are generated; the names of those rows
// live in this fixed storage so that every Row can hold string_views.
struct GeneratedNames {
    std::array<std::string, 26> letter, letterUpper;
    std::array<std::string, 10> digit;
    std::array<std::string, 24> function, functionUpper;
    std::array<std::string, 10> keypad, keypadKeysym, keypadLabel;
};

const GeneratedNames& generatedNames()
{
    static const GeneratedNames names = [] {
        GeneratedNames n;
        for (std::size_t i = 0; i < 26; ++i) {
            n.letter[i] = std::string(1, static_cast<char>('a' + i));
            n.letterUpper[i] = std::string(1, static_cast<char>('A' + i));
        }
        for (std::size_t i = 0; i < 10; ++i) {
            n.digit[i] = std::to_string(i);
            n.keypad[i] = "kp" + std::to_string(i);
            n.keypadKeysym[i] = "KP_" + std::to_string(i);
            n.keypadLabel[i] = "Keypad " + std::to_string(i);
        }
        for (std::size_t i = 0; i < 24; ++i) {
            n.function[i] = "f" + std::to_string(i + 1);
            n.functionUpper[i] = "F" + std::to_string(i + 1);
        }
        return n;
    }();
    return names;
}

std::vector<LinuxKeys::Row> makeRows()
{
    const auto& n = generatedNames();
    // evdev codes of the letters in alphabetical order: the kernel numbers
    // keys by their place on a PC keyboard, not alphabetically.
    constexpr std::array<std::uint16_t, 26> letters {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
        KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X,
        KEY_Y, KEY_Z};
    constexpr std::array<std::uint16_t, 10> digits {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8,
        KEY_9};
    constexpr std::array<std::uint16_t, 24> functions {KEY_F1, KEY_F2, KEY_F3, KEY_F4, KEY_F5, KEY_F6, KEY_F7,
        KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14, KEY_F15, KEY_F16, KEY_F17, KEY_F18, KEY_F19,
        KEY_F20, KEY_F21, KEY_F22, KEY_F23, KEY_F24};
    constexpr std::array<std::uint16_t, 10> keypad {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4, KEY_KP5, KEY_KP6,
        KEY_KP7, KEY_KP8, KEY_KP9};

    std::vector<LinuxKeys::Row> rows;
    for (std::size_t i = 0; i < letters.size(); ++i)
        rows.push_back({letters[i], n.letter[i], n.letter[i], n.letterUpper[i], n.letterUpper[i]});
    for (std::size_t i = 0; i < digits.size(); ++i)
        rows.push_back({digits[i], n.digit[i], n.digit[i], n.digit[i], n.digit[i]});
    for (std::size_t i = 0; i < functions.size(); ++i)
        rows.push_back({functions[i], n.function[i], n.functionUpper[i], n.functionUpper[i], n.functionUpper[i]});
    for (std::size_t i = 0; i < keypad.size(); ++i)
        rows.push_back({keypad[i], n.keypad[i], n.keypadKeysym[i], "", n.keypadLabel[i]});

    const LinuxKeys::Row fixed[] = {
        {KEY_MINUS, "minus", "minus", "-", "-"},
        {KEY_EQUAL, "equal", "equal", "=", "="},
        {KEY_LEFTBRACE, "bracketleft", "bracketleft", "[", "["},
        {KEY_RIGHTBRACE, "bracketright", "bracketright", "]", "]"},
        {KEY_SEMICOLON, "semicolon", "semicolon", ";", ";"},
        {KEY_APOSTROPHE, "apostrophe", "apostrophe", "'", "'"},
        {KEY_GRAVE, "grave", "grave", "`", "`"},
        {KEY_BACKSLASH, "backslash", "backslash", "\\", "\\"},
        {KEY_COMMA, "comma", "comma", ",", ","},
        {KEY_DOT, "period", "period", ".", "."},
        {KEY_SLASH, "slash", "slash", "/", "/"},
        {KEY_102ND, "less", "less", "<", "<"},
        {KEY_ENTER, "enter", "Return", "Return", "Enter"},
        {KEY_TAB, "tab", "Tab", "Tab", "Tab"},
        {KEY_SPACE, "space", "space", "Space", "Space"},
        {KEY_BACKSPACE, "backspace", "BackSpace", "Backspace", "Backspace"},
        {KEY_ESC, "esc", "Escape", "Esc", "Esc"},
        {KEY_DELETE, "delete", "Delete", "Del", "Delete"},
        {KEY_INSERT, "insert", "Insert", "Ins", "Insert"},
        {KEY_HOME, "home", "Home", "Home", "Home"},
        {KEY_END, "end", "End", "End", "End"},
        {KEY_PAGEUP, "pageup", "Page_Up", "PgUp", "Page Up"},
        {KEY_PAGEDOWN, "pagedown", "Page_Down", "PgDown", "Page Down"},
        {KEY_LEFT, "left", "Left", "Left", "Left"},
        {KEY_RIGHT, "right", "Right", "Right", "Right"},
        {KEY_UP, "up", "Up", "Up", "Up"},
        {KEY_DOWN, "down", "Down", "Down", "Down"},
        {KEY_PRINT, "print", "Print", "Print", "Print"},
        {KEY_KPDOT, "kpdot", "KP_Decimal", "", "Keypad ."},
        {KEY_KPASTERISK, "kpasterisk", "KP_Multiply", "", "Keypad *"},
        {KEY_KPPLUS, "kpplus", "KP_Add", "", "Keypad +"},
        {KEY_KPMINUS, "kpminus", "KP_Subtract", "", "Keypad -"},
        {KEY_KPSLASH, "kpslash", "KP_Divide", "", "Keypad /"},
        {KEY_KPENTER, "kpenter", "KP_Enter", "Enter", "Keypad Enter"},
        {KEY_KPEQUAL, "kpequal", "KP_Equal", "", "Keypad ="},
        {KEY_NUMLOCK, "numlock", "Num_Lock", "NumLock", "Num Lock"},
        {KEY_LEFTCTRL, "ctrl", "Control_L", "Ctrl", "Ctrl"},
        {KEY_LEFTSHIFT, "shift", "Shift_L", "Shift", "Shift"},
        {KEY_LEFTALT, "alt", "Alt_L", "Alt", "Alt"},
        {KEY_LEFTMETA, "super", "Super_L", "Meta", "Super"},
        {KEY_PLAYPAUSE, "playpause", "XF86AudioPlay", "Media Play", "Play/Pause"},
        {KEY_NEXTSONG, "nextsong", "XF86AudioNext", "Media Next", "Next Track"},
        {KEY_PREVIOUSSONG, "previoussong", "XF86AudioPrev", "Media Previous", "Previous Track"},
        {KEY_VOLUMEUP, "volumeup", "XF86AudioRaiseVolume", "Volume Up", "Volume Up"},
        {KEY_VOLUMEDOWN, "volumedown", "XF86AudioLowerVolume", "Volume Down", "Volume Down"},
        {KEY_MUTE, "mute", "XF86AudioMute", "Volume Mute", "Mute"},
        {KEY_BRIGHTNESSUP, "brightnessup", "XF86MonBrightnessUp", "Monitor Brightness Up", "Brightness Up"},
        {KEY_BRIGHTNESSDOWN, "brightnessdown", "XF86MonBrightnessDown", "Monitor Brightness Down", "Brightness Down"},
    };
    rows.insert(rows.end(), std::begin(fixed), std::end(fixed));
    return rows;
}

struct Index {
    std::vector<LinuxKeys::Row> rows;
    std::array<const LinuxKeys::Row*, KEY_MAX + 1> byCode {};
    std::map<std::string, const LinuxKeys::Row*, std::less<>> byName, byKeysym, byQt;
};

const Index& index()
{
    static const Index built = [] {
        Index i;
        i.rows = makeRows();
        for (const auto& row : i.rows) {
            i.byCode[row.evdev] = &row;
            i.byName.emplace(std::string(row.name), &row);
            i.byKeysym.emplace(std::string(row.keysym), &row);
            if (!row.qt.empty())
                i.byQt.emplace(lowerASCII(row.qt), &row);
        }
        // Other spellings of the same keysyms that GNOME's settings use.
        i.byKeysym.emplace("Above_Tab", i.byCode[KEY_GRAVE]);
        i.byKeysym.emplace("Prior", i.byCode[KEY_PAGEUP]);
        i.byKeysym.emplace("Next", i.byCode[KEY_PAGEDOWN]);
        i.byQt.emplace("pgdn", i.byCode[KEY_PAGEDOWN]);
        i.byQt.emplace("delete", i.byCode[KEY_DELETE]);
        i.byQt.emplace("insert", i.byCode[KEY_INSERT]);
        i.byQt.emplace("escape", i.byCode[KEY_ESC]);
        return i;
    }();
    return built;
}

template <typename Map> const LinuxKeys::Row* find(const Map& map, std::string_view key)
{
    const auto found = map.find(key);
    return found == map.end() ? nullptr : found->second;
}

} // namespace

std::span<const LinuxKeys::Row> LinuxKeys::all() { return index().rows; }

const LinuxKeys::Row* LinuxKeys::byCode(std::uint16_t evdev)
{
    return evdev <= KEY_MAX ? index().byCode[evdev] : nullptr;
}

const LinuxKeys::Row* LinuxKeys::byName(std::string_view name) { return find(index().byName, lowerASCII(name)); }

const LinuxKeys::Row* LinuxKeys::byKeysym(std::string_view keysym)
{
    if (const auto* row = find(index().byKeysym, keysym))
        return row;
    // A letter may be written in either case ("<Super>H").
    if (keysym.size() == 1)
        return find(index().byKeysym, lowerASCII(keysym));
    return nullptr;
}

const LinuxKeys::Row* LinuxKeys::byQtName(std::string_view qt) { return find(index().byQt, lowerASCII(qt)); }

} // namespace ferlow
