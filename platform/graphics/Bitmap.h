#pragma once

#include "platform/graphics/Geometry.h"

#include <QImage>

#include <optional>

namespace platform {

enum class AlphaInfo {
    none, // no alpha channel
    premultiplied, // colour components are multiplied by alpha
    straight, // colour components are not multiplied by alpha
    alphaOnly, // a mask: alpha and nothing else
};

// Decoded pixels: an immutable QImage with its sample layout. A Bitmap is a small value; copies share
// the pixels (QImage is implicitly shared, and nothing here hands out writable pixels), so one may
// be read from any number of threads at once.
class Bitmap {
public:
    // Nothing for a null QImage.
    static std::optional<Bitmap> fromImage(QImage image);

    const QImage& image() const { return m_image; }
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    Size pixelSize() const { return { double(width()), double(height()) }; }

    int bitsPerComponent() const { return m_bitsPerComponent; }
    int bitsPerPixel() const { return m_image.depth(); }
    AlphaInfo alphaInfo() const { return m_alphaInfo; }
    bool hasAlpha() const { return m_alphaInfo != AlphaInfo::none; }
    qsizetype byteCount() const { return m_image.sizeInBytes(); }

    // The pixels of `pixelRect`, in pixel coordinates with the origin at the top-left pixel as
    // stored, clipped to the bitmap; nothing when no pixel remains.
    std::optional<Bitmap> cropped(const QRect& pixelRect) const;

    // Pixel-for-pixel equality of the stored data.
    bool operator==(const Bitmap& other) const { return m_image == other.m_image; }

private:
    explicit Bitmap(QImage image);

    QImage m_image;
    int m_bitsPerComponent = 8;
    AlphaInfo m_alphaInfo = AlphaInfo::none;
};

// `image` in a format Qt scales right. Its smooth scaling blends straight colours, so that
// transparent pixels bleed their hidden colour; keeps 1-bit and palette formats and loses their
// colours; and samples grey pixels without averaging them. Its conversion of straight 16-bit samples
// (which its painter goes through too) multiplies the alpha in twice: those are premultiplied sample
// by sample. Other straight, palette and grey pixels are converted to premultiplied RGB; any other
// image comes back as it is.
QImage safelyScalable(const QImage& image);
// Whether Qt scales pixels of `format` right, so that safelyScalable leaves them as they are.
bool isSafelyScalable(QImage::Format format);

} // namespace platform
