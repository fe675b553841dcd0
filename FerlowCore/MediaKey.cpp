#include "FerlowCore/MediaKey.h"

namespace ferlow {

namespace {
struct Entry {
    MediaKey key;
    std::string_view raw;
    std::int32_t code;
};

constexpr std::array<Entry, 8> table {{
    {MediaKey::playPause, "playPause", 16},
    {MediaKey::next, "next", 17},
    {MediaKey::previous, "previous", 18},
    {MediaKey::volumeUp, "volumeUp", 0},
    {MediaKey::volumeDown, "volumeDown", 1},
    {MediaKey::mute, "mute", 7},
    {MediaKey::brightnessUp, "brightnessUp", 2},
    {MediaKey::brightnessDown, "brightnessDown", 3},
}};
} // namespace

std::string_view rawValue(MediaKey key) { return table[static_cast<std::size_t>(key)].raw; }

std::int32_t nxCode(MediaKey key) { return table[static_cast<std::size_t>(key)].code; }

std::optional<MediaKey> mediaKeyFromRaw(std::string_view raw)
{
    for (const auto& entry : table)
        if (entry.raw == raw)
            return entry.key;
    return std::nullopt;
}

} // namespace ferlow
