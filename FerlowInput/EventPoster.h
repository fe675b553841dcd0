#pragma once

#include <vector>

#include "FerlowInput/EventSpec.h"

namespace ferlow {

// The seam to the desktop: turns EventSpec values into real input events. Those of
// one call are posted in list order; posting has no result and reports no
// error (an event the desktop refuses is simply lost).
class EventPoster {
public:
    virtual ~EventPoster() noexcept = default;
    virtual void post(const std::vector<EventSpec>& specs) = 0;
};

} // namespace ferlow
