#include "platform/graphics/Bitmap.h"

#include <QColorSpace>
#include <QRgba64>

namespace platform {

namespace {

int bitsPerComponentOf(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return 1;
    case QImage::Format_RGB16:
    case QImage::Format_RGB555:
    case QImage::Format_RGB444:
    case QImage::Format_ARGB4444_Premultiplied:
        return 5;
    case QImage::Format_RGB30:
    case QImage::Format_BGR30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_A2BGR30_Premultiplied:
        return 10;
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
        return 16;
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return 32;
    default:
        return 8;
    }
}

AlphaInfo alphaInfoOf(const QImage& image)
{
    if (image.format() == QImage::Format_Alpha8)
        return AlphaInfo::alphaOnly;
    if (!image.hasAlphaChannel())
        return AlphaInfo::none;
    return image.pixelFormat().premultiplied() == QPixelFormat::Premultiplied ? AlphaInfo::premultiplied
                                                                              : AlphaInfo::straight;
}

} // namespace

Bitmap::Bitmap(QImage image)
    : m_image(std::move(image))
    , m_bitsPerComponent(bitsPerComponentOf(m_image.format()))
    , m_alphaInfo(alphaInfoOf(m_image))
{
}

std::optional<Bitmap> Bitmap::fromImage(QImage image)
{
    if (image.isNull())
        return std::nullopt;
    return Bitmap(std::move(image));
}

bool isSafelyScalable(QImage::Format format)
{
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_ARGB32:
    case QImage::Format_RGBA8888:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_RGBA64:
        return false;
    default:
        return true;
    }
}

QImage safelyScalable(const QImage& image)
{
    if (isSafelyScalable(image.format()))
        return image;
    if (image.format() == QImage::Format_Grayscale16)
        return image.convertToFormat(QImage::Format_RGBA64_Premultiplied);
    if (image.format() != QImage::Format_RGBA64)
        return image.convertToFormat(
            image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    QImage result(image.size(), QImage::Format_RGBA64_Premultiplied);
    if (result.isNull())
        return image;
    result.setColorSpace(image.colorSpace());
    result.setDotsPerMeterX(image.dotsPerMeterX());
    result.setDotsPerMeterY(image.dotsPerMeterY());
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgba64*>(image.constScanLine(y));
        auto* out = reinterpret_cast<QRgba64*>(result.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            out[x] = in[x].premultiplied();
    }
    return result;
}

std::optional<Bitmap> Bitmap::cropped(const QRect& pixelRect) const
{
    const QRect clipped = pixelRect.intersected(m_image.rect());
    if (clipped.isEmpty())
        return std::nullopt;
    return fromImage(m_image.copy(clipped));
}

} // namespace platform
