#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace ferlow {

// One running Ferlow per user. The running app (tray or daemon) holds an
// exclusive flock(2) on the lock file for its whole life, dropped by the
// kernel however the process ends, and writes its process id into it.
//
// Commands that only look at the files or talk to the running app never
// hold that lock beyond a glance, so they neither look like a running
// Ferlow to an app that starts nor to each other. Each glance, and each
// app's taking of the lock, happens behind a gate: a second lock, held by
// an app only while it takes the instance lock, and by a command for as
// long as it works on the files without a running app, so that no app
// starts under it and then overwrites what it changed.
class InstanceLock final {
public:
    enum class Role { app, command };
    // app: acquired, this process is the running one; held, another is.
    // command: acquired, no app runs, and none starts until this object
    // goes; held, an app runs: ask it.
    enum class Outcome { acquired, held, failed };

    // The longest anyone waits at the gate: a command's work on the files
    // takes milliseconds.
    static constexpr std::chrono::seconds gateLimit {5};

    InstanceLock(const std::filesystem::path& file, const std::filesystem::path& gate, Role role);
    ~InstanceLock() noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Outcome outcome() const { return m_outcome; }
    // held: the holder's process id, when it wrote one.
    std::optional<pid_t> holder() const { return m_holder; }
    // failed: why, in words.
    const std::string& problem() const { return m_problem; }

private:
    int m_fd = -1;   // the instance lock, held by an app
    int m_gate = -1; // the gate, held by a command while no app runs
    Outcome m_outcome = Outcome::failed;
    std::optional<pid_t> m_holder;
    std::string m_problem;
};

} // namespace ferlow
