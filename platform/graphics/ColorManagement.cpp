#include "platform/graphics/ColorManagement.h"

#include <QColorSpace>

namespace platform {

void convertToSrgb(QImage& image)
{
    if (image.format() == QImage::Format_Alpha8)
        return;
    const QColorSpace space = image.colorSpace();
    if (!space.isValid())
        return;
    static const QColorSpace srgb(QColorSpace::SRgb);
    if (space == srgb)
        return;
    // A palette image converts its colour table, so this costs nothing per pixel there.
    image.convertToColorSpace(srgb);
}

} // namespace platform
