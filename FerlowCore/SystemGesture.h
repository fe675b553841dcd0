#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace ferlow {

// A system gesture the phone can ask for; raw values equal the case names.
enum class SystemGesture { missionControl, appExpose, showDesktop, apps, lookUp, spaceLeft, spaceRight };

inline constexpr std::array<SystemGesture, 7> allSystemGestures {
    SystemGesture::missionControl, SystemGesture::appExpose, SystemGesture::showDesktop,
    SystemGesture::apps, SystemGesture::lookUp, SystemGesture::spaceLeft, SystemGesture::spaceRight,
};

std::string_view rawValue(SystemGesture gesture);
std::optional<SystemGesture> systemGestureFromRaw(std::string_view raw);

} // namespace ferlow
