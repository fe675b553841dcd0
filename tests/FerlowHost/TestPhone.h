#pragma once

// The phone's side of the session protocol, as the phone web app speaks it:
// the plaintext hello, key derivation with role phone, sealed messages with a
// "ts" stamp, and opening what the computer sends.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "FerlowCore/Base64URL.h"
#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/Pairing.h"
#include "FerlowCore/SealingChannel.h"

namespace ferlow::test {

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

} // namespace ferlow::test
