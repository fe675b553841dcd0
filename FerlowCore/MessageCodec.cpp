#include "FerlowCore/MessageCodec.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "FerlowCore/JSONCoding.h"

namespace ferlow {

using namespace JSONCoding;

namespace {
Bytes bytesOf(const OrderedJson& json)
{
    const std::string text = dump(json);
    return Bytes(text.begin(), text.end());
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The JSON number (RFC 8259 section 6) at the start of `text`, as the
// general parser reads it: a number without fraction or exponent is first an
// integer, converted to double (so "-0" is 0), anything else is rounded
// correctly. Sets `length`; nothing when the text starts with no number or
// one that does not fit a double.
std::optional<double> leadingNumber(std::string_view text, std::size_t& length)
{
    std::size_t i = 0;
    const auto skipDigits = [&] {
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        return i - start;
    };
    const bool negative = !text.empty() && text[0] == '-';
    i = negative ? 1 : 0;
    const std::size_t integerStart = i;
    const std::size_t integerDigits = skipDigits();
    if (integerDigits == 0 || (integerDigits > 1 && text[integerStart] == '0'))
        return std::nullopt;
    bool integral = true;
    if (i < text.size() && text[i] == '.') {
        ++i;
        integral = false;
        if (skipDigits() == 0)
            return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        integral = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (skipDigits() == 0)
            return std::nullopt;
    }
    length = i;
    const char* first = text.data();
    const char* last = first + i;
    if (integral) {
        // Out of the 64-bit range, the general parser reads it as a double too.
        if (negative) {
            std::int64_t value = 0;
            if (std::from_chars(first, last, value).ec == std::errc {})
                return static_cast<double>(value);
        } else {
            std::uint64_t value = 0;
            if (std::from_chars(first, last, value).ec == std::errc {})
                return static_cast<double>(value);
        }
    }
    double value = 0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec != std::errc {} || result.ptr != last)
        return std::nullopt;
    return value;
}
} // namespace

Bytes MessageCodec::encode(const MacMessage& message) { return bytesOf(message.encode()); }

MacMessage MessageCodec::decodeMac(ByteView data) { return MacMessage::decode(parse(data)); }

Bytes MessageCodec::encodePhone(const PhoneMessage& message) { return bytesOf(message.encode()); }

PhoneMessage MessageCodec::decodePhone(ByteView data) { return PhoneMessage::decode(parse(data)); }

std::optional<MessageCodec::Stamped> MessageCodec::decodeCompactMove(ByteView data)
{
    std::string_view text = asText(data);
    if (text.size() < 2 || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    text = text.substr(1, text.size() - 2);
    bool isMove = false;
    std::optional<double> x, y, ts;
    for (;;) {
        // A key without escapes, then its value; each key once.
        const auto close = text.find('"', 1);
        if (text.empty() || text.front() != '"' || close == std::string_view::npos)
            return std::nullopt;
        const std::string_view key = text.substr(1, close - 1);
        text.remove_prefix(close + 1);
        if (text.empty() || text.front() != ':')
            return std::nullopt;
        text.remove_prefix(1);
        if (key == "t") {
            if (isMove || !text.starts_with(R"("m")"))
                return std::nullopt;
            isMove = true;
            text.remove_prefix(3);
        } else {
            auto* field = key == "x" ? &x : key == "y" ? &y : key == "ts" ? &ts : nullptr;
            std::size_t length = 0;
            if (!field || *field || !(*field = leadingNumber(text, length)))
                return std::nullopt;
            text.remove_prefix(length);
        }
        if (text.empty())
            break;
        if (text.front() != ',')
            return std::nullopt;
        text.remove_prefix(1);
    }
    if (!isMove || !x || !y)
        return std::nullopt;
    return Stamped {PhoneMessage::move(*x, *y), ts};
}

MessageCodec::Stamped MessageCodec::decodePhoneStamped(ByteView data)
{
    if (auto move = decodeCompactMove(data))
        return std::move(*move);
    // One parse serves both readings: the message, then its "ts" stamp.
    const Json json = parse(data);
    Stamped result {PhoneMessage::decode(json), std::nullopt};
    if (result.message.is<PhoneMessage::Ping>())
        return result;
    if (const auto* ts = optional(json, "ts"))
        result.ts = number(*ts, "ts");
    return result;
}

} // namespace ferlow
