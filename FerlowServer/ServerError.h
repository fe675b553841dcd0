#pragma once

#include <stdexcept>
#include <string>

namespace ferlow {

// Why the server could not start listening.
class ServerError : public std::runtime_error {
public:
    enum class Kind {
        failed,    // anything else; `description()` says what
        portInUse, // EADDRINUSE
    };

    static ServerError failed(const std::string& description) { return ServerError(Kind::failed, description); }
    static ServerError portInUse() { return ServerError(Kind::portInUse, "port in use"); }

    Kind kind() const noexcept { return m_kind; }
    std::string description() const { return what(); }

    bool operator==(const ServerError& other) const
    {
        return m_kind == other.m_kind && (m_kind == Kind::portInUse || description() == other.description());
    }

private:
    ServerError(Kind kind, const std::string& description) : std::runtime_error(description), m_kind(kind) { }

    Kind m_kind;
};

} // namespace ferlow
