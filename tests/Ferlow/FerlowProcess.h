#pragma once

// The built `ferlow` program as a child process, with its own home and XDG
// folders, its output read through pipes and every wait bounded.

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/Support/TestSupport.h"

namespace ferlow::test {

// The environment of one pretend user: a home folder with XDG folders in
// it, the pad, and development hooks pointing into it.
struct FerlowHome {
    FerlowHome()
    {
        writeFile(folder.path() / "pad" / "index.html", "<p>pad</p>");
        environment = {
            {"HOME", folder.path().string()},
            {"XDG_DATA_HOME", (folder.path() / "data").string()},
            {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
            {"FERLOW_PAD_DIR", (folder.path() / "pad").string()},
            {"FERLOW_DEV_PAIRING_FILE", pairingFile().string()},
            {"FERLOW_DEV_TRACE", trace().string()},
            {"FERLOW_UPDATE_URL", "http://127.0.0.1:1/version.json"}, // nobody answers there
            {"PATH", "/usr/bin:/bin"},
        };
    }
    std::filesystem::path pairingFile() const { return folder.path() / "pairing-url"; }
    std::filesystem::path trace() const { return folder.path() / "trace"; }
    std::filesystem::path support() const { return folder.path() / "data" / "Ferlow"; }
    std::filesystem::path settings() const { return folder.path() / "config" / "Ferlow" / "settings.json"; }

    TemporaryDirectory folder;
    std::map<std::string, std::string> environment;
};

class FerlowProcess {
public:
    FerlowProcess(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment)
    {
        int outPipe[2], errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        std::vector<std::string> args {FERLOW_PROGRAM};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<std::string> variables;
        for (const auto& [name, value] : environment)
            variables.push_back(name + "=" + value);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        const int spawned = ::posix_spawn(&m_pid, args[0].c_str(), &actions, nullptr, pointers(args).data(),
            pointers(variables).data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        m_out = outPipe[0];
        m_err = errPipe[0];
        if (spawned != 0)
            throw std::runtime_error(std::string("cannot start ferlow: ") + std::strerror(spawned));
    }

    ~FerlowProcess()
    {
        if (!m_status) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
        if (m_err >= 0)
            ::close(m_err);
    }

    FerlowProcess(const FerlowProcess&) = delete;
    FerlowProcess& operator=(const FerlowProcess&) = delete;

    // The first stdout line from now on that starts with `prefix`; empty
    // when none came within the limit.
    std::string waitForLine(const std::string& prefix, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (auto end = m_pending.find('\n'); end != std::string::npos; end = m_pending.find('\n')) {
                std::string line = m_pending.substr(0, end);
                m_pending.erase(0, end + 1);
                out += line + "\n";
                if (line.starts_with(prefix))
                    return line;
            }
            if (!pump(deadline))
                return {};
        }
    }

    void signal(int number) { ::kill(m_pid, number); }

    // The exit status (128 + signal when a signal ended it); waits at most
    // `limit`, then kills the process and fails.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!m_status) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                throw std::runtime_error("ferlow did not exit in time");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (pump(std::chrono::steady_clock::now() + std::chrono::milliseconds(200))) { }
        out += m_pending;
        m_pending.clear();
        return *m_status;
    }

    std::string out; // stdout read so far
    std::string err; // stderr read so far

private:
    static std::vector<char*> pointers(std::vector<std::string>& strings)
    {
        std::vector<char*> result;
        for (auto& s : strings)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    }

    // Reads what either pipe has; false at the deadline or once both ended.
    bool pump(std::chrono::steady_clock::time_point deadline)
    {
        if (m_out < 0 && m_err < 0)
            return false;
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        for (auto& fd : fds) {
            if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP)))
                continue;
            const auto n = ::read(fd.fd, chunk, sizeof chunk);
            int& owner = fd.fd == m_out ? m_out : m_err;
            if (n > 0) {
                (&owner == &m_out ? m_pending : err).append(chunk, static_cast<std::size_t>(n));
            } else {
                ::close(owner);
                owner = -1;
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_out = -1, m_err = -1;
    std::string m_pending; // stdout not yet returned as a line
    std::optional<int> m_status;
};

} // namespace ferlow::test
