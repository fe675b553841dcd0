#include "FerlowCore/Pairing.h"

#include <limits>

#include <openssl/rand.h>

#include "FerlowCore/Base64URL.h"
#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

Bytes Pairing::random(std::size_t count)
{
    Bytes bytes(count);
    if (count > std::size_t(std::numeric_limits<int>::max())
        || RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)
        throw RandomSourceError();
    return bytes;
}

Pairing Pairing::make(double now)
{
    Pairing pairing;
    pairing.id = Base64URL::encode(random(8));
    pairing.secret = random(32);
    pairing.name = "New phone";
    pairing.createdAt = now;
    return pairing;
}

nlohmann::ordered_json Pairing::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["id"] = id;
    json["secret"] = Base64::encode(secret);
    json["name"] = name;
    json["createdAt"] = finite(createdAt, "createdAt");
    if (lastUsedAt)
        json["lastUsedAt"] = finite(*lastUsedAt, "lastUsedAt");
    return json;
}

Pairing Pairing::decode(const nlohmann::json& json)
{
    object(json, "pairing");
    Pairing pairing;
    pairing.id = requireString(json, "id");
    auto secret = Base64::decode(requireString(json, "secret"));
    if (!secret)
        throw DecodingError(DecodingError::Kind::dataCorrupted, "dataCorrupted: \"secret\" is not valid Base64");
    pairing.secret = std::move(*secret);
    pairing.name = requireString(json, "name");
    pairing.createdAt = requireNumber(json, "createdAt");
    if (const auto* used = optional(json, "lastUsedAt"))
        pairing.lastUsedAt = number(*used, "lastUsedAt");
    return pairing;
}

bool isURLHost(std::string_view host)
{
    if (host.empty() || host.size() > 253)
        return false;
    std::size_t label = 0;
    for (const char c : host) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        // RFC 1035 2.3.4: labels of at most 63 octets.
        if (!plain || ++label > 63)
            return false;
    }
    return label > 0;
}

std::string padAddress(std::string_view host, std::uint16_t port)
{
    return "http://" + std::string(host) + ":" + std::to_string(port);
}

std::optional<std::string> pairingURL(std::string_view host, std::uint16_t port, const Pairing& pairing)
{
    // The host goes into the URL unescaped.
    if (!isURLHost(host))
        return std::nullopt;
    return padAddress(host, port) + "/#" + pairing.id + "." + Base64URL::encode(pairing.secret);
}

} // namespace ferlow
