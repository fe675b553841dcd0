#include "FerlowCore/SystemGesture.h"

namespace ferlow {

namespace {
constexpr std::array<std::string_view, 7> raws {
    "missionControl", "appExpose", "showDesktop", "apps", "lookUp", "spaceLeft", "spaceRight",
};
} // namespace

std::string_view rawValue(SystemGesture gesture) { return raws[static_cast<std::size_t>(gesture)]; }

std::optional<SystemGesture> systemGestureFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < raws.size(); ++i)
        if (raws[i] == raw)
            return allSystemGestures[i];
    return std::nullopt;
}

} // namespace ferlow
