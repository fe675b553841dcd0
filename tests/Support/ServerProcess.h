#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace ferlow::test {

// A server program started for one test, which writes one line to a
// descriptor it is given on its command line once it accepts clients (Xvfb's
// -displayfd, dbus-daemon's --print-address). Construction waits at most
// `patience` seconds for that line; the server is stopped and reaped when the
// object goes, or by stop().
class ServerProcess final {
public:
    // `arguments` hold "{fd}" wherever the descriptor's number goes; the
    // program is looked up in PATH.
    ServerProcess(std::vector<std::string> arguments, int patience);
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // The line without its line feed; empty when the server did not come
    // up, with the reason in reason().
    const std::string& line() const { return m_line; }
    const std::string& reason() const { return m_reason; }
    pid_t pid() const { return m_pid; }

    // SIGTERM, then SIGKILL after 2 s.
    void stop();

private:
    pid_t m_pid = -1;
    std::string m_line;
    std::string m_reason;
};

} // namespace ferlow::test
