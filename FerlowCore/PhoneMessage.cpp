#include "FerlowCore/PhoneMessage.h"

#include <cstdio>

#include "FerlowCore/CodingError.h"
#include "FerlowCore/JSONCoding.h"
#include "FerlowCore/MessageCodec.h"
#include "FerlowCore/UTF8.h"

namespace ferlow {

using namespace JSONCoding;

std::optional<Phase> phaseFromRaw(std::int64_t raw)
{
    switch (raw) {
    case 1: return Phase::began;
    case 2: return Phase::changed;
    case 4: return Phase::ended;
    case 8: return Phase::cancelled;
    default: return std::nullopt;
    }
}

std::optional<MomentumPhase> momentumPhaseFromRaw(std::int64_t raw)
{
    if (raw < 0 || raw > 3)
        return std::nullopt;
    return static_cast<MomentumPhase>(raw);
}

std::string_view rawValue(DockKind kind)
{
    switch (kind) {
    case DockKind::horizontal: return "h";
    case DockKind::vertical: return "v";
    case DockKind::pinch: return "p";
    }
    return "h";
}

std::optional<DockKind> dockKindFromRaw(std::string_view raw)
{
    if (raw == "h") return DockKind::horizontal;
    if (raw == "v") return DockKind::vertical;
    if (raw == "p") return DockKind::pinch;
    return std::nullopt;
}

std::string_view rawValue(TextKey key) { return key == TextKey::tab ? "tab" : "ret"; }

std::optional<TextKey> textKeyFromRaw(std::string_view raw)
{
    if (raw == "ret") return TextKey::enter;
    if (raw == "tab") return TextKey::tab;
    return std::nullopt;
}

std::string_view rawValue(K key) { return keyNames[static_cast<std::size_t>(key)]; }

std::optional<K> keyFromRaw(std::string_view raw)
{
    for (std::size_t i = 0; i < keyNames.size(); ++i)
        if (keyNames[i] == raw)
            return static_cast<K>(i);
    return std::nullopt;
}

namespace {

[[noreturn]] void outOfRange(std::string_view key, std::string_view what)
{
    throw DecodingError(DecodingError::Kind::dataCorrupted,
        "dataCorrupted: \"" + std::string(key) + "\" is not a valid " + std::string(what));
}

Phase requirePhase(const Json& json)
{
    const auto phase = phaseFromRaw(requireInteger(json, "p"));
    if (!phase)
        outOfRange("p", "phase");
    return *phase;
}

constexpr std::array<std::string_view, 13> tags {"m", "b", "s", "z", "r", "d", "sys", "a", "hi", "p", "sz", "forget", "w"};

// "w": the text is bounded before anything else is done with it, and what
// a keyboard cannot type (control characters: Return and Tab travel as
// "k") is dropped rather than passed on to the desktop.
PhoneMessage decodeText(const Json& json)
{
    std::string typed;
    if (const auto* s = optional(json, "s")) {
        const auto characters = UTF8::codePoints(string(*s, "s"));
        if (characters.size() > PhoneMessage::maxTextLength)
            outOfRange("s", "text of at most 256 characters");
        typed.reserve(characters.size());
        for (const char32_t c : characters)
            if (!UTF8::isControl(c))
                UTF8::append(typed, c);
    }
    std::int64_t deletions = 0;
    if (const auto* del = optional(json, "del")) {
        deletions = integer(*del, "del");
        if (deletions < 0 || deletions > PhoneMessage::maxDeletions)
            outOfRange("del", "count of deletions (0 to 256)");
    }
    std::optional<TextKey> key;
    if (const auto* k = optional(json, "k")) {
        key = textKeyFromRaw(string(*k, "k"));
        if (!key)
            outOfRange("k", "key after text");
    }
    return PhoneMessage::text(deletions, std::move(typed), key);
}

} // namespace

std::string_view PhoneMessage::tag() const { return tags[value.index()]; }

PhoneMessage PhoneMessage::decode(const nlohmann::json& json)
{
    object(json, "message");
    const std::string t = requireString(json, "t");

    // Tags are compared in the documented order, exactly.
    if (t == "m")
        return move(requireNumber(json, "x"), requireNumber(json, "y"));
    if (t == "b") {
        const auto index = requireInteger(json, "b");
        const auto down = requireBool(json, "d");
        return button(index, down, requireInteger(json, "c"));
    }
    if (t == "s") {
        // "p" is lenient: absent or not a phase value means no phase, but a
        // present non-integer is still an error.
        std::optional<std::int64_t> rawPhase;
        if (const auto* p = optional(json, "p"))
            rawPhase = integer(*p, "p");
        const auto x = requireNumber(json, "x");
        const auto y = requireNumber(json, "y");
        const auto phase = rawPhase ? phaseFromRaw(*rawPhase) : std::nullopt;
        const auto momentum = momentumPhaseFromRaw(requireInteger(json, "mp"));
        if (!momentum)
            outOfRange("mp", "momentum phase");
        return scroll(x, y, phase, *momentum);
    }
    if (t == "z") {
        const auto v = requireNumber(json, "v");
        return pinch(v, requirePhase(json));
    }
    if (t == "r") {
        const auto v = requireNumber(json, "v");
        return rotate(v, requirePhase(json));
    }
    if (t == "sz")
        return smartZoom();
    if (t == "d") {
        const auto kind = dockKindFromRaw(requireString(json, "k"));
        if (!kind)
            outOfRange("k", "dock kind");
        const auto v = requireNumber(json, "v");
        const auto phase = requirePhase(json);
        double velocity = 0;
        if (const auto* vel = optional(json, "vel"))
            velocity = number(*vel, "vel");
        return dock(*kind, v, phase, velocity);
    }
    if (t == "sys") {
        const auto gesture = systemGestureFromRaw(requireString(json, "n"));
        if (!gesture)
            outOfRange("n", "system gesture");
        return system(*gesture);
    }
    if (t == "a") {
        auto id = requireString(json, "id");
        return action(std::move(id), requireBool(json, "d"));
    }
    if (t == "hi") {
        auto device = requireString(json, "dev");
        return hi(std::move(device), requireBool(json, "sa"));
    }
    if (t == "p")
        return ping(requireNumber(json, "ts"));
    if (t == "forget")
        return forget();
    if (t == "w")
        return decodeText(json);
    throw MessageCodecError::unknownType(t);
}

nlohmann::ordered_json PhoneMessage::encode() const
{
    OrderedJson json = OrderedJson::object();
    json["t"] = tag();
    std::visit([&json](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Move>) {
            json["x"] = finite(m.dx, "x");
            json["y"] = finite(m.dy, "y");
        } else if constexpr (std::is_same_v<T, Button>) {
            json["b"] = m.index;
            json["d"] = m.down;
            json["c"] = m.clicks;
        } else if constexpr (std::is_same_v<T, Scroll>) {
            json["x"] = finite(m.dx, "x");
            json["y"] = finite(m.dy, "y");
            if (m.phase)
                json["p"] = static_cast<std::int64_t>(*m.phase);
            json["mp"] = static_cast<std::int64_t>(m.momentum);
        } else if constexpr (std::is_same_v<T, Pinch>) {
            json["v"] = finite(m.delta, "v");
            json["p"] = static_cast<std::int64_t>(m.phase);
        } else if constexpr (std::is_same_v<T, Rotate>) {
            json["v"] = finite(m.degrees, "v");
            json["p"] = static_cast<std::int64_t>(m.phase);
        } else if constexpr (std::is_same_v<T, Dock>) {
            json["k"] = rawValue(m.kind);
            json["v"] = finite(m.progress, "v");
            json["p"] = static_cast<std::int64_t>(m.phase);
            json["vel"] = finite(m.velocity, "vel");
        } else if constexpr (std::is_same_v<T, System>) {
            json["n"] = rawValue(m.gesture);
        } else if constexpr (std::is_same_v<T, Action>) {
            json["id"] = m.id;
            json["d"] = m.down;
        } else if constexpr (std::is_same_v<T, Hi>) {
            json["dev"] = m.device;
            json["sa"] = m.standalone;
        } else if constexpr (std::is_same_v<T, Ping>) {
            json["ts"] = finite(m.ts, "ts");
        } else if constexpr (std::is_same_v<T, Text>) {
            json["s"] = m.text;
            json["del"] = m.deletions;
            if (m.key)
                json["k"] = rawValue(*m.key);
        }
    }, value);
    return json;
}

