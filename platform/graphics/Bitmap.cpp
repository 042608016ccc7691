#include "platform/graphics/Bitmap.h"

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

std::optional<Bitmap> Bitmap::cropped(const QRect& pixelRect) const
{
    const QRect clipped = pixelRect.intersected(m_image.rect());
    if (clipped.isEmpty())
        return std::nullopt;
    return fromImage(m_image.copy(clipped));
}

} // namespace platform
