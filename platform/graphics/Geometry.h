#pragma once

#include <QPainterPath>

namespace platform {

// Geometry in points, y pointing up: the bottom edge of a rectangle is minY and its top edge maxY.
// Only GraphicsContext turns it into Qt's y-down device space.

struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(Point origin, Size size)
        : origin(origin)
        , size(size)
    {
    }
    Rect(double x, double y, double width, double height)
        : origin { x, y }
        , size { width, height }
    {
    }

    // The rectangle that stands for "no rectangle": what intersecting two disjoint rectangles gives.
    // Its origin is at infinity and its size zero.
    static Rect null();
    bool isNull() const;
    // True for the null rectangle and for any rectangle of zero width or height.
    bool isEmpty() const;

    // The same rectangle with a non-negative width and height.
    Rect standardized() const;

    double minX() const;
    double midX() const;
    double maxX() const;
    double minY() const;
    double midY() const;
    double maxY() const;
    double width() const;
    double height() const;

    // Both rectangles are standardized first; no overlap, or a null operand, gives the null
    // rectangle. Rectangles that only touch give a rectangle of zero width or height.
    Rect intersection(const Rect& other) const;
    // Moves every side inwards (outwards for negative amounts); a side that would cross its
    // opposite gives the null rectangle.
    Rect insetBy(double dx, double dy) const;
    bool contains(Point point) const;

    bool operator==(const Rect&) const = default;
};

enum class FillRule {
    nonZero,
    evenOdd,
};

// A path in y-up points over QPainterPath.
class Path {
public:
    // Paths fill by the non-zero winding rule unless told otherwise.
    Path() { m_path.setFillRule(Qt::WindingFill); }

    static Path rectangle(const Rect& rect);

    void moveTo(Point point);
    void lineTo(Point point);
    // From the current point, a line towards `corner` and a circular arc of `radius` that is tangent
    // to both the line (current point, corner) and the line (corner, end); the path ends at the
    // second tangent point. A radius of zero, or points on one line, give a straight line to
    // `corner`. Without a current point the path starts at `corner`.
    void arcThroughCorner(Point corner, Point end, double radius);
    void addRect(const Rect& rect);
    void closeSubpath();

    bool isEmpty() const { return m_path.isEmpty(); }
    Point currentPoint() const;
    Rect boundingRect() const;

    FillRule fillRule() const;
    void setFillRule(FillRule rule);

    const QPainterPath& painterPath() const { return m_path; }

private:
    QPainterPath m_path;
    // QPainterPath reports an implicit point at the origin even before the first move.
    bool m_hasCurrentPoint = false;
};

} // namespace platform
