#include "platform/graphics/ColorManagement.h"

#include <QColorSpace>
#include <QRgba64>

namespace platform {

namespace {

// Qt converts grey pixels through a coarser table than colour ones, which crushes the shadows of a
// file with a strong gamma to black. Grey goes the colour way, at the precision of its samples, and
// comes back: a neutral colour stays neutral, so any one channel is the grey.
void convertGreyToSrgb(QImage& image, const QColorSpace& srgb)
{
    const bool deep = image.format() == QImage::Format_Grayscale16;
    QImage colour = image.convertToFormat(deep ? QImage::Format_RGBX64 : QImage::Format_RGB32);
    colour.convertToColorSpace(srgb);
    for (int y = 0; y < image.height(); ++y) {
        if (deep) {
            const auto* from = reinterpret_cast<const QRgba64*>(colour.constScanLine(y));
            auto* to = reinterpret_cast<quint16*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                to[x] = from[x].green();
        } else {
            const auto* from = reinterpret_cast<const QRgb*>(colour.constScanLine(y));
            uchar* to = image.scanLine(y);
            for (int x = 0; x < image.width(); ++x)
                to[x] = uchar(qGreen(from[x]));
        }
    }
    image.setColorSpace(srgb);
}

} // namespace

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
    if (image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16) {
        convertGreyToSrgb(image, srgb);
        return;
    }
    // A palette image converts its colour table, so this costs nothing per pixel there.
    image.convertToColorSpace(srgb);
}

} // namespace platform
