#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "FerlowCore/Bytes.h"

// Field readers and writers shared by the JSON forms of the value types.
// Readers enforce the decoding rules every type follows: a required key must
// be present and not null, an integer field takes only an integral number
// within range, a boolean only true or false, a string only a string.
namespace ferlow::JSONCoding {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Parses bytes as one JSON value. Malformed text, invalid UTF-8, numbers
// outside the double range and an empty buffer raise DecodingError
// (dataCorrupted).
Json parse(ByteView bytes);

// The object a value must be; anything else is a typeMismatch.
const Json& object(const Json& value, std::string_view what);

const Json& require(const Json& object, std::string_view key);
const Json* optional(const Json& object, std::string_view key); // absent or null: nullptr

double number(const Json& value, std::string_view key);
std::int64_t integer(const Json& value, std::string_view key);
std::uint64_t unsignedInteger(const Json& value, std::string_view key);
bool boolean(const Json& value, std::string_view key);
std::string string(const Json& value, std::string_view key);

double requireNumber(const Json& object, std::string_view key);
std::int64_t requireInteger(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
std::string requireString(const Json& object, std::string_view key);

// A double for the writer: non-finite numbers have no JSON form.
double finite(double value, std::string_view key);

// Compact serialization; invalid UTF-8 in a string raises EncodingError.
std::string dump(const OrderedJson& value);

} // namespace ferlow::JSONCoding
