#include "FerlowCore/JSONCoding.h"

#include <cmath>
#include <limits>

#include "FerlowCore/CodingError.h"

namespace ferlow::JSONCoding {

namespace {

[[noreturn]] void mismatch(std::string_view key, std::string_view expected)
{
    throw DecodingError(DecodingError::Kind::typeMismatch,
        "typeMismatch: expected " + std::string(expected) + " at \"" + std::string(key) + "\"");
}

} // namespace

Json parse(ByteView bytes)
{
    try {
        return Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& error) {
        throw DecodingError(DecodingError::Kind::dataCorrupted,
            std::string("dataCorrupted: the data is not valid JSON (") + error.what() + ")");
    }
}

const Json& object(const Json& value, std::string_view what)
{
    if (!value.is_object())
        mismatch(what, "an object");
    return value;
}

const Json& require(const Json& object, std::string_view key)
{
    const auto found = object.find(key);
    if (found == object.end())
        throw DecodingError(DecodingError::Kind::keyNotFound,
            "keyNotFound: no value for key \"" + std::string(key) + "\"");
    if (found->is_null())
        throw DecodingError(DecodingError::Kind::valueNotFound,
            "valueNotFound: null for key \"" + std::string(key) + "\"");
    return *found;
}

const Json* optional(const Json& object, std::string_view key)
{
    const auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return nullptr;
    return &*found;
}

double number(const Json& value, std::string_view key)
{
    if (!value.is_number())
        mismatch(key, "a number");
    return value.get<double>();
}

std::int64_t integer(const Json& value, std::string_view key)
{
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()
            && value.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max()))
            mismatch(key, "an integer in the 64-bit range");
        return value.get<std::int64_t>();
    }
    if (value.is_number_float()) {
        // An integral number written with a fraction or exponent (2.0, 1e3)
        // is still an integer; 2.5 is not.
        const double d = value.get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
    }
    mismatch(key, "an integer");
}

std::uint64_t unsignedInteger(const Json& value, std::string_view key)
{
    if (value.is_number_unsigned())
        return value.get<std::uint64_t>();
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isfinite(d) && std::trunc(d) == d && d >= 0 && d < 18446744073709551616.0)
            return static_cast<std::uint64_t>(d);
    }
    mismatch(key, "a non-negative integer");
}

bool boolean(const Json& value, std::string_view key)
{
    if (!value.is_boolean())
        mismatch(key, "a boolean");
    return value.get<bool>();
}

std::string string(const Json& value, std::string_view key)
{
    if (!value.is_string())
        mismatch(key, "a string");
    return value.get<std::string>();
}

double requireNumber(const Json& object, std::string_view key) { return number(require(object, key), key); }
std::int64_t requireInteger(const Json& object, std::string_view key) { return integer(require(object, key), key); }
bool requireBool(const Json& object, std::string_view key) { return boolean(require(object, key), key); }
std::string requireString(const Json& object, std::string_view key) { return string(require(object, key), key); }

double finite(double value, std::string_view key)
{
    if (!std::isfinite(value))
        throw EncodingError("invalidValue: \"" + std::string(key) + "\" is not a finite number");
    return value;
}

std::string dump(const OrderedJson& value)
{
    try {
        return value.dump(-1, ' ', false, OrderedJson::error_handler_t::strict);
    } catch (const OrderedJson::exception& error) {
        throw EncodingError(std::string("invalidValue: ") + error.what());
    }
}

} // namespace ferlow::JSONCoding
