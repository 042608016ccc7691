#pragma once

#include "Iris/utility/SizeHelpers.h"

#include "platform/graphics/Color.h"
#include "platform/graphics/CompositingOperation.h"
#include "platform/graphics/Geometry.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Bitmap;
class GraphicsContext;
class Image;
} // namespace platform

namespace iris {

using ImagePtr = std::shared_ptr<platform::Image>;

// A corner radius: a fraction of a rectangle's width or height, or an absolute length.
struct Radius {
    enum class Kind {
        widthFraction,
        heightFraction,
        point,
    };

    Kind kind = Kind::point;
    double value = 0;

    static Radius widthFraction(double fraction) { return { Kind::widthFraction, fraction }; }
    static Radius heightFraction(double fraction) { return { Kind::heightFraction, fraction }; }
    static Radius point(double length) { return { Kind::point, length }; }

    double resolved(platform::Size size) const;

    bool operator==(const Radius&) const = default;
};

// The rest of the set operations on corners (union is declared beside the type).
constexpr RectCorner operator&(RectCorner a, RectCorner b)
{
    return RectCorner(unsigned(a) & unsigned(b));
}
constexpr RectCorner operator^(RectCorner a, RectCorner b)
{
    return RectCorner(unsigned(a) ^ unsigned(b));
}
// The corners of `a` that are not in `b`.
constexpr RectCorner operator-(RectCorner a, RectCorner b)
{
    return RectCorner(unsigned(a) & ~unsigned(b));
}
constexpr RectCorner& operator|=(RectCorner& a, RectCorner b)
{
    return a = a | b;
}
constexpr RectCorner& operator-=(RectCorner& a, RectCorner b)
{
    return a = a - b;
}
// The empty set for an empty list.
constexpr RectCorner rectCorners(std::initializer_list<RectCorner> members)
{
    unsigned raw = 0;
    for (RectCorner member : members)
        raw |= unsigned(member);
    return RectCorner(raw);
}

// A line drawn along the edge of an image.
struct Border {
    platform::Color color = platform::Color::black();
    double lineWidth = 4;
    Radius radius = Radius::point(12);
    RectCorner roundingCorners = RectCorner::all;

    // Names the record and its four fields with their values, independently of the locale.
    QString description() const;

    bool operator==(const Border&) const = default;
};

using DrawingCallback = std::function<void(platform::GraphicsContext&)>;

// Box blur parameters: the odd kernel side and the number of passes for a radius. Radii whose
// kernel would be wider than `maxBoxBlurKernel` take that kernel: it already reaches far past the
// edges of any image a context can hold, so a wider one would change the picture little, and a
// kernel row's sum of 8-bit samples still fits 32 bits.
constexpr int maxBoxBlurKernel = (1 << 24) - 1;
// The most the blur keeps of row sums between rows; beyond, it makes them again as it needs them.
constexpr std::size_t maxBoxBlurRingBytes = std::size_t(64) << 20;
int boxBlurKernelSize(double radius);
int boxBlurPassCount(double radius);

// Redraw operations. Each returns a new image whose point size is its pixel size or, whenever it
// cannot do its work (no bitmap, a size no bitmap can have, a failed step), the input image itself.
// Sizes are in pixels and geometry is y-up. They run on the calling thread and leave its graphics
// state as they found it.

// Draws into a fresh bitmap of `size` made current for `draw`, with the bits per component of the
// image's bitmap.
ImagePtr drawToSize(const ImagePtr& image, platform::Size size, const DrawingCallback& draw);

ImagePtr compositedImage(const ImagePtr& image, platform::CompositingOperation operation, double alpha,
    std::optional<platform::Color> backgroundColor = std::nullopt);
// The image stretched to `targetSize` and clipped to a rectangle rounded on `corners`.
ImagePtr roundedCornerImage(const ImagePtr& image, Radius radius, platform::Size targetSize,
    RectCorner corners = RectCorner::all, std::optional<platform::Color> backgroundColor = std::nullopt);
ImagePtr roundedCornerImage(const ImagePtr& image, double radius, platform::Size targetSize,
    RectCorner corners = RectCorner::all, std::optional<platform::Color> backgroundColor = std::nullopt);
ImagePtr borderedImage(const ImagePtr& image, const Border& border);
// Stretched: the aspect ratio is not kept.
ImagePtr resizedImage(const ImagePtr& image, platform::Size targetSize);
ImagePtr resizedImageForContentMode(const ImagePtr& image, platform::Size targetSize, ContentMode mode);
// Cuts without redrawing. `anchor` is clamped to 0...1 on each axis; (0, 0) is the top-left corner
// of the stored pixels.
ImagePtr croppedImage(const ImagePtr& image, platform::Size size, platform::Point anchor);
ImagePtr boxBlur(const ImagePtr& image, double radius);
// Lays `color` with alpha 1 − `fraction` over the image's opaque parts.
ImagePtr overlaidImage(const ImagePtr& image, const platform::Color& color, double fraction);
// The image's bitmap as an image whose point size is its pixel size; the image itself at scale 1.
ImagePtr scaledImage(const ImagePtr& image, double scale);
// Redrawn at pixel size ÷ `scale`, so its pixels are decoded and ready; animations unchanged.
ImagePtr decodedImage(const ImagePtr& image, double scale = 1.0);
// Draws the image into `context` at its pixel size (the context is not cleared) and returns what the
// context holds.
ImagePtr decodedImageInContext(const ImagePtr& image, platform::GraphicsContext& context);
// `bitmap` drawn into the rectangle from the origin to `drawingSize` of a bitmap of `bitmapSize`
// with the bits per component of `reference`.
ImagePtr redrawInBitmapContext(const ImagePtr& reference, const platform::Bitmap& bitmap,
    platform::Size bitmapSize, platform::Size drawingSize);
// `bitmap` copied into the rectangle from the origin to `size` of a bitmap of the reference's pixel
// size.
ImagePtr redrawAtPixelSize(const platform::Bitmap& bitmap, const ImagePtr& reference, platform::Size size);
// The same, taking the bitmap over as the result where the copy would give its pixels unchanged (the
// reference's pixel size and a drawing's own format), so the picture is not held twice.
ImagePtr redrawAtPixelSize(platform::Bitmap&& bitmap, const ImagePtr& reference, platform::Size size);

} // namespace iris
