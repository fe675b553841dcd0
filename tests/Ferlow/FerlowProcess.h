#pragma once

// The built `ferlow` program as a child process, with its own home and XDG
// folders, its output read through pipes (or a pseudo-terminal) and every
// wait bounded.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "tests/Support/TestSupport.h"
#include "tests/Support/Xvfb.h"

namespace ferlow::test {

// The X server the test programs post to, one for the whole suite.
inline const Xvfb& sharedXvfb()
{
    static const Xvfb server;
    return server;
}

// One pretend user: a home folder with the XDG folders, a pad, the
// development hooks pointing into it, and the suite's X server when there
// is one (input goes through XTest there).
struct FerlowHome {
    FerlowHome()
    {
        writeFile(folder.path() / "pad" / "index.html", "<p>pad</p>");
        std::filesystem::create_directory(folder.path() / "run");
        std::filesystem::permissions(folder.path() / "run", std::filesystem::perms::owner_all);
        if (sharedXvfb().available())
            environment["DISPLAY"] = sharedXvfb().display();
    }
    std::filesystem::path pairingFile() const { return folder.path() / "pairing-url"; }
    std::filesystem::path trace() const { return folder.path() / "trace"; }
    std::filesystem::path support() const { return folder.path() / "data" / "Ferlow"; }
    std::filesystem::path settings() const { return folder.path() / "config" / "Ferlow" / "settings.json"; }
    std::filesystem::path runtime() const { return folder.path() / "run" / "ferlow"; }

    TemporaryDirectory folder;
    std::map<std::string, std::string> environment {
        {"HOME", folder.path().string()},
        {"XDG_DATA_HOME", (folder.path() / "data").string()},
        {"XDG_CONFIG_HOME", (folder.path() / "config").string()},
        {"XDG_RUNTIME_DIR", (folder.path() / "run").string()},
        {"FERLOW_PAD_DIR", (folder.path() / "pad").string()},
        {"FERLOW_DEV_PAIRING_FILE", pairingFile().string()},
        {"FERLOW_DEV_TRACE", trace().string()},
        {"FERLOW_UPDATE_URL", "http://127.0.0.1:1/version.json"}, // nobody answers there
    };
};

class FerlowProcess {
public:
    // A terminal of this size: the three standard streams on a
    // pseudo-terminal, everything written there in `out`.
    struct Terminal {
        unsigned short columns, rows;
    };

    FerlowProcess(std::vector<std::string> arguments, const std::map<std::string, std::string>& environment,
        std::optional<Terminal> terminal = std::nullopt, const std::string& program = FERLOW_PROGRAM)
    {
        arguments.insert(arguments.begin(), program);
        std::vector<std::string> variables;
        for (const auto& [name, value] : environment)
            variables.push_back(name + "=" + value);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
        if (terminal) {
            m_fds[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            const winsize size {terminal->rows, terminal->columns, 0, 0};
            if (m_fds[0] < 0 || ::grantpt(m_fds[0]) != 0 || ::unlockpt(m_fds[0]) != 0
                || ::ioctl(m_fds[0], TIOCSWINSZ, &size) != 0)
                throw std::runtime_error("no pseudo-terminal");
            posix_spawn_file_actions_addopen(&actions, 0, ::ptsname(m_fds[0]), O_RDWR | O_NOCTTY, 0);
            posix_spawn_file_actions_adddup2(&actions, 0, 1);
            posix_spawn_file_actions_adddup2(&actions, 0, 2);
        } else {
            if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0)
                throw std::runtime_error("pipe failed");
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
            posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        }
        const int spawned = ::posix_spawn(
            &m_pid, program.c_str(), &actions, nullptr, pointers(arguments).data(), pointers(variables).data());
        posix_spawn_file_actions_destroy(&actions);
        if (!terminal) {
            ::close(outPipe[1]);
            ::close(errPipe[1]);
            m_fds[0] = outPipe[0];
            m_fds[1] = errPipe[0];
        }
        if (spawned != 0)
            throw std::runtime_error("cannot start ferlow");
    }

    ~FerlowProcess()
    {
        if (!m_status) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (const int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
    }

    // The first new stdout line starting with `prefix`; empty if none came in time.
    std::string waitForLine(const std::string& prefix)
    {
        std::string line;
        waitUntil([&] {
            for (auto end = out.find('\n', m_read); end != std::string::npos; end = out.find('\n', m_read)) {
                line = out.substr(m_read, end - m_read);
                m_read = end + 1;
                if (line.starts_with(prefix))
                    return true;
            }
            return line.clear(), false;
        });
        return line;
    }

    // Whether `stream` (`out` or `err`) came to hold `text` in time.
    bool waitFor(const std::string& stream, const std::string& text)
    {
        return waitUntil([&] { return stream.find(text) != std::string::npos; });
    }

    // Types on the terminal.
    void type(std::string_view text) { [[maybe_unused]] const auto written = ::write(m_fds[0], text.data(), text.size()); }

    // The exit status once both streams have ended; throws after `limit` (the destructor kills it).
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(20))
    {
        waitUntil([] { return false; }, limit);
        int status = 0;
        if (m_fds[0] >= 0 || m_fds[1] >= 0 || ::waitpid(m_pid, &status, 0) != m_pid)
            throw std::runtime_error("ferlow did not exit in time");
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return *m_status;
    }

    int stop(int signalNumber, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        return ::kill(m_pid, signalNumber), wait(limit);
    }

    // Exit status, stdout and stderr of a command run to its end.
    using Outcome = std::tuple<int, std::string, std::string>;
    Outcome finish() { return {wait(), out, err}; }

    std::string out, err; // everything read so far

private:
    static std::vector<char*> pointers(std::vector<std::string>& strings)
    {
        std::vector<char*> result;
        for (auto& s : strings)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    }

    // Reads the streams until `done` holds; false at the deadline or once both have ended.
    template <typename Predicate> bool waitUntil(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            pollfd fds[2] = {{m_fds[0], POLLIN, 0}, {m_fds[1], POLLIN, 0}};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if ((m_fds[0] < 0 && m_fds[1] < 0) || left.count() <= 0 || ::poll(fds, 2, int(left.count())) <= 0)
                return false;
            for (int i = 0; i < 2; ++i) {
                char chunk[4096];
                const auto n = fds[i].revents ? ::read(m_fds[i], chunk, sizeof chunk) : 0;
                if (n > 0)
                    (i == 0 ? out : err).append(chunk, std::size_t(n));
                else if (fds[i].revents)
                    ::close(std::exchange(m_fds[i], -1));
            }
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_fds[2] = {-1, -1}; // stdout, stderr
    std::size_t m_read = 0;  // how much of `out` waitForLine has seen
    std::optional<int> m_status;
};

inline FerlowProcess::Outcome run(const std::map<std::string, std::string>& environment, std::vector<std::string> arguments)
{
    return FerlowProcess(std::move(arguments), environment).finish();
}

} // namespace ferlow::test
