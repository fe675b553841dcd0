#include "FerlowCore/TrackpadPrefs.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FerlowCore/CodingError.h"

namespace ferlow {
namespace {

using Json = nlohmann::json;

// The desktop's settings reach the phone in this form (the mapping from
// macOS's trackpad settings has no caller on Linux).
TEST(TrackpadPrefsCoding, FourteenKeysAllRequired)
{
    TrackpadPrefs prefs = TrackpadPrefs::builtIn(false);
    prefs.swipeH = {3, 4};
    const auto json = prefs.encode();
    EXPECT_EQ(json.size(), 14u);
    EXPECT_EQ(TrackpadPrefs::decode(Json::parse(json.dump())), prefs);
    for (const auto& [key, value] : json.items()) {
        auto missing = Json::parse(json.dump());
        missing.erase(key);
        EXPECT_THROW(TrackpadPrefs::decode(missing), DecodingError) << key;
    }
    auto wrong = Json::parse(json.dump());
    wrong["swipeH"] = {3, "4"};
    EXPECT_THROW(TrackpadPrefs::decode(wrong), DecodingError);
}

} // namespace
} // namespace ferlow
