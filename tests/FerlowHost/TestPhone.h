#pragma once

// The phone's side of the session protocol, as the phone web app speaks it:
// the plaintext hello, key derivation with role phone, sealed messages with a
// "ts" stamp, and opening what the computer sends; and the same phone on a
// real loopback connection.

#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include <asio/ip/tcp.hpp>
#include <nlohmann/json.hpp>

#include "FerlowCore/Base64URL.h"
#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/Pairing.h"
#include "FerlowCore/SealingChannel.h"
#include "tests/Support/TestClient.h"

namespace ferlow {

inline void PrintTo(const MacMessage& message, std::ostream* out) { *out << message.encode().dump(); }

namespace test {

class TestPhone {
public:
    TestPhone(std::string id, Bytes secret) : m_id(std::move(id)), m_secret(std::move(secret)) { }
    explicit TestPhone(const Pairing& pairing) : TestPhone(pairing.id, pairing.secret) { }

    std::string hello()
    {
        m_nonce = Pairing::random(16);
        return nlohmann::json {{"t", "hello"}, {"v", 1}, {"id", m_id}, {"n", Base64URL::encode(m_nonce)}}.dump();
    }

    // Reads the computer's hello and derives the session keys.
    void acceptHello(const std::string& text)
    {
        const auto json = nlohmann::json::parse(text);
        const auto macNonce = Base64URL::decode(json.at("n").get<std::string>());
        if (json.at("t") != "hello" || json.at("v") != 1 || !macNonce || macNonce->size() != 16)
            throw std::runtime_error("not a hello: " + text);
        m_channel = std::make_unique<SealingChannel>(SessionCrypto::deriveKeys(m_secret, m_nonce, *macNonce, Role::phone));
    }

    Bytes seal(const PhoneMessage& message, std::optional<double> ts = std::nullopt)
    {
        Bytes json = MessageCodec::encodePhone(message);
        if (ts) {
            json.pop_back(); // the closing brace
            const std::string stamp = ",\"ts\":" + nlohmann::json(*ts).dump() + "}";
            json.insert(json.end(), stamp.begin(), stamp.end());
        }
        return m_channel->seal(json);
    }

    MacMessage open(ByteView sealed) { return MessageCodec::decodeMac(m_channel->open(sealed)); }

    SealingChannel& channel() { return *m_channel; }
    const std::string& id() const { return m_id; }

private:
    std::string m_id;
    Bytes m_secret;
    Bytes m_nonce;
    std::unique_ptr<SealingChannel> m_channel;
};

// What a pairing URL ("http://host.local:7311/#id.secret") carries; nothing
// when the text is not one.
struct PairingLink {
    std::uint16_t port = 0;
    Pairing pairing;
};
inline std::optional<PairingLink> pairingLink(const std::string& url)
{
    const auto colon = url.rfind(':'), hash = url.find('#'), dot = url.rfind('.');
    if (colon == std::string::npos || hash == std::string::npos || dot < hash || colon > hash)
        return std::nullopt;
    PairingLink link;
    link.port = static_cast<std::uint16_t>(std::stoi(url.substr(colon + 1)));
    link.pairing.id = url.substr(hash + 1, dot - hash - 1);
    link.pairing.secret = Base64URL::decode(url.substr(dot + 1)).value_or(Bytes {});
    return link;
}

// A port nobody listens on right now.
inline std::uint16_t freePort()
{
    asio::io_context io;
    return asio::ip::tcp::acceptor(io, {asio::ip::tcp::v6(), 0}).local_endpoint().port();
}

// Over a real connection: the WebSocket upgrade, the hellos and "hi", then
// sealed messages both ways.
class LoopbackPhone : public TestPhone {
public:
    LoopbackPhone(std::uint16_t port, const Pairing& pairing) : TestPhone(pairing), client(port), m_port(port) { }

    // Returns the computer's first sealed message.
    MacMessage connect(const std::string& device = "Pixel")
    {
        if (!client.upgrade(m_port).starts_with("HTTP/1.1 101"))
            throw std::runtime_error("no upgrade");
        client.send(maskedFrame(0x81, asBytes(hello())));
        acceptHello(std::string(asText(client.readFrame().payload)));
        send(PhoneMessage::hi(device, false));
        return receive();
    }

    void send(const PhoneMessage& message, std::optional<double> ts = {}) { client.send(maskedFrame(0x82, seal(message, ts))); }

    MacMessage receive()
    {
        const auto frame = client.readFrame();
        if (!frame.complete || frame.opcode != 2)
            throw std::runtime_error("no sealed message came");
        return open(frame.payload);
    }

    TestClient client;

private:
    std::uint16_t m_port;
};

} // namespace test
} // namespace ferlow
