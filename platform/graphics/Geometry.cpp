#include "platform/graphics/Geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace platform {

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

double length(double x, double y)
{
    return std::hypot(x, y);
}

} // namespace

Rect Rect::null()
{
    return Rect(infinity, infinity, 0, 0);
}

bool Rect::isNull() const
{
    return std::isinf(origin.x) || std::isinf(origin.y);
}

bool Rect::isEmpty() const
{
    return isNull() || size.width == 0 || size.height == 0;
}

Rect Rect::standardized() const
{
    if (isNull())
        return *this;
    Rect result = *this;
    if (result.size.width < 0) {
        result.origin.x += result.size.width;
        result.size.width = -result.size.width;
    }
    if (result.size.height < 0) {
        result.origin.y += result.size.height;
        result.size.height = -result.size.height;
    }
    return result;
}

double Rect::minX() const
{
    return standardized().origin.x;
}

double Rect::midX() const
{
    const Rect r = standardized();
    return r.origin.x + r.size.width / 2;
}

double Rect::maxX() const
{
    const Rect r = standardized();
    return r.origin.x + r.size.width;
}

double Rect::minY() const
{
    return standardized().origin.y;
}

double Rect::midY() const
{
    const Rect r = standardized();
    return r.origin.y + r.size.height / 2;
}

double Rect::maxY() const
{
    const Rect r = standardized();
    return r.origin.y + r.size.height;
}

double Rect::width() const
{
    return std::abs(size.width);
}

double Rect::height() const
{
    return std::abs(size.height);
}

Rect Rect::intersection(const Rect& other) const
{
    if (isNull() || other.isNull())
        return null();
    const Rect a = standardized();
    const Rect b = other.standardized();
    const double left = std::max(a.minX(), b.minX());
    const double right = std::min(a.maxX(), b.maxX());
    const double bottom = std::max(a.minY(), b.minY());
    const double top = std::min(a.maxY(), b.maxY());
    if (left > right || bottom > top)
        return null();
    return Rect(left, bottom, right - left, top - bottom);
}

Rect Rect::insetBy(double dx, double dy) const
{
    if (isNull())
        return null();
    Rect r = standardized();
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0)
        return null();
    return r;
}

bool Rect::contains(Point point) const
{
    if (isEmpty())
        return false;
    return point.x >= minX() && point.x < maxX() && point.y >= minY() && point.y < maxY();
}

Path Path::rectangle(const Rect& rect)
{
    Path path;
    path.addRect(rect);
    return path;
}

void Path::moveTo(Point point)
{
    m_path.moveTo(point.x, point.y);
    m_hasCurrentPoint = true;
}

void Path::lineTo(Point point)
{
    if (!m_hasCurrentPoint) {
        moveTo(point);
        return;
    }
    m_path.lineTo(point.x, point.y);
}

void Path::arcThroughCorner(Point corner, Point end, double radius)
{
    if (!m_hasCurrentPoint) {
        moveTo(corner);
        return;
    }
    const QPointF current = m_path.currentPosition();
    // Unit vectors from the corner towards the two other points.
    double ux = current.x() - corner.x, uy = current.y() - corner.y;
    double vx = end.x - corner.x, vy = end.y - corner.y;
    const double lu = length(ux, uy), lv = length(vx, vy);
    if (radius <= 0 || lu == 0 || lv == 0) {
        lineTo(corner);
        return;
    }
    ux /= lu, uy /= lu, vx /= lv, vy /= lv;
    const double cosine = std::clamp(ux * vx + uy * vy, -1.0, 1.0);
    const double angle = std::acos(cosine); // the angle at the corner
    if (angle < 1e-9 || std::abs(angle - M_PI) < 1e-9) {
        lineTo(corner);
        return;
    }
    const double tangentDistance = radius / std::tan(angle / 2);
    const QPointF start(corner.x + ux * tangentDistance, corner.y + uy * tangentDistance);
    const QPointF finish(corner.x + vx * tangentDistance, corner.y + vy * tangentDistance);
    m_path.lineTo(start);
    // One cubic Bézier per arc: the arc spans less than half a turn, where the approximation is off
    // by less than 0.03% of the radius.
    const double sweep = M_PI - angle;
    const double handle = 4.0 / 3.0 * std::tan(sweep / 4) * radius;
    m_path.cubicTo(QPointF(start.x() - ux * handle, start.y() - uy * handle),
        QPointF(finish.x() - vx * handle, finish.y() - vy * handle), finish);
}

void Path::addRect(const Rect& rect)
{
    if (rect.isNull())
        return;
    const Rect r = rect.standardized();
    m_path.addRect(r.origin.x, r.origin.y, r.size.width, r.size.height);
    m_hasCurrentPoint = true;
}

void Path::closeSubpath()
{
    m_path.closeSubpath();
}

Point Path::currentPoint() const
{
    const QPointF p = m_path.currentPosition();
    return { p.x(), p.y() };
}

Rect Path::boundingRect() const
{
    if (m_path.isEmpty())
        return Rect::null();
    const QRectF r = m_path.boundingRect();
    return Rect(r.x(), r.y(), r.width(), r.height());
}

FillRule Path::fillRule() const
{
    return m_path.fillRule() == Qt::OddEvenFill ? FillRule::evenOdd : FillRule::nonZero;
}

void Path::setFillRule(FillRule rule)
{
    m_path.setFillRule(rule == FillRule::evenOdd ? Qt::OddEvenFill : Qt::WindingFill);
}

} // namespace platform
