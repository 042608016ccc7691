#pragma once

#include "Iris/utility/IrisWrapper.h"

#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace iris {

// How a size is resized into a target.
enum class ContentMode {
    none, // the target unchanged
    aspectFit, // as large as fits inside the target, keeping the aspect ratio
    aspectFill, // as small as covers the target, keeping the aspect ratio
};

// Corners of a rectangle, combined as flags. The top is the side of maximum y.
enum class RectCorner : unsigned {
    topLeft = 1,
    topRight = 2,
    bottomLeft = 4,
    bottomRight = 8,
    all = 15,
};

constexpr RectCorner operator|(RectCorner a, RectCorner b)
{
    return RectCorner(unsigned(a) | unsigned(b));
}
constexpr bool contains(RectCorner set, RectCorner corner)
{
    return (unsigned(set) & unsigned(corner)) == unsigned(corner);
}

// Sizes are rounded to whole numbers, halves away from zero. A zero height counts as ratio 1.
QSizeF constrainedSize(QSizeF size, QSizeF target);
QSizeF fillingSize(QSizeF size, QSizeF target);
QSizeF resizedSize(QSizeF size, QSizeF target, ContentMode mode);

// The crop rectangle of `cropSize` inside `size` at `anchor` (each coordinate clamped to 0...1),
// cut to the size; a null rectangle when they do not overlap.
QRectF constrainedRect(QSizeF size, QSizeF cropSize, QPointF anchor);

// A rectangle with the given corners rounded by `radius` (at most half its shorter side), in y-up
// coordinates. An empty rectangle gives an empty path.
QPainterPath roundedRectPath(const QRectF& rect, RectCorner corners, double radius);

template<> struct IrisCompatibleValue<QSizeF> : std::true_type {
};

template<> struct IrisWrapper<QSizeF> {
    QSizeF base;

    QSizeF constrainedSize(QSizeF target) const { return iris::constrainedSize(base, target); }
    QSizeF fillingSize(QSizeF target) const { return iris::fillingSize(base, target); }
    QSizeF resizedSize(QSizeF target, ContentMode mode) const
    {
        return iris::resizedSize(base, target, mode);
    }
    QRectF constrainedRect(QSizeF cropSize, QPointF anchor) const
    {
        return iris::constrainedRect(base, cropSize, anchor);
    }
};

} // namespace iris
