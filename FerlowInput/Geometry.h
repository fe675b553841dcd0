#pragma once

namespace ferlow {

// Points in the global display space: origin at the top-left corner of the
// main display, y growing downward, units of points.
struct Point {
    double x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Vector {
    double dx = 0, dy = 0;
    bool operator==(const Vector&) const = default;
};

struct Size {
    double width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    double minX() const { return origin.x; }
    double maxX() const { return origin.x + size.width; }
    double minY() const { return origin.y; }
    double maxY() const { return origin.y + size.height; }

    // The right and bottom edges belong to the neighbour, not to this rect.
    bool contains(Point p) const { return minX() <= p.x && p.x < maxX() && minY() <= p.y && p.y < maxY(); }

    bool operator==(const Rect&) const = default;
};

} // namespace ferlow
