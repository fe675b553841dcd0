#pragma once

#include <stdexcept>

namespace ferlow {

// Why a request head was refused. Either kind is answered with 400.
class HTTPError : public std::runtime_error {
public:
    enum class Kind {
        headerTooLarge, // more than 16384 bytes before the blank line
        malformed,      // a request line or header line that breaks the grammar
    };

    explicit HTTPError(Kind kind)
        : std::runtime_error(kind == Kind::headerTooLarge ? "headerTooLarge" : "malformed"), m_kind(kind) { }

    Kind kind() const noexcept { return m_kind; }

private:
    Kind m_kind;
};

} // namespace ferlow
