#pragma once

#include <stdexcept>
#include <string>

namespace ferlow {

// Failure to decode a JSON value into one of Ferlow's value types. `kind`
// tells which rule broke; what() names the key and the expectation.
class DecodingError : public std::runtime_error {
public:
    enum class Kind { dataCorrupted, keyNotFound, typeMismatch, valueNotFound };

    DecodingError(Kind kind, const std::string& description)
        : std::runtime_error(description), m_kind(kind) { }

    Kind kind() const noexcept { return m_kind; }

private:
    Kind m_kind;
};

// Failure to encode a value, which only happens for non-finite numbers and
// strings that are not valid UTF-8.
class EncodingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace ferlow
