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
    try {
        MessageCodec::decodePhoneStamped(asBytes(json));
        return "ok";
    } catch (const MessageCodecError& error) {
        return "unknownType:" + error.tag();
    } catch (const DecodingError& error) {
        switch (error.kind()) {
        case DecodingError::Kind::dataCorrupted: return "dataCorrupted";
        case DecodingError::Kind::keyNotFound: return "keyNotFound";
        case DecodingError::Kind::typeMismatch: return "typeMismatch";
        case DecodingError::Kind::valueNotFound: return "valueNotFound";
        }
    } catch (...) {
        return "other exception";
    }
    return "?";
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
    EXPECT_EQ(decodePhone(R"({"t":"s","x":1,"y":2,"mp":1})"),
        PhoneMessage::scroll(1, 2, std::nullopt, MomentumPhase::begin));
    EXPECT_EQ(decodePhone(R"({"t":"s","x":1,"y":2,"p":16,"mp":3})"),
        PhoneMessage::scroll(1, 2, std::nullopt, MomentumPhase::end));
    // A dock swipe without "vel" has velocity 0, and re-encoding writes it.
    const auto dock = decodePhone(R"({"t":"d","k":"p","v":-0.5,"p":2})");
    EXPECT_EQ(dock, PhoneMessage::dock(DockKind::pinch, -0.5, Phase::changed, 0));
    EXPECT_EQ(text(MessageCodec::encodePhone(dock)), R"({"t":"d","k":"p","v":-0.5,"p":2,"vel":0.0})");
    // Unknown keys are ignored; integral numbers count as integers.
    EXPECT_EQ(decodePhone(R"({"t":"m","x":1,"y":2,"z":1,"extra":{"deep":[1,2]}})"), PhoneMessage::move(1, 2));
    EXPECT_EQ(decodePhone(R"({"t":"b","b":2.0,"d":false,"c":1e0})"), PhoneMessage::button(2, false, 1));
    // Every phase value maps to its case.
    for (const auto& [raw, phase] : {std::pair {1, Phase::began}, {2, Phase::changed}, {4, Phase::ended}, {8, Phase::cancelled}})
        EXPECT_EQ(decodePhone(R"({"t":"z","v":1,"p":)" + std::to_string(raw) + "}"), PhoneMessage::pinch(1, phase));
}

