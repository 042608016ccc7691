#include "Iris/utility/SizeHelpers.h"

#include <algorithm>
#include <cmath>

namespace iris {

namespace {

double aspectRatio(QSizeF size)
{
    return size.height() == 0 ? 1.0 : size.width() / size.height();
}

// The width a size with the given ratio has at the target's height.
double adjustedWidth(QSizeF size, QSizeF target)
{
    if (size.height() == 0)
        return target.height();
    return std::round(aspectRatio(size) * target.height());
}

double clampedAnchor(double value)
{
    if (!(value > 0))
        return 0;
    return std::min(value, 1.0);
}

// A quarter-circle tangent to the lines current point -> corner and corner -> toward, as drawn at a
// right-angled corner: a line to the first tangent point, then the arc. Radius 0 is a sharp corner.
void appendArc(QPainterPath& path, QPointF corner, QPointF toward, double radius)
{
    QPointF from = path.currentPosition();
    if (radius <= 0) {
        path.lineTo(corner);
        return;
    }
    auto unit = [](QPointF vector) {
        double length = std::hypot(vector.x(), vector.y());
        return length == 0 ? QPointF() : vector / length;
    };
    QPointF start = corner + unit(from - corner) * radius;
    QPointF end = corner + unit(toward - corner) * radius;
    // The control points of a cubic that best matches a quarter circle.
    constexpr double kappa = 0.5522847498307936;
    path.lineTo(start);
    path.cubicTo(start + (corner - start) * kappa, end + (corner - end) * kappa, end);
}

} // namespace

QSizeF constrainedSize(QSizeF size, QSizeF target)
{
    double width = adjustedWidth(size, target);
    if (width > target.width())
        return QSizeF(target.width(), std::round(target.width() / aspectRatio(size)));
    return QSizeF(width, target.height());
}

QSizeF fillingSize(QSizeF size, QSizeF target)
{
    double width = adjustedWidth(size, target);
    if (width < target.width())
        return QSizeF(target.width(), std::round(target.width() / aspectRatio(size)));
    return QSizeF(width, target.height());
}

QSizeF resizedSize(QSizeF size, QSizeF target, ContentMode mode)
{
    switch (mode) {
    case ContentMode::none:
        return target;
    case ContentMode::aspectFit:
        return constrainedSize(size, target);
    case ContentMode::aspectFill:
        return fillingSize(size, target);
    }
    return target;
}

QRectF constrainedRect(QSizeF size, QSizeF cropSize, QPointF anchor)
{
    double x = clampedAnchor(anchor.x());
    double y = clampedAnchor(anchor.y());
    QRectF crop(x * size.width() - x * cropSize.width(), y * size.height() - y * cropSize.height(),
        cropSize.width(), cropSize.height());
    return crop.intersected(QRectF(QPointF(0, 0), size));
}

QPainterPath roundedRectPath(const QRectF& rect, RectCorner corners, double radius)
{
    QPainterPath path;
    if (rect.width() == 0 || rect.height() == 0)
        return path;
    double limit = std::min(std::abs(rect.width()), std::abs(rect.height())) / 2;
    auto radiusFor = [&](RectCorner corner) {
        double value = contains(corners, corner) ? radius : 0;
        return std::min(std::max(value, 0.0), limit);
    };
    // y grows upwards here: the top edge is at the rectangle's maximum y.
    double minX = rect.left(), maxX = rect.right(), minY = rect.top(), maxY = rect.bottom();
    path.moveTo((minX + maxX) / 2, maxY);
    appendArc(path, QPointF(minX, maxY), QPointF(minX, minY), radiusFor(RectCorner::topLeft));
    appendArc(path, QPointF(minX, minY), QPointF(maxX, minY), radiusFor(RectCorner::bottomLeft));
    appendArc(path, QPointF(maxX, minY), QPointF(maxX, maxY), radiusFor(RectCorner::bottomRight));
    appendArc(path, QPointF(maxX, maxY), QPointF(minX, maxY), radiusFor(RectCorner::topRight));
    path.closeSubpath();
    return path;
}

} // namespace iris
