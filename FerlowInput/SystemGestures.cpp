#include "FerlowInput/SystemGestures.h"

namespace ferlow {

namespace {

constexpr SystemGestures::ModifierKey control {59, 0x40000};
constexpr SystemGestures::ModifierKey command {55, 0x100000};
constexpr SystemGestures::ModifierKey controlOnly[] = {control};
constexpr SystemGestures::ModifierKey controlCommand[] = {control, command};

// Arrow keys are function-row and keypad keys as far as the event flags go.
constexpr std::uint64_t arrowFlags = 0xA00000;
constexpr std::uint64_t functionFlag = 0x800000;

constexpr std::uint16_t leftArrow = 123, rightArrow = 124, downArrow = 125, upArrow = 126;
constexpr std::uint16_t keyD = 2, keyF11 = 103;

} // namespace

SystemGestures::Stroke SystemGestures::stroke(
    std::uint16_t main, std::span<const ModifierKey> modifiers, std::uint64_t extra)
{
    Stroke result;
    result.press.reserve(modifiers.size() + 1);
    result.release.reserve(modifiers.size() + 1);
    std::uint64_t held = 0;
    for (const auto& modifier : modifiers) {
        held |= modifier.bit;
        result.press.push_back(EventSpec::key(modifier.code, held, true));
    }
    const std::uint64_t flags = held | extra;
    result.press.push_back(EventSpec::key(main, flags, true));
    result.release.push_back(EventSpec::key(main, flags, false));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        held &= ~it->bit;
        result.release.push_back(EventSpec::key(it->code, held, false));
    }
    return result;
}

std::vector<EventSpec> SystemGestures::combo(
    std::uint16_t main, std::span<const ModifierKey> modifiers, std::uint64_t extra)
{
    auto [press, release] = stroke(main, modifiers, extra);
    press.insert(press.end(), release.begin(), release.end());
    return press;
}

std::vector<EventSpec> SystemGestures::specs(SystemGesture gesture)
{
    switch (gesture) {
    case SystemGesture::missionControl:
        return combo(upArrow, controlOnly, arrowFlags);
    case SystemGesture::appExpose:
        return combo(downArrow, controlOnly, arrowFlags);
    case SystemGesture::showDesktop:
        return combo(keyF11, {}, functionFlag);
    case SystemGesture::apps:
        return {EventSpec::launch(std::string(appsBundleID))};
    case SystemGesture::lookUp:
        return combo(keyD, controlCommand, 0);
    case SystemGesture::spaceLeft:
        return combo(leftArrow, controlOnly, arrowFlags);
    case SystemGesture::spaceRight:
        return combo(rightArrow, controlOnly, arrowFlags);
    }
    return {};
}

} // namespace ferlow