std::string PhoneMessage::description() const
{
    char buffer[160];
    std::visit([&buffer](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Move>)
            std::snprintf(buffer, sizeof buffer, "move(%.2f, %.2f)", m.dx, m.dy);
        else if constexpr (std::is_same_v<T, Button>)
            std::snprintf(buffer, sizeof buffer, "button(%lld, %s, %lld)", static_cast<long long>(m.index),
                m.down ? "down" : "up", static_cast<long long>(m.clicks));
        else if constexpr (std::is_same_v<T, Scroll>)
            std::snprintf(buffer, sizeof buffer, "scroll(%.2f, %.2f, %lld, %lld)", m.dx, m.dy,
                static_cast<long long>(m.phase ? static_cast<std::int64_t>(*m.phase) : 0),
                static_cast<long long>(m.momentum));
        else if constexpr (std::is_same_v<T, Pinch>)
            std::snprintf(buffer, sizeof buffer, "pinch(%.3f, %lld)", m.delta, static_cast<long long>(m.phase));
        else if constexpr (std::is_same_v<T, Rotate>)
            std::snprintf(buffer, sizeof buffer, "rotate(%.2f, %lld)", m.degrees, static_cast<long long>(m.phase));
        else if constexpr (std::is_same_v<T, Dock>)
            std::snprintf(buffer, sizeof buffer, "dock(%s, %.3f, %lld, %.3f)", rawValue(m.kind).data(), m.progress,
                static_cast<long long>(m.phase), m.velocity);
        else if constexpr (std::is_same_v<T, System>)
            std::snprintf(buffer, sizeof buffer, "system(%s)", rawValue(m.gesture).data());
        else if constexpr (std::is_same_v<T, Action>)
            std::snprintf(buffer, sizeof buffer, "action(%.40s, %s)", m.id.c_str(), m.down ? "down" : "up");
        else if constexpr (std::is_same_v<T, Hi>)
            std::snprintf(buffer, sizeof buffer, "hi");
        else if constexpr (std::is_same_v<T, Ping>)
            std::snprintf(buffer, sizeof buffer, "ping(%.2f)", m.ts);
        else if constexpr (std::is_same_v<T, SmartZoom>)
            std::snprintf(buffer, sizeof buffer, "smartZoom");
        else if constexpr (std::is_same_v<T, Text>) // how much, never what: it may be a password
            std::snprintf(buffer, sizeof buffer, "text(%zu, %lld, %s)", UTF8::codePoints(m.text).size(),
                static_cast<long long>(m.deletions), m.key ? rawValue(*m.key).data() : "-");
        else
            std::snprintf(buffer, sizeof buffer, "forget");
    }, value);
    return buffer;
}

} // namespace ferlow
