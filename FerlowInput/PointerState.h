#pragma once

#include <cstdint>
#include <set>

#include "FerlowInput/Geometry.h"

namespace ferlow {

// Where Ferlow believes the pointer is, and which phone buttons (0 left,
// 1 right, 2 middle) are held. Shared by the translator and its creator;
// used only on the I/O thread.
class PointerState final {
public:
    explicit PointerState(Point initial = {}) : position(initial) { }

    // Takes the desktop's actual pointer position when it is more than 1.5
    // points away on either axis, so that sub-point rounding by the desktop
    // never pulls the pointer back while a real mouse move is picked up.
    void resync(Point actual);

    Point position;
    std::set<std::int64_t> buttonsDown;
};

} // namespace ferlow
