#pragma once

// The platform seam in tests: a poster that remembers every post (or throws,
// as a failing backend does, where `fails` says), and readable events and
// messages in assertion failures.

#include <algorithm>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "FerlowCore/PhoneMessage.h"
#include "FerlowInput/EventPoster.h"

namespace ferlow {

inline void PrintTo(const EventSpec& spec, std::ostream* out) { *out << spec.description(); }
inline void PrintTo(const PhoneMessage& message, std::ostream* out) { *out << message.description(); }

class RecordingPoster final : public EventPoster {
public:
    void post(const std::vector<EventSpec>& specs) override
    {
        if (fails && std::any_of(specs.begin(), specs.end(), fails))
            throw std::runtime_error("the backend could not post it");
        posts.push_back(specs);
    }

    // Every spec posted so far, in order, and forget them.
    std::vector<EventSpec> take()
    {
        std::vector<EventSpec> all;
        for (const auto& post : posts)
            all.insert(all.end(), post.begin(), post.end());
        posts.clear();
        return all;
    }

    std::vector<std::vector<EventSpec>> posts;
    std::function<bool(const EventSpec&)> fails;
};

} // namespace ferlow
