#include "FerlowCore/ActionButton.h"

#include <gtest/gtest.h>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {
namespace {

using Json = nlohmann::json;

ActionKind decodeKind(std::string_view text) { return ActionKind::decode(Json::parse(text)); }

TEST(ActionKindCoding, EveryKindHasItsSingleKeyForm)
{
    const struct {
        ActionKind kind;
        const char* json;
    } cases[] = {
        {ActionKind::key(53, 0), R"({"key":{"code":53,"modifiers":0}})"},
        {ActionKind::key(65535, 0xFFFFFFFFFFFFFFFF), R"({"key":{"code":65535,"modifiers":18446744073709551615}})"},
        {ActionKind::media(MediaKey::brightnessDown), R"({"media":{"_0":"brightnessDown"}})"},
        {ActionKind::mouse(7), R"({"mouse":{"button":7}})"},
        {ActionKind::mouse(-1), R"({"mouse":{"button":-1}})"},
        {ActionKind::gesture(SystemGesture::spaceRight), R"({"gesture":{"_0":"spaceRight"}})"},
        {ActionKind::appSwitcher(), R"({"appSwitcher":{}})"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.kind.encode().dump(), c.json);
        EXPECT_EQ(decodeKind(c.json), c.kind) << c.json;
    }
}

TEST(ActionKindCoding, RefusesWhatIsNotExactlyOneKnownKind)
{
    for (const char* json : {R"({})", R"({"key":{"code":1,"modifiers":0},"media":{"_0":"mute"}})", R"({"other":{}})",
             R"({"key":{"code":53}})", R"({"key":{"code":65536,"modifiers":0}})", R"({"key":{"code":-1,"modifiers":0}})",
             R"({"key":{"code":1,"modifiers":-5}})", R"({"media":{"_0":"louder"}})", R"({"media":{}})",
             R"({"gesture":{"_0":"MissionControl"}})", R"({"mouse":{"button":"1"}})", R"({"appSwitcher":[]})", R"([])"})
        EXPECT_THROW(decodeKind(json), DecodingError) << json;
    // Keys other than the five case names are not counted.
    EXPECT_EQ(decodeKind(R"({"appSwitcher":{},"note":1})"), ActionKind::appSwitcher());
}

// What is written shows in the "ready" message's and the actions file's
// tests; here the stored form read in any key order, nulls as absent, and
// what it may not lack.
TEST(ActionButtonCoding, StoredFormAndRequiredKeys)
{
    EXPECT_EQ(ActionButton::decode(Json::parse(
                  R"({"group":"Edit","keep":false,"kind":{"key":{"code":6,"modifiers":1179648}},"title":"Redo","id":"redo","conflict":null})")),
        (ActionButton {"redo", "Redo", ActionKind::key(6, 0x120000), std::nullopt, false, "Edit"}));
    for (const char* json : {
             R"({"id":"a","title":"A","kind":{"appSwitcher":{}}})",
             R"({"id":"a","title":"A","kind":{"appSwitcher":{}},"keep":"no"})",
             R"({"title":"A","kind":{"appSwitcher":{}},"keep":false})",
             R"({"id":"a","title":"A","keep":false})",
             R"({"id":"a","title":"A","kind":{"appSwitcher":{}},"keep":false,"group":3})"})
        EXPECT_THROW(ActionButton::decode(Json::parse(json)), DecodingError) << json;

    const auto list = Json::parse(R"([{"id":"a","title":"A","kind":{"appSwitcher":{}},"keep":false},{"id":"b"}])");
    EXPECT_THROW(ActionButton::decodeList(list), DecodingError);
    EXPECT_THROW(AppContext::decode(Json::parse(R"({"name":"Safari"})")), DecodingError);
}

// Every enumeration value reads back from the name it is written as.
TEST(ActionKindCoding, RawNamesRoundTrip)
{
    for (const auto key : allMediaKeys)
        EXPECT_EQ(mediaKeyFromRaw(rawValue(key)), key);
    for (const auto gesture : allSystemGestures)
        EXPECT_EQ(systemGestureFromRaw(rawValue(gesture)), gesture);
    EXPECT_EQ(mediaKeyFromRaw("PlayPause"), std::nullopt);
}

} // namespace
} // namespace ferlow
