#include <gtest/gtest.h>

#include "FerlowServer/WebSocketFramer.h"
#include "FerlowServer/WebSocketHandshake.h"
#include "TestClient.h"

namespace ferlow {
namespace {

using test::maskedFrame;

HTTPRequest request(std::map<std::string, std::string, std::less<>> headers, std::string method = "GET")
{
    return {std::move(method), "/ws", std::move(headers)};
}

TEST(WebSocketHandshake, AcceptValueOfTheRFC6455Example)
{
    // RFC 6455 section 1.3.
    EXPECT_EQ(websocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

TEST(WebSocketHandshake, RecognisesUpgrades)
{
    const std::map<std::string, std::string, std::less<>> upgrade {
        {"upgrade", "WebSocket"}, {"connection", "keep-alive, Upgrade"}, {"sec-websocket-key", "k"}};
    EXPECT_TRUE(isWebSocketUpgrade(request(upgrade)));
    EXPECT_FALSE(isWebSocketUpgrade(request(upgrade, "get")));
    EXPECT_FALSE(isWebSocketUpgrade(request(upgrade, "POST")));
    for (const char* missing : {"upgrade", "connection", "sec-websocket-key"}) {
        auto without = upgrade;
        without.erase(missing);
        EXPECT_FALSE(isWebSocketUpgrade(request(without))) << missing;
    }
    auto wrong = upgrade;
    wrong["upgrade"] = "h2c";
    EXPECT_FALSE(isWebSocketUpgrade(request(wrong)));
    wrong = upgrade;
    wrong["connection"] = "keep-alive";
    EXPECT_FALSE(isWebSocketUpgrade(request(wrong)));
}

TEST(WebSocketHandshake, OriginMustBeThisHostOverHttp)
{
    struct Case {
        const char* origin; // nullptr: no Origin header
        const char* host;
        bool matches;
    };
    const Case cases[] = {
        {"http://desk.local:7311", "desk.local:7311", true},
        {"http://DESK.local:7311", "desk.LOCAL:7311", true},
        {"http://desk.local", "desk.local", true},
        {"http://[fe80::1]:7311", "[fe80::1]:7311", true},
        {"http://desk.local:7311/", "desk.local:7311", true},
        {"http://desk.local:7312", "desk.local:7311", false},
        {"https://desk.local:7311", "desk.local:7311", false},
        {"HTTP://desk.local:7311", "desk.local:7311", false},
        {"http://other.local:7311", "desk.local:7311", false},
        {"http://desk.local:7311", "desk.local", false},
        {"null", "desk.local:7311", false},
        {"http://", "", false},
        {"http://desk.local:99999", "desk.local:99999", false},
        {"http://desk.local:7311x", "desk.local:7311x", false},
        {nullptr, "desk.local:7311", false},
    };
    for (const auto& c : cases) {
        std::map<std::string, std::string, std::less<>> headers {{"host", c.host}};
        if (c.origin)
            headers["origin"] = c.origin;
        EXPECT_EQ(originMatchesHost(request(headers)), c.matches) << (c.origin ? c.origin : "(none)");
    }
    EXPECT_FALSE(originMatchesHost(request({{"origin", "http://desk.local"}})));
}

WSError::Kind framingFailure(const Bytes& bytes)
{
    WebSocketFramer framer;
    framer.append(bytes);
    try {
        while (framer.nextFrame()) { }
    } catch (const WSError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return WSError::Kind::protocolError;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(WebSocketFramer, DecodesAFrameSplitAtEveryByte)
{
    const Bytes payload = toBytes(std::string(300, 'p'));
    const Bytes stream = maskedFrame(0x82, payload) + maskedFrame(0x81, toBytes("hi"));
    for (std::size_t split = 0; split <= stream.size(); ++split) {
        WebSocketFramer framer;
        std::vector<WSFrame> frames;
        framer.append(ByteView(stream).first(split));
        while (auto frame = framer.nextFrame())
            frames.push_back(*frame);
        framer.append(ByteView(stream).subspan(split));
        while (auto frame = framer.nextFrame())
            frames.push_back(*frame);
        ASSERT_EQ(frames.size(), 2u) << split;
        EXPECT_EQ(frames[0], (WSFrame {WSOpcode::binary, payload}));
        EXPECT_EQ(frames[1], (WSFrame {WSOpcode::text, toBytes("hi")}));
    }
}

TEST(WebSocketFramer, ViolationsAreRefused)
{
    const Bytes none;
    Bytes unmasked = WebSocketFramer::encode(WSOpcode::text, toBytes("x"));
    const std::pair<Bytes, WSError::Kind> cases[] = {
        {unmasked, WSError::Kind::unmasked},
        {maskedFrame(0xC1, toBytes("x")), WSError::Kind::protocolError},  // reserved bit
        {maskedFrame(0x83, toBytes("x")), WSError::Kind::badOpcode},
        {maskedFrame(0x8B, none), WSError::Kind::badOpcode},
        {maskedFrame(0x89, Bytes(126)), WSError::Kind::protocolError},    // ping over 125 bytes
        {maskedFrame(0x08, none), WSError::Kind::protocolError},          // close without FIN
        {maskedFrame(0x80, toBytes("x")), WSError::Kind::protocolError},  // continuation, nothing open
        {maskedFrame(0x01, toBytes("a")) + maskedFrame(0x82, toBytes("b")), WSError::Kind::protocolError},
        {maskedFrame(0x82, Bytes(65537)), WSError::Kind::tooLarge},
        {maskedFrame(0x01, Bytes(65536)) + maskedFrame(0x80, Bytes(1)), WSError::Kind::tooLarge},
    };
    for (const auto& [bytes, kind] : cases)
        EXPECT_EQ(framingFailure(bytes), kind) << int(bytes[0]);
}

TEST(WebSocketFramer, LengthCapIsCheckedOnTheHeader)
{
    // Only the 10 header bytes of a 65537-byte frame: refused before any payload.
    WebSocketFramer framer;
    framer.append(Bytes {0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 1});
    EXPECT_THROW(framer.nextFrame(), WSError);
    WebSocketFramer exact;
    exact.append(Bytes {0x82, 0xFF, 0, 0, 0, 0, 0, 1, 0, 0});
    EXPECT_FALSE(exact.nextFrame());

    WebSocketFramer whole;
    whole.append(maskedFrame(0x82, Bytes(65536, 7)));
    const auto frame = whole.nextFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->payload, Bytes(65536, 7));
}

TEST(WebSocketFramer, ReassemblesAroundControlFrames)
{
    WebSocketFramer framer;
    framer.append(maskedFrame(0x01, toBytes("hel")) + maskedFrame(0x89, toBytes("p")) + maskedFrame(0x00, toBytes("l"))
        + maskedFrame(0x80, toBytes("o")));
    EXPECT_EQ(framer.nextFrame(), (WSFrame {WSOpcode::ping, toBytes("p")}));
    EXPECT_EQ(framer.nextFrame(), (WSFrame {WSOpcode::text, toBytes("hello")}));
    EXPECT_FALSE(framer.nextFrame());
    // The message is closed: a new one may start.
    framer.append(maskedFrame(0x82, toBytes("z")));
    EXPECT_EQ(framer.nextFrame(), (WSFrame {WSOpcode::binary, toBytes("z")}));
}

TEST(WebSocketFramer, EncodesHeaderLengths)
{
    const std::pair<std::size_t, Bytes> cases[] = {
        {125, {0x82, 125}},
        {126, {0x82, 126, 0, 126}},
        {65535, {0x82, 126, 0xFF, 0xFF}},
        {65536, {0x82, 127, 0, 0, 0, 0, 0, 1, 0, 0}},
    };
    for (const auto& [length, header] : cases) {
        const auto frame = WebSocketFramer::encode(WSOpcode::binary, Bytes(length, 9));
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + std::ptrdiff_t(header.size())), header) << length;
        EXPECT_EQ(frame.size(), header.size() + length);
    }
    EXPECT_EQ(WebSocketFramer::encode(WSOpcode::close, Bytes {3, 0xE8}), (Bytes {0x88, 2, 3, 0xE8}));
}

} // namespace
} // namespace ferlow
