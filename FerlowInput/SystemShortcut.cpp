#include "FerlowInput/SystemShortcut.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace ferlow {

namespace {

const std::string unnamed = "a macOS shortcut";

// A property-list number read as an integer: integers as they are,
// fractions truncated; anything else (or out of range) is nothing.
std::optional<std::int64_t> integerValue(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        const auto u = value.get<std::uint64_t>();
        if (u > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return std::int64_t(u);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    if (value.is_number_float()) {
        const double d = std::trunc(value.get<double>());
        if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
            return std::nullopt;
        return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
}

bool isOn(const nlohmann::json& entry)
{
    const auto enabled = entry.find("enabled");
    if (enabled == entry.end())
        return false;
    if (enabled->is_boolean())
        return enabled->get<bool>();
    return enabled->is_number() && enabled->get<double>() != 0;
}

// The hot-key number of an entry key: decimal, an optional sign.
std::optional<std::int64_t> hotKeyNumber(std::string_view key)
{
    if (key.starts_with('+')) {
        key.remove_prefix(1);
        if (key.starts_with('-'))
            return std::nullopt;
    }
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), number);
    if (key.empty() || error != std::errc() || end != key.data() + key.size())
        return std::nullopt;
    return number;
}

std::optional<SystemShortcut> shortcut(const std::string& key, const nlohmann::json& entry)
{
    if (!entry.is_object() || !isOn(entry))
        return std::nullopt;
    const auto value = entry.find("value");
    if (value == entry.end() || !value->is_object())
        return std::nullopt;
    const auto parameters = value->find("parameters");
    if (parameters == value->end() || !parameters->is_array() || parameters->size() < 3)
        return std::nullopt;
    const auto keyCode = integerValue((*parameters)[1]);
    const auto mask = integerValue((*parameters)[2]);
    // 65535 is the "no key" placeholder; other values outside a key code's
    // range or negative masks mean nothing either.
    if (!keyCode || !mask || *keyCode < 0 || *keyCode >= 65535 || *mask < 0)
        return std::nullopt;

    const auto number = hotKeyNumber(key);
    const auto& names = SystemShortcut::names();
    const auto named = number ? names.find(*number) : names.end();
    return SystemShortcut {named != names.end() ? named->second : unnamed, static_cast<std::uint16_t>(*keyCode),
        static_cast<std::uint64_t>(*mask) & SystemShortcut::modifierMask};
}

} // namespace

const std::map<std::int64_t, std::string>& SystemShortcut::names()
{
    // macOS's own names for its hot keys, read only from macOS's settings;
    // on Linux the desktop's shortcuts are named by the desktop.
    static const std::map<std::int64_t, std::string> table {
        {7, "Move focus to the menu bar"},
        {8, "Move focus to the Dock"},
        {27, "Move focus to the next window"},
        {28, "Screenshot"},
        {29, "Screenshot"},
        {30, "Screenshot"},
        {31, "Screenshot"},
        {184, "Screenshot"},
        {32, "Mission Control"},
        {34, "Mission Control"},
        {33, "Application windows"},
        {35, "Application windows"},
        {36, "Show Desktop"},
        {37, "Show Desktop"},
        {160, "Apps"},
        {163, "Notification Center"},
        {52, "Turn Dock hiding on or off"},
        {57, "Move focus to the status menus"},
        {60, "Select the previous input source"},
        {61, "Select the next input source"},
        {64, "Spotlight"},
        {65, "Finder search window"},
        {79, "Move left a space"},
        {80, "Move left a space"},
        {81, "Move right a space"},
        {82, "Move right a space"},
        {118, "Switch to Desktop 1"},
        {119, "Switch to Desktop 2"},
        {120, "Switch to Desktop 3"},
        {121, "Switch to Desktop 4"},
        {162, "Accessibility controls"},
        {175, "Do Not Disturb"},
    };
    return table;
}

std::vector<SystemShortcut> SystemShortcut::load(const nlohmann::json& defaults)
{
    if (!defaults.is_object())
        return {};
    const auto hotKeys = defaults.find("AppleSymbolicHotKeys");
    if (hotKeys == defaults.end() || !hotKeys->is_object())
        return {};
    std::vector<SystemShortcut> result;
    for (const auto& [key, entry] : hotKeys->items()) {
        if (auto found = shortcut(key, entry))
            result.push_back(std::move(*found));
    }
    return result;
}

} // namespace ferlow
