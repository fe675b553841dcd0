#include <gtest/gtest.h>

#include "FerlowServer/WebSocketFramer.h"
#include "FerlowServer/WebSocketHandshake.h"
#include "tests/Support/TestClient.h"
#include "tests/Support/TestSupport.h"

namespace ferlow {
namespace {

using test::maskedFrame;
using test::operator+;
using Headers = std::map<std::string, std::string, std::less<>>;

TEST(WebSocketHandshake, RecognisesUpgrades)
{
    const Headers upgrade {{"upgrade", "WebSocket"}, {"connection", "keep-alive, Upgrade"}, {"sec-websocket-key", "k"}};
    EXPECT_TRUE(isWebSocketUpgrade({"GET", "/", upgrade}));
    EXPECT_FALSE(isWebSocketUpgrade({"get", "/", upgrade}));
    for (const auto& [name, wrong] : {std::pair {"upgrade", "h2c"}, {"connection", "keep-alive"}, {"sec-websocket-key", ""}}) {
        auto changed = upgrade;
        changed.erase(name);
        EXPECT_FALSE(isWebSocketUpgrade({"GET", "/", changed})) << name;
        changed[name] = wrong;
        EXPECT_EQ(isWebSocketUpgrade({"GET", "/", changed}), *wrong == '\0') << name; // any key value will do
    }
}

// The case of host names, the own page and https are the origin fuzzer's.
TEST(WebSocketHandshake, OriginMustBeThisHostOverHttp)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"http://[fe80::1]:7311", "[fe80::1]:7311", true},
        {"http://desk.local:7312", "desk.local:7311", false},
        {"http://desk.local:7311", "desk.local", false},
        {"null", "desk.local:7311", false},
        {"http://desk.local:99999", "desk.local:99999", false},
        {"", "desk.local:7311", false}, // no Origin header at all
    };
    for (const auto& [origin, host, matches] : cases) {
        Headers headers {{"host", host}};
        if (*origin)
            headers["origin"] = origin;
        EXPECT_EQ(originMatchesHost({"GET", "/", headers}), matches) << origin;
    }
}

std::optional<WSError::Kind> framingFailure(const Bytes& bytes)
{
    WebSocketFramer framer;
    framer.append(bytes);
    try {
        while (framer.nextFrame()) { }
    } catch (const WSError& error) {
        return error.kind();
    }
    return std::nullopt;
}

TEST(WebSocketFramer, ViolationsAreRefused)
{
    const std::pair<Bytes, WSError::Kind> cases[] = {
        {WebSocketFramer::encode(WSOpcode::text, toBytes("x")), WSError::Kind::unmasked},
        {maskedFrame(0xC1, toBytes("x")), WSError::Kind::protocolError}, // a reserved bit
        {maskedFrame(0x83, toBytes("x")), WSError::Kind::badOpcode},
        {maskedFrame(0x89, Bytes(126)), WSError::Kind::protocolError},   // a ping over 125 bytes
        {maskedFrame(0x08, {}), WSError::Kind::protocolError},           // a close without FIN
        {maskedFrame(0x80, toBytes("x")), WSError::Kind::protocolError}, // a continuation of nothing
        {maskedFrame(0x01, toBytes("a")) + maskedFrame(0x82, toBytes("b")), WSError::Kind::protocolError},
        {maskedFrame(0x82, Bytes(65537)), WSError::Kind::tooLarge},
        {maskedFrame(0x01, Bytes(65536)) + maskedFrame(0x80, Bytes(1)), WSError::Kind::tooLarge},
        // Only the 10 header bytes of a 65537-byte frame: refused before any payload.
        {Bytes {0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 1}, WSError::Kind::tooLarge},
    };
    for (const auto& [bytes, kind] : cases)
        EXPECT_EQ(framingFailure(bytes), kind) << int(bytes[0]);
    EXPECT_FALSE(framingFailure(Bytes {0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0})); // 65536: waits for the payload
}

TEST(WebSocketFramer, ReassemblesAroundControlFramesUpToTheCap)
{
    WebSocketFramer framer;
    framer.append(maskedFrame(0x01, toBytes("hel")) + maskedFrame(0x89, toBytes("p")) + maskedFrame(0x00, toBytes("l"))
        + maskedFrame(0x80, toBytes("o")) + maskedFrame(0x02, Bytes(65535)) + maskedFrame(0x80, Bytes(1)));
    EXPECT_EQ(framer.nextFrame(), (WSFrame {WSOpcode::ping, toBytes("p")}));
    EXPECT_EQ(framer.nextFrame(), (WSFrame {WSOpcode::text, toBytes("hello")}));
    EXPECT_EQ(framer.nextFrame(), (WSFrame {WSOpcode::binary, Bytes(65536)}));
    EXPECT_FALSE(framer.nextFrame());
}

TEST(WebSocketFramer, EncodesHeaderLengths)
{
    const std::pair<std::size_t, Bytes> cases[] = {
        {125, {0x82, 125}}, {126, {0x82, 126, 0, 126}}, {65536, {0x82, 127, 0, 0, 0, 0, 0, 1, 0, 0}}};
    for (const auto& [length, header] : cases) {
        const auto frame = WebSocketFramer::encode(WSOpcode::binary, Bytes(length, 9));
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + std::ptrdiff_t(header.size())), header) << length;
        EXPECT_EQ(frame.size(), header.size() + length);
    }
}

} // namespace
} // namespace ferlow
