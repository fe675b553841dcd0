#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace ferlow {

// One running Ferlow per data folder: an exclusive flock(2) on a file in
// it, held for the life of the process and dropped by the kernel however
// the process ends. The holder writes its process id into the file, so
// others can say who holds it.
class InstanceLock final {
public:
    enum class Outcome { acquired, held, failed };

    // Tries once, without waiting.
    explicit InstanceLock(const std::filesystem::path& file);
    ~InstanceLock() noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    Outcome outcome() const { return m_outcome; }
    // held: the holder's process id, when it wrote one.
    std::optional<pid_t> holder() const { return m_holder; }
    // failed: why, in words.
    const std::string& problem() const { return m_problem; }

private:
    int m_fd = -1;
    Outcome m_outcome = Outcome::failed;
    std::optional<pid_t> m_holder;
    std::string m_problem;
};

} // namespace ferlow