TEST(PhoneMessageCoding, DecodingFailuresReportTheDesignedError)
{
    const struct {
        const char* json;
        const char* expected;
    } cases[] = {
        {R"({"t":"M","x":1,"y":2})", "unknownType:M"},
        {R"({"t":"move","x":1,"y":2})", "unknownType:move"},
        {R"({"t":"qq"})", "unknownType:qq"},
        {R"({"t":""})", "unknownType:"},
        {R"({"t":" m"})", "unknownType: m"},
        {R"({})", "keyNotFound"},
        {R"({"x":1})", "keyNotFound"},
        {R"({"t":7})", "typeMismatch"},
        {R"({"t":null})", "valueNotFound"},
        {R"({"t":"m","x":1})", "keyNotFound"},
        {R"({"t":"m","x":"1","y":2})", "typeMismatch"},
        {R"({"t":"m","x":true,"y":2})", "typeMismatch"},
        {R"({"t":"m","x":null,"y":2})", "valueNotFound"},
        {R"({"t":"b","b":0.5,"d":true,"c":1})", "typeMismatch"},
        {R"({"t":"b","b":0,"d":1,"c":1})", "typeMismatch"},
        {R"({"t":"b","b":1e300,"d":true,"c":1})", "typeMismatch"},
        {R"({"t":"b","b":18446744073709551615,"d":true,"c":1})", "typeMismatch"},
        {R"({"t":"s","x":1,"y":2,"p":3,"mp":4})", "dataCorrupted"},
        {R"({"t":"s","x":1,"y":2,"p":1})", "keyNotFound"},
        {R"({"t":"s","x":1,"y":2,"p":"1","mp":0})", "typeMismatch"},
        {R"({"t":"s","x":1,"y":2,"p":1.5,"mp":0})", "typeMismatch"},
        {R"({"t":"z","v":1,"p":3})", "dataCorrupted"},
        {R"({"t":"r","v":1,"p":0})", "dataCorrupted"},
        {R"({"t":"d","k":"x","v":1,"p":1})", "dataCorrupted"},
        {R"({"t":"d","k":"h","v":1,"p":1,"vel":"fast"})", "typeMismatch"},
        {R"({"t":"sys","n":"launchpad"})", "dataCorrupted"},
        {R"({"t":"a","id":5,"d":true})", "typeMismatch"},
        {R"({"t":"hi","dev":"x"})", "keyNotFound"},
        {R"({"t":"m","x":1,"y":2,"ts":"now"})", "typeMismatch"},
        {R"([{"t":"m","x":1,"y":2}])", "typeMismatch"},
        {R"("m")", "typeMismatch"},
        {R"(null)", "typeMismatch"},
        {"", "dataCorrupted"},
        {"{", "dataCorrupted"},
        {R"({"t":"m","x":1,"y":2}garbage)", "dataCorrupted"},
        {R"({"t":"m","x":1e400,"y":2})", "dataCorrupted"},
        {R"({"t":"m","x":NaN,"y":2})", "dataCorrupted"},
        {"{\"t\":\"hi\",\"dev\":\"\xff\xfe\",\"sa\":true}", "dataCorrupted"},
        {"{\"t\":\"hi\",\"dev\":\"\xc0\xaf\",\"sa\":true}", "dataCorrupted"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(outcome(c.json), c.expected) << c.json;
}

TEST(PhoneMessageCoding, HostileBytesNeverCrash)
{
    // Deep nesting, NUL bytes and a NUL escape inside strings.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_EQ(outcome(deep), "typeMismatch");
    const std::string deepInside = R"({"t":"m","x":1,"y":2,"z":)" + std::string(50000, '[') + std::string(50000, ']') + "}";
    EXPECT_EQ(outcome(deepInside), "ok");
    static constexpr char rawNulText[] = "{\"t\":\"m\0\",\"x\":1,\"y\":2}";
    const std::string rawNul(rawNulText, sizeof rawNulText - 1);
    EXPECT_EQ(outcome(rawNul), "dataCorrupted");
    const auto escapedNul = MessageCodec::decodePhone(asBytes(R"({"t":"a","id":"a\u0000b","d":true})"));
    EXPECT_EQ(escapedNul, PhoneMessage::action(std::string("a\0b", 3), true));
    // Every prefix of a valid message fails cleanly.
    const std::string valid = R"({"t":"d","k":"h","v":0.5,"p":2,"vel":1,"ts":12})";
    for (std::size_t n = 0; n < valid.size(); ++n)
        EXPECT_NE(outcome(valid.substr(0, n)), "ok") << n;
}

TEST(PhoneMessageCoding, StampRidesBesideTheMessage)
{
    auto stamped = MessageCodec::decodePhoneStamped(asBytes(R"({"t":"m","x":3,"y":4,"ts":1234.5})"));
    EXPECT_EQ(stamped.message, PhoneMessage::move(3, 4));
    EXPECT_EQ(stamped.ts, 1234.5);

    stamped = MessageCodec::decodePhoneStamped(asBytes(R"({"t":"m","x":3,"y":4})"));
    EXPECT_EQ(stamped.ts, std::nullopt);

    // A ping's own "ts" is its payload, not a stamp.
    stamped = MessageCodec::decodePhoneStamped(asBytes(R"({"t":"p","ts":99})"));
    EXPECT_EQ(stamped.message, PhoneMessage::ping(99));
    EXPECT_EQ(stamped.ts, std::nullopt);

    // The encoder never writes a stamp.
    EXPECT_EQ(text(MessageCodec::encodePhone(PhoneMessage::smartZoom())), R"({"t":"sz"})");
}

TEST(PhoneMessageCoding, NonFiniteNumbersAreRefusedOnEncoding)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_THROW(MessageCodec::encodePhone(PhoneMessage::move(nan, 0)), EncodingError);
    EXPECT_THROW(MessageCodec::encodePhone(PhoneMessage::dock(DockKind::horizontal, 0, Phase::ended, inf)), EncodingError);
    EXPECT_THROW(MessageCodec::encode(MacMessage::pong(-inf)), EncodingError);
}

ActionButton sampleButton()
{
    return ActionButton {"redo", "Redo", ActionKind::key(6, 0x120000), std::nullopt, false, "Edit"};
}

TEST(MacMessageCoding, ReadyIsWrittenInTableOrderWithoutAnAbsentApp)
{
    const auto ready = MacMessage::ready(true, {sampleButton()}, "office", TrackpadPrefs {}, std::nullopt,
        UpdateStatus::available("1.5.0"));
    EXPECT_EQ(text(MessageCodec::encode(ready)),
        R"({"t":"ready","ax":true,"actions":[{"id":"redo","title":"Redo","kind":{"key":{"code":6,"modifiers":1179648}},)"
        R"("keep":false,"group":"Edit"}],"name":"office","g":{"natural":true,"drag3":false,"swipeH":[4],"swipeV":[3],)"
        R"("mc":true,"expose":true,"lookUp":true,"zoom":true,"rotate":true,"pinch":true,"right":true,"desktop":true,)"
        R"("apps":true,"trackpad":false},"u":{"s":"available","v":"1.5.0"}})");
}

TEST(MacMessageCoding, EveryCaseRoundTrips)
{
    TrackpadPrefs prefs;
    prefs.naturalScroll = false;
    prefs.swipeH = {3, 4};
    prefs.swipeV = {};
    prefs.fromTrackpad = true;
    const AppContext app {"Safari", {sampleButton(), ActionButton {"app.1", "Play", ActionKind::media(MediaKey::playPause), "Reserved", true, std::nullopt}}};
    const MacMessage cases[] = {
        MacMessage::ready(false, {}, "", prefs, app, UpdateStatus::required("2.0")),
        MacMessage::ready(true, {sampleButton()}, "mac", TrackpadPrefs {}, std::nullopt, UpdateStatus::upToDate()),
        MacMessage::accessibility(true),
        MacMessage::actions({sampleButton()}),
        MacMessage::actions({}),
        MacMessage::prefs(prefs),
        MacMessage::context(app),
        MacMessage::context(std::nullopt),
        MacMessage::update(UpdateStatus::available("1.4.10")),
        MacMessage::pong(0.1 + 0.2),
        MacMessage::replaced(),
        MacMessage::revoked(),
    };
    for (const auto& message : cases) {
        SCOPED_TRACE(message.tag());
        EXPECT_EQ(MessageCodec::decodeMac(MessageCodec::encode(message)), message);
    }
}

TEST(MacMessageCoding, SmallCasesAndDecoderDefaults)
{
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::context(std::nullopt))), R"({"t":"ctx"})");
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::actions({}))), R"({"t":"actions","actions":[]})");
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::accessibility(false))), R"({"t":"ax","ok":false})");
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::update(UpdateStatus::upToDate()))), R"({"t":"update","u":{"s":"ok"}})");
    EXPECT_EQ(text(MessageCodec::encode(MacMessage::replaced())), R"({"t":"replaced"})");

    // "pong" echoes the ping's stamp bit for bit.
    const double ts = 1712345678.123456789;
    const auto pong = MessageCodec::decodeMac(MessageCodec::encode(MacMessage::pong(ts)));
    EXPECT_EQ(pong.as<MacMessage::Pong>()->ts, ts);

    // A minimal "ready" reads with the documented defaults.
    const auto ready = MessageCodec::decodeMac(asBytes(R"({"t":"ready","ax":false,"actions":[]})"));
    EXPECT_EQ(ready, MacMessage::ready(false, {}, "", TrackpadPrefs {}, std::nullopt, UpdateStatus::upToDate()));

    EXPECT_THROW(MessageCodec::decodeMac(asBytes(R"({"t":"ready","actions":[]})")), DecodingError);
    EXPECT_THROW(MessageCodec::decodeMac(asBytes(R"({"t":"prefs"})")), DecodingError);
    EXPECT_THROW(MessageCodec::decodeMac(asBytes(R"({"t":"pong","ts":"1"})")), DecodingError);
    try {
        MessageCodec::decodeMac(asBytes(R"({"t":"hello"})"));
        FAIL() << "an unknown tag decoded";
    } catch (const MessageCodecError& error) {
        EXPECT_EQ(error.tag(), "hello");
    }
}

} // namespace
} // namespace ferlow
