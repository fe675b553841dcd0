#include "FerlowInput/PointerState.h"

#include <cmath>

namespace ferlow {

void PointerState::resync(Point actual)
{
    if (std::abs(actual.x - position.x) > 1.5 || std::abs(actual.y - position.y) > 1.5)
        position = actual;
}

} // namespace ferlow
