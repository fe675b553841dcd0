#pragma once

#include <vector>

#include "FerlowInput/Geometry.h"

namespace ferlow {

// The active displays' bounds in the global display space, in the order the
// desktop lists them. Empty when the desktop reports no display.
struct DisplayLayout {
    std::vector<Rect> rects;
    bool operator==(const DisplayLayout&) const = default;
};

// Keeps a proposed pointer position on the displays. A point on some display
// is returned as it is; otherwise it is pulled onto the display `previous`
// was on (or the nearest one, earlier displays winning ties), one point
// inside its right and bottom edges. So a pointer pushed off the displays
// slides along the edge it came from, and changes display only when the new
// point lies on the other display. An empty layout passes every point
// through. Allocates nothing.
Point clamp(Point point, Point previous, const DisplayLayout& layout);

} // namespace ferlow
