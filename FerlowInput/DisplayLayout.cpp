#include "FerlowInput/DisplayLayout.h"

#include <algorithm>

namespace ferlow {

namespace {

double squaredDistance(const Rect& rect, Point p)
{
    const double dx = std::max({rect.minX() - p.x, 0.0, p.x - rect.maxX()});
    const double dy = std::max({rect.minY() - p.y, 0.0, p.y - rect.maxY()});
    return dx * dx + dy * dy;
}

} // namespace

Point clamp(Point point, Point previous, const DisplayLayout& layout)
{
    const auto& rects = layout.rects;
    if (rects.empty())
        return point;
    if (std::any_of(rects.begin(), rects.end(), [&](const Rect& r) { return r.contains(point); }))
        return point;

    auto target = std::find_if(rects.begin(), rects.end(), [&](const Rect& r) { return r.contains(previous); });
    if (target == rects.end()) {
        target = rects.begin();
        double best = squaredDistance(*target, previous);
        for (auto it = std::next(rects.begin()); it != rects.end(); ++it) {
            const double distance = squaredDistance(*it, previous);
            if (distance < best) {
                best = distance;
                target = it;
            }
        }
    }
    return {std::min(std::max(point.x, target->minX()), target->maxX() - 1),
        std::min(std::max(point.y, target->minY()), target->maxY() - 1)};
}

} // namespace ferlow
