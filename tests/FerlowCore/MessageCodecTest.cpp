#include "FerlowCore/MessageCodec.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "FerlowCore/CodingError.h"

namespace ferlow {
namespace {

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

PhoneMessage decodePhone(std::string_view json) { return MessageCodec::decodePhone(asBytes(json)); }

// What a decode attempt ended in, for table-driven failure tests.
std::string outcome(std::string_view json)
{
    static constexpr const char* kinds[] = {"dataCorrupted", "keyNotFound", "typeMismatch", "valueNotFound"};
    try {
        MessageCodec::decodePhoneStamped(asBytes(json));
        return "ok";
    } catch (const MessageCodecError& error) {
        return "unknownType:" + error.tag();
    } catch (const DecodingError& error) {
        return kinds[static_cast<int>(error.kind())];
    }
}

TEST(PhoneMessageCoding, EveryCaseEncodesInTableKeyOrderAndDecodesBack)
{
    const struct {
        PhoneMessage message;
        const char* json;
    } cases[] = {
        {PhoneMessage::move(1.5, -2), R"({"t":"m","x":1.5,"y":-2.0})"},
        {PhoneMessage::button(1, true, 2), R"({"t":"b","b":1,"d":true,"c":2})"},
        {PhoneMessage::scroll(0.5, 3, Phase::changed, MomentumPhase::none), R"({"t":"s","x":0.5,"y":3.0,"p":2,"mp":0})"},
        {PhoneMessage::scroll(0, -4.25, std::nullopt, MomentumPhase::continue_), R"({"t":"s","x":0.0,"y":-4.25,"mp":2})"},
        {PhoneMessage::pinch(0.125, Phase::began), R"({"t":"z","v":0.125,"p":1})"},
        {PhoneMessage::rotate(-12.5, Phase::cancelled), R"({"t":"r","v":-12.5,"p":8})"},
        {PhoneMessage::dock(DockKind::vertical, 0.4, Phase::ended, 1.25), R"({"t":"d","k":"v","v":0.4,"p":4,"vel":1.25})"},
        {PhoneMessage::system(SystemGesture::lookUp), R"({"t":"sys","n":"lookUp"})"},
        {PhoneMessage::action("copy", false), R"({"t":"a","id":"copy","d":false})"},
        {PhoneMessage::hi("Ana’s phone \"2\"", true), R"({"t":"hi","dev":"Ana’s phone \"2\"","sa":true})"},
        {PhoneMessage::ping(1712.5), R"({"t":"p","ts":1712.5})"},
        {PhoneMessage::smartZoom(), R"({"t":"sz"})"},
        {PhoneMessage::forget(), R"({"t":"forget"})"},
        {PhoneMessage::text(2, "héllo", TextKey::enter), R"({"t":"w","s":"héllo","del":2,"k":"ret"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const Bytes encoded = MessageCodec::encodePhone(c.message);
        EXPECT_EQ(text(encoded), c.json);
        EXPECT_EQ(MessageCodec::decodePhone(encoded), c.message);
    }
}

TEST(PhoneMessageCoding, LenientAndDefaultedFields)
{
    // The scroll phase is lenient: absent or not a phase value means none.
    EXPECT_EQ(decodePhone(R"({"t":"s","x":1,"y":2,"p":3,"mp":0})"),
        PhoneMessage::scroll(1, 2, std::nullopt, MomentumPhase::none));
    EXPECT_EQ(decodePhone(R"({"t":"s","x":1,"y":2,"p":16,"mp":3})"),
        PhoneMessage::scroll(1, 2, std::nullopt, MomentumPhase::end));
    // A dock swipe without "vel" has velocity 0, and re-encoding writes it.
    const auto dock = decodePhone(R"({"t":"d","k":"p","v":-0.5,"p":2})");
    EXPECT_EQ(dock, PhoneMessage::dock(DockKind::pinch, -0.5, Phase::changed, 0));
    EXPECT_EQ(text(MessageCodec::encodePhone(dock)), R"({"t":"d","k":"p","v":-0.5,"p":2,"vel":0.0})");
    // Unknown keys are ignored; integral numbers count as integers.
    EXPECT_EQ(decodePhone(R"({"t":"m","x":1,"y":2,"z":1,"extra":{"deep":[1,2]}})"), PhoneMessage::move(1, 2));
    EXPECT_EQ(decodePhone(R"({"t":"b","b":2.0,"d":false,"c":1e0})"), PhoneMessage::button(2, false, 1));
}

TEST(PhoneMessageCoding, DecodingFailuresReportTheDesignedError)
{
    const std::pair<const char*, const char*> cases[] = {
        {R"({"t":"qq"})", "unknownType:qq"},
        {R"({"t":""})", "unknownType:"},
        {R"({})", "keyNotFound"}, // not unknownType
        {R"({"t":null})", "valueNotFound"},
        {R"({"t":"m","x":1})", "keyNotFound"},
        {R"({"t":"m","x":"1","y":2})", "typeMismatch"},
        {R"({"t":"b","b":0.5,"d":true,"c":1})", "typeMismatch"},
        {R"({"t":"b","b":0,"d":1,"c":1})", "typeMismatch"},
        {R"({"t":"b","b":18446744073709551615,"d":true,"c":1})", "typeMismatch"},
        {R"({"t":"s","x":1,"y":2,"p":3,"mp":4})", "dataCorrupted"},
        {R"({"t":"sys","n":"launchpad"})", "dataCorrupted"},
        {R"({"t":"m","x":1,"y":2,"ts":"now"})", "typeMismatch"}, // a bad stamp fails a good move
        {R"([{"t":"m","x":1,"y":2}])", "typeMismatch"},
        {"", "dataCorrupted"},
        {R"({"t":"m","x":1,"y":2}garbage)", "dataCorrupted"},
        {R"({"t":"m","x":1e400,"y":2})", "dataCorrupted"},
        {R"({"t":"m","x":01,"y":2})", "dataCorrupted"},
        {R"({"t":"m","x":1.,"y":2,"ts":3})", "dataCorrupted"},
        {R"({"t":"m","x":NaN,"y":2})", "dataCorrupted"},
        {"{\"t\":\"hi\",\"dev\":\"\xc0\xaf\",\"sa\":true}", "dataCorrupted"}, // an overlong "/"
    };
    for (const auto& [json, expected] : cases)
        EXPECT_EQ(outcome(json), expected) << json;
}

TEST(PhoneMessageCoding, HostileBytesNeverCrash)
{
    // Nesting deep enough to overflow a recursive parser's stack.
    EXPECT_EQ(outcome(std::string(100000, '[') + std::string(100000, ']')), "typeMismatch");
    const std::string deepInside = R"({"t":"m","x":1,"y":2,"z":)" + std::string(50000, '[') + std::string(50000, ']') + "}";
    EXPECT_EQ(outcome(deepInside), "ok");
    static constexpr char rawNul[] = "{\"t\":\"m\0\",\"x\":1,\"y\":2}";
    EXPECT_EQ(outcome(std::string(rawNul, sizeof rawNul - 1)), "dataCorrupted");
    EXPECT_EQ(decodePhone(R"({"t":"a","id":"a\u0000b","d":true})"), PhoneMessage::action(std::string("a\0b", 3), true));
}

// Typed text is bounded before anything is done with it, and what no
// keyboard types (control characters: Return and Tab come as "k") never
// reaches the desktop.
TEST(PhoneMessageCoding, TypedTextIsBoundedAndCarriesNoControlCharacters)
{
    std::string longest;
    for (int i = 0; i < 256; ++i)
        longest += "日";
    EXPECT_EQ(outcome(R"({"t":"w","s":")" + longest + R"(","del":256})"), "ok");
    EXPECT_EQ(outcome(R"({"t":"w","s":")" + longest + R"(x"})"), "dataCorrupted");
    // Counted before the control characters go: they are still characters sent.
    EXPECT_EQ(outcome(R"({"t":"w","s":")" + longest + R"(\n"})"), "dataCorrupted");
    const std::pair<const char*, const char*> cases[] = {
        {R"({"t":"w","s":"x","del":257})", "dataCorrupted"},
        {R"({"t":"w","s":"x","del":-1})", "dataCorrupted"},
        {R"({"t":"w","s":"x","del":1.5})", "typeMismatch"},
        {R"({"t":"w","s":5})", "typeMismatch"},
        {R"({"t":"w","k":"enter"})", "dataCorrupted"},
        {R"({"t":"w","s":"\ud800"})", "dataCorrupted"}, // a lone surrogate is no character
    };
    for (const auto& [json, expected] : cases)
        EXPECT_EQ(outcome(json), expected) << json;

    EXPECT_EQ(decodePhone(R"({"t":"w","s":"a\u0000b\tc\nd\u007fe\u0085f\u200bg\u00e9"})"),
        PhoneMessage::text(0, "abcdef\u200bg\u00e9")); // C0, DEL and C1 go; a zero-width space is text
    EXPECT_EQ(decodePhone(R"({"t":"w","k":"tab"})"), PhoneMessage::text(0, "", TextKey::tab));
}

// The pad's own moves skip the JSON tree; any other spelling of a move is
// the general decoder's, and reads the same.
TEST(PhoneMessageCoding, CompactMovesAreReadAsTheGeneralDecoderReadsThem)
{
    const struct {
        const char* json;
        bool compact;
        double x, y;
        std::optional<double> ts;
    } cases[] = {
        {R"({"t":"m","x":1.5,"y":-2,"ts":1712345678901.25})", true, 1.5, -2, 1712345678901.25},
        {R"({"ts":7,"y":-3e-2,"x":3.0,"t":"m"})", true, 3, -0.03, 7},
        {R"({"t":"m","x":-0,"y":18446744073709551616})", true, 0, 18446744073709551616.0, std::nullopt},
        {R"({"t":"m", "x":1,"y":2})", false, 1, 2, std::nullopt},
        {R"({"t":"m","x":1,"y":2,"z":[1]})", false, 1, 2, std::nullopt},
        {R"({"t":"m","x":1,"y":2,"x":4})", false, 4, 2, std::nullopt},
        {R"({"t":"m","x":1,"y":2,"ts":null})", false, 1, 2, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        EXPECT_EQ(MessageCodec::decodeCompactMove(asBytes(c.json)).has_value(), c.compact);
        const auto stamped = MessageCodec::decodePhoneStamped(asBytes(c.json));
        EXPECT_EQ(stamped.message, PhoneMessage::move(c.x, c.y));
        EXPECT_FALSE(std::signbit(stamped.message.as<PhoneMessage::Move>()->dx)); // "-0" is an integer 0
        EXPECT_EQ(stamped.ts, c.ts);
    }
    // A ping's own "ts" is its payload, not a stamp to pace by.
    const auto ping = MessageCodec::decodePhoneStamped(asBytes(R"({"t":"p","ts":99})"));
    EXPECT_EQ(std::pair(ping.message, ping.ts), std::pair(PhoneMessage::ping(99), std::optional<double>()));
}

TEST(MessageCodec, NonFiniteNumbersAreRefusedOnEncoding)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_THROW(MessageCodec::encodePhone(PhoneMessage::move(std::nan(""), 0)), EncodingError);
    EXPECT_THROW(MessageCodec::encode(MacMessage::pong(-inf)), EncodingError);
}

const ActionButton redo {"redo", "Redo", ActionKind::key(6, 0x120000), std::nullopt, false, "Edit"};

TEST(MacMessageCoding, ReadyIsWrittenInTableOrderWithoutAnAbsentApp)
{
    const auto ready = MacMessage::ready(true, {redo}, "office", TrackpadPrefs {}, std::nullopt, UpdateStatus::available("1.5.0"));
    EXPECT_EQ(text(MessageCodec::encode(ready)),
        R"({"t":"ready","ax":true,"actions":[{"id":"redo","title":"Redo","kind":{"key":{"code":6,"modifiers":1179648}},)"
        R"("keep":false,"group":"Edit"}],"name":"office","g":{"natural":true,"drag3":false,"swipeH":[4],"swipeV":[3],)"
        R"("mc":true,"expose":true,"lookUp":true,"zoom":true,"rotate":true,"pinch":true,"right":true,"desktop":true,)"
        R"("apps":true,"trackpad":false},"u":{"s":"available","v":"1.5.0"}})");
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::context(std::nullopt))), R"({"t":"ctx"})");
    // Typing is announced only by a computer that can type.
    const auto typing = MacMessage::ready(false, {}, "", TrackpadPrefs {}, std::nullopt, UpdateStatus::upToDate(), true);
    EXPECT_TRUE(text(MessageCodec::encode(typing)).ends_with(R"(,"u":{"s":"ok"},"txt":true})"));
    EXPECT_EQ(MessageCodec::decodeMac(MessageCodec::encode(typing)), typing);
    const auto untyped = MacMessage::untyped("日本");
    EXPECT_EQ(text(MessageCodec::encode(untyped)), R"({"t":"untyped","s":"日本"})");
    EXPECT_EQ(MessageCodec::decodeMac(MessageCodec::encode(untyped)), untyped);
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::update(UpdateStatus::required("2.1")))),
        R"({"t":"update","u":{"s":"required","v":"2.1"}})");
}

} // namespace
} // namespace ferlow
