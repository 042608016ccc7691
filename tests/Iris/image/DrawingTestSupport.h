#pragma once

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QColor>
#include <QImage>

#include <memory>

namespace drawingtest {

inline std::shared_ptr<platform::Image> imageFrom(const QImage& pixels)
{
    return platform::Image::create(*platform::Bitmap::fromImage(pixels));
}

inline std::shared_ptr<platform::Image> solidImage(int width, int height, QColor color)
{
    QImage pixels(width, height, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(color);
    return imageFrom(pixels);
}

// The stored pixel at (x, y), rows from the top, as straight 8-bit components.
inline QColor pixelAt(const std::shared_ptr<platform::Image>& image, int x, int y)
{
    return image->bitmap()->image().pixelColor(x, y).toRgb();
}

inline bool near(int a, int b, int tolerance)
{
    return std::abs(a - b) <= tolerance;
}

} // namespace drawingtest
