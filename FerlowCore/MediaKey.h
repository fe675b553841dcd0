#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ferlow {

// A media or brightness key. Declaration order is the editor's menu order.
enum class MediaKey { playPause, next, previous, volumeUp, volumeDown, mute, brightnessUp, brightnessDown };

inline constexpr std::array<MediaKey, 8> allMediaKeys {
    MediaKey::playPause, MediaKey::next, MediaKey::previous, MediaKey::volumeUp,
    MediaKey::volumeDown, MediaKey::mute, MediaKey::brightnessUp, MediaKey::brightnessDown,
};

std::string_view rawValue(MediaKey key);
std::optional<MediaKey> mediaKeyFromRaw(std::string_view raw);

// The special-key type number of the auxiliary-control key event that plays
// the key (the event layer's media key numbers: sound up 0, down 1, ...).
std::int32_t nxCode(MediaKey key);

} // namespace ferlow
