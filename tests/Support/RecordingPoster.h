#pragma once

// The platform seam in tests: a poster that remembers every post, and
// readable events and messages in assertion failures.

#include <ostream>
#include <vector>

#include "FerlowCore/PhoneMessage.h"
#include "FerlowInput/EventPoster.h"

namespace ferlow {

inline void PrintTo(const EventSpec& spec, std::ostream* out) { *out << spec.description(); }
inline void PrintTo(const PhoneMessage& message, std::ostream* out) { *out << message.description(); }

class RecordingPoster final : public EventPoster {
public:
    void post(const std::vector<EventSpec>& specs) override { posts.push_back(specs); }

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
};

} // namespace ferlow
