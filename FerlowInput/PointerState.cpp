#include "FerlowInput/PointerState.h"

#include <cmath>

namespace ferlow {

void PointerState::resync(Point actual)
{
    // Written so that a position that is not a number is always replaced.
    if (!(std::abs(actual.x - position.x) <= 1.5) || !(std::abs(actual.y - position.y) <= 1.5))
        position = actual;
}

} // namespace ferlow
