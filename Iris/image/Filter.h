#pragma once

#include "Iris/image/ImageProcessor.h"

#include "platform/graphics/Color.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QImage;

namespace platform {
class Bitmap;
class Image;
} // namespace platform

namespace iris {

// The working form of the colour filters: premultiplied RGBA in linear light, four floats per pixel,
// rows from the top.
struct FilterImage {
    int width = 0;
    int height = 0;
    std::vector<float> pixels;
    // Whether the picture came from 16-bit samples, so rendering keeps that depth.
    bool deepColor = false;

    FilterImage() = default;
    FilterImage(int width, int height, bool deepColor = false);

    float* pixel(int x, int y) { return pixels.data() + (std::size_t(y) * width + x) * 4; }
    const float* pixel(int x, int y) const { return pixels.data() + (std::size_t(y) * width + x) * 4; }
};

// The process-wide converter between bitmaps and filter images. Its conversion tables are built
// once, on first use, and only read afterwards, so it serves every thread at once.
class FilterContext {
public:
    using Transform = std::function<std::optional<FilterImage>(const FilterImage&)>;

    // The most pixels a tile of renderTiled holds: 4 MB of floats, whatever the image's size.
    static constexpr std::size_t tilePixels = std::size_t(1) << 18;

    static const FilterContext& shared();

    FilterImage imageFromBitmap(const platform::Bitmap& bitmap) const;
    // Premultiplied sRGB, 16 bits per sample for deep-colour images and 8 otherwise; components
    // outside 0...1 are clamped. Nothing for an empty image.
    std::optional<platform::Bitmap> render(const FilterImage& image) const;

    // render(transform(imageFromBitmap(bitmap))) for a transform that works on each pixel alone,
    // converting, transforming and rendering a tile of rows (of part of a row, for a row wider than
    // a tile) at a time, so the floats never take more than a few megabytes. The pixels are the
    // same to the bit. Nothing when the transform gives nothing for a tile or gives one back at
    // another size.
    std::optional<platform::Bitmap> renderTiled(
        const platform::Bitmap& bitmap, const Transform& transform) const;

    // sRGB-encoded to linear and back, extended to negative values by symmetry.
    static double linearFromEncoded(double value);
    double encodedFromLinear(double value) const;

private:
    FilterContext();

    // Between filter images and premultiplied RGBA at the working depth (8 bits or, for deep
    // colour, 16), for the rectangle at (x, y) the filter image's size. Both paths go through
    // these, so tiles give exactly the whole image's pixels.
    void readPixels(const QImage& source, int x, int y, FilterImage& into) const;
    void writePixels(const FilterImage& from, QImage& output, int x, int y) const;

    std::vector<float> m_decode8; // 256 entries
    std::vector<float> m_encode; // samples of the encoding curve over 0...1
};

// A transformation of a filter image; nothing when it cannot produce one.
struct Filter {
    using Transform = FilterContext::Transform;
    using TintFactory = std::function<Filter(const platform::Color&)>;
    using ColorControlsFactory
        = std::function<Filter(double brightness, double contrast, double saturation, double inputEV)>;

    // What an output pixel depends on. A filter whose every output pixel comes from the same input
    // pixel alone is applied a tile at a time, in bounded memory; any other sees the whole image.
    enum class Reach { wholeImage, eachPixel };

    Transform transform;
    Reach reach = Reach::wholeImage;

    // The factories behind tintedImage, colorControlledImage and the tint, colour-control and
    // black-and-white processors. Replacing one affects filters asked for afterwards; it is safe
    // while other threads filter. An empty function restores the default.
    static TintFactory tintFactory();
    static void setTintFactory(TintFactory factory);
    static ColorControlsFactory colorControlsFactory();
    static void setColorControlsFactory(ColorControlsFactory factory);
};

// `color` laid over the whole image with source-over compositing. Both filters work on each pixel
// alone, and the filters of the default factories say so.
std::optional<FilterImage> tintFilter(const FilterImage& input, const platform::Color& color);
// Brightness is added, contrast scales around mid-grey, saturation mixes with the luma (0 gives
// grey); then the exposure multiplies by 2^inputEV. All in linear light.
std::optional<FilterImage> colorControlsFilter(
    const FilterImage& input, double brightness, double contrast, double saturation, double inputEV);

// The image through `filter`, redrawn at its pixel size; the input image itself when it has no
// bitmap or the filter gives nothing.
std::shared_ptr<platform::Image> applyFilter(
    const std::shared_ptr<platform::Image>& image, const Filter& filter);
std::shared_ptr<platform::Image> tintedImage(
    const std::shared_ptr<platform::Image>& image, const platform::Color& color);
std::shared_ptr<platform::Image> colorControlledImage(const std::shared_ptr<platform::Image>& image,
    double brightness, double contrast, double saturation, double inputEV);

// A processor defined by a filter. Unless a processor supplies its own processing, an image goes
// through its filter and data is decoded by the shared default processor first.
class CIImageProcessor : public ImageProcessor {
public:
    virtual Filter coreImageFilter() const = 0;

    std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override
    {
        return processWithFilter(item, options);
    }

    // No image only for data that cannot be decoded.
    std::shared_ptr<platform::Image> processWithFilter(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const;
};

} // namespace iris
