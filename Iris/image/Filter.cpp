#include "Iris/image/Filter.h"

#include "Iris/image/ImageDrawing.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>

namespace iris {

namespace {

constexpr int encodeSamples = 4096;

double encodeExact(double value)
{
    const double magnitude = std::abs(value);
    const double encoded
        = magnitude <= 0.0031308 ? magnitude * 12.92 : 1.055 * std::pow(magnitude, 1 / 2.4) - 0.055;
    return std::copysign(encoded, value);
}

// Clamped to 0...1, with NaN as 0.
double unitClamped(double value)
{
    return value > 0 ? std::min(value, 1.0) : 0.0;
}

// Both factories sit behind one lock; callers copy the function out and call it unlocked.
std::mutex factoryMutex;
std::shared_ptr<const Filter::TintFactory> installedTint;
std::shared_ptr<const Filter::ColorControlsFactory> installedColorControls;

Filter defaultTint(const platform::Color& color)
{
    auto transform = [color](const FilterImage& input) { return tintFilter(input, color); };
    return { transform, Filter::Reach::eachPixel };
}

Filter defaultColorControls(double brightness, double contrast, double saturation, double inputEV)
{
    auto transform = [=](const FilterImage& input) {
        return colorControlsFilter(input, brightness, contrast, saturation, inputEV);
    };
    return { transform, Filter::Reach::eachPixel };
}

// The bitmap's pixels as premultiplied RGBA at the filter's working depth; the pixels themselves,
// not a copy, when they already are. A null image when memory for a copy cannot be found.
QImage workingPixels(const QImage& image, bool deep)
{
    if (deep)
        return platform::safelyScalable(image).convertToFormat(QImage::Format_RGBA64_Premultiplied);
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage::Format workingFormat(bool deep)
{
    return deep ? QImage::Format_RGBA64_Premultiplied : QImage::Format_ARGB32_Premultiplied;
}

} // namespace

FilterImage::FilterImage(int width, int height, bool deepColor)
    : width(std::max(0, width))
    , height(std::max(0, height))
    , pixels(std::size_t(this->width) * this->height * 4, 0.0f)
    , deepColor(deepColor)
{
}

FilterContext::FilterContext()
    : m_decode8(256)
    , m_encode(encodeSamples + 1)
{
    for (int i = 0; i < 256; ++i)
        m_decode8[i] = float(linearFromEncoded(i / 255.0));
    for (int i = 0; i <= encodeSamples; ++i)
        m_encode[i] = float(encodeExact(double(i) / encodeSamples));
}

const FilterContext& FilterContext::shared()
{
    static const FilterContext context;
    return context;
}

double FilterContext::linearFromEncoded(double value)
{
    const double magnitude = std::abs(value);
    const double linear
        = magnitude <= 0.04045 ? magnitude / 12.92 : std::pow((magnitude + 0.055) / 1.055, 2.4);
    return std::copysign(linear, value);
}

double FilterContext::encodedFromLinear(double value) const
{
    if (!(value >= 0 && value <= 1))
        return encodeExact(value);
    // Linear interpolation between samples of the curve; within 2e-5 of the exact value.
    const double position = value * encodeSamples;
    const int index = std::min(int(position), encodeSamples - 1);
    const double t = position - index;
    return m_encode[index] + (m_encode[index + 1] - m_encode[index]) * t;
}

void FilterContext::readPixels(const QImage& source, int x0, int y0, FilterImage& into) const
{
    for (int y = 0; y < into.height; ++y) {
        float* out = into.pixel(0, y);
        if (into.deepColor) {
            const QRgba64* row = reinterpret_cast<const QRgba64*>(source.constScanLine(y0 + y)) + x0;
            for (int x = 0; x < into.width; ++x, out += 4) {
                const double alpha = row[x].alpha() / 65535.0;
                if (alpha <= 0) {
                    std::fill(out, out + 4, 0.0f);
                    continue;
                }
                const double components[3]
                    = { row[x].red() / 65535.0, row[x].green() / 65535.0, row[x].blue() / 65535.0 };
                for (int c = 0; c < 3; ++c)
                    out[c] = float(linearFromEncoded(components[c] / alpha) * alpha);
                out[3] = float(alpha);
            }
            continue;
        }
        const QRgb* row = reinterpret_cast<const QRgb*>(source.constScanLine(y0 + y)) + x0;
        for (int x = 0; x < into.width; ++x, out += 4) {
            const QRgb p = row[x];
            const int alpha = qAlpha(p);
            if (alpha == 0) {
                std::fill(out, out + 4, 0.0f);
                continue;
            }
            const int components[3] = { qRed(p), qGreen(p), qBlue(p) };
            if (alpha == 255) {
                for (int c = 0; c < 3; ++c)
                    out[c] = m_decode8[components[c]];
                out[3] = 1;
                continue;
            }
            const double a = alpha / 255.0;
            for (int c = 0; c < 3; ++c)
                out[c] = float(linearFromEncoded(components[c] / 255.0 / a) * a);
            out[3] = float(a);
        }
    }
}

void FilterContext::writePixels(const FilterImage& from, QImage& output, int x0, int y0) const
{
    const bool deep = output.format() == QImage::Format_RGBA64_Premultiplied;
    const double scale = deep ? 65535.0 : 255.0;
    for (int y = 0; y < from.height; ++y) {
        uchar* line = output.scanLine(y0 + y);
        for (int x = 0; x < from.width; ++x) {
            const float* in = from.pixel(x, y);
            const double alpha = unitClamped(in[3]);
            unsigned out[4] = { 0, 0, 0, unsigned(std::lround(alpha * scale)) };
            if (alpha > 0) {
                for (int c = 0; c < 3; ++c) {
                    const double encoded = unitClamped(encodedFromLinear(in[c] / in[3]));
                    out[c] = unsigned(std::lround(encoded * alpha * scale));
                }
            }
            if (deep)
                reinterpret_cast<QRgba64*>(line)[x0 + x]
                    = QRgba64::fromRgba64(out[0], out[1], out[2], out[3]);
            else
                reinterpret_cast<QRgb*>(line)[x0 + x]
                    = qRgba(int(out[0]), int(out[1]), int(out[2]), int(out[3]));
        }
    }
}

FilterImage FilterContext::imageFromBitmap(const platform::Bitmap& bitmap) const
{
    const bool deep = bitmap.bitsPerComponent() > 8;
    FilterImage result(bitmap.width(), bitmap.height(), deep);
    const QImage source = workingPixels(bitmap.image(), deep);
    // A copy memory could not be found for: no pixels, so no filtered image.
    if (source.isNull())
        return FilterImage(0, 0, deep);
    readPixels(source, 0, 0, result);
    return result;
}

std::optional<platform::Bitmap> FilterContext::render(const FilterImage& image) const
{
    if (image.width <= 0 || image.height <= 0
        || image.pixels.size() != std::size_t(image.width) * image.height * 4)
        return std::nullopt;
    QImage output(image.width, image.height, workingFormat(image.deepColor));
    if (output.isNull())
        return std::nullopt;
    writePixels(image, output, 0, 0);
    return platform::Bitmap::fromImage(std::move(output));
}

std::optional<platform::Bitmap> FilterContext::renderTiled(
    const platform::Bitmap& bitmap, const Transform& transform) const
{
    const int width = bitmap.width(), height = bitmap.height();
    if (width <= 0 || height <= 0 || !transform)
        return std::nullopt;
    const bool deep = bitmap.bitsPerComponent() > 8;
    const QImage& image = bitmap.image();
    // Pixels already at the working depth are read where they are; others are converted a tile at
    // a time, so no converted copy of the whole image is made either.
    const bool readInPlace = image.format() == workingFormat(deep);
    const int tileWidth = int(std::min<std::size_t>(std::size_t(width), tilePixels));
    const int tileHeight = int(std::max<std::size_t>(1, tilePixels / std::size_t(tileWidth)));
    QImage output;
    FilterImage tile;
    for (int y = 0; y < height; y += tileHeight) {
        for (int x = 0; x < width; x += tileWidth) {
            const int w = std::min(tileWidth, width - x), h = std::min(tileHeight, height - y);
            if (tile.width != w || tile.height != h)
                tile = FilterImage(w, h, deep);
            if (readInPlace) {
                readPixels(image, x, y, tile);
            } else {
                const QImage part = workingPixels(image.copy(x, y, w, h), deep);
                if (part.isNull())
                    return std::nullopt;
                readPixels(part, 0, 0, tile);
            }
            const std::optional<FilterImage> filtered = transform(tile);
            if (!filtered || filtered->width != w || filtered->height != h
                || filtered->pixels.size() != std::size_t(w) * h * 4)
                return std::nullopt;
            // The first tile's depth is the output's, as the whole image's would be.
            if (output.isNull()) {
                output = QImage(width, height, workingFormat(filtered->deepColor));
                if (output.isNull())
                    return std::nullopt;
            }
            writePixels(*filtered, output, x, y);
        }
    }
    return platform::Bitmap::fromImage(std::move(output));
}

Filter::TintFactory Filter::tintFactory()
{
    std::lock_guard lock(factoryMutex);
    return installedTint ? *installedTint : TintFactory(defaultTint);
}

void Filter::setTintFactory(TintFactory factory)
{
    auto installed = factory ? std::make_shared<const TintFactory>(std::move(factory)) : nullptr;
    std::lock_guard lock(factoryMutex);
    installedTint = std::move(installed);
}

Filter::ColorControlsFactory Filter::colorControlsFactory()
{
    std::lock_guard lock(factoryMutex);
    return installedColorControls ? *installedColorControls : ColorControlsFactory(defaultColorControls);
}

void Filter::setColorControlsFactory(ColorControlsFactory factory)
{
    auto installed = factory ? std::make_shared<const ColorControlsFactory>(std::move(factory)) : nullptr;
    std::lock_guard lock(factoryMutex);
    installedColorControls = std::move(installed);
}

std::optional<FilterImage> tintFilter(const FilterImage& input, const platform::Color& color)
{
    const double alpha = std::isfinite(color.alpha) ? std::clamp(color.alpha, 0.0, 1.0) : 1.0;
    const auto linear
        = [&](double v) { return std::isfinite(v) ? FilterContext::linearFromEncoded(v) : 0.0; };
    const float tint[4] = { float(linear(color.red) * alpha), float(linear(color.green) * alpha),
        float(linear(color.blue) * alpha), float(alpha) };
    const float keep = float(1 - alpha);
    FilterImage output = input;
    for (std::size_t i = 0; i < output.pixels.size(); i += 4)
        for (int c = 0; c < 4; ++c)
            output.pixels[i + c] = tint[c] + output.pixels[i + c] * keep;
    return output;
}

std::optional<FilterImage> colorControlsFilter(
    const FilterImage& input, double brightness, double contrast, double saturation, double inputEV)
{
    const float exposure = float(std::exp2(inputEV));
    const float b = float(brightness), k = float(contrast), s = float(saturation);
    FilterImage output = input;
    for (std::size_t i = 0; i < output.pixels.size(); i += 4) {
        float* p = output.pixels.data() + i;
        const float alpha = p[3];
        if (alpha <= 0)
            continue;
        float rgb[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = (p[c] / alpha + b - 0.5f) * k + 0.5f;
        const float luma = 0.2126f * rgb[0] + 0.7152f * rgb[1] + 0.0722f * rgb[2];
        for (int c = 0; c < 3; ++c)
            p[c] = (luma + (rgb[c] - luma) * s) * exposure * alpha;
    }
    return output;
}

std::shared_ptr<platform::Image> applyFilter(
    const std::shared_ptr<platform::Image>& image, const Filter& filter)
{
    if (!image || !image->bitmap() || !filter.transform)
        return image;
    const FilterContext& context = FilterContext::shared();
    std::optional<platform::Bitmap> rendered;
    if (filter.reach == Filter::Reach::eachPixel) {
        rendered = context.renderTiled(*image->bitmap(), filter.transform);
    } else {
        const std::optional<FilterImage> output = filter.transform(context.imageFromBitmap(*image->bitmap()));
        if (output)
            rendered = context.render(*output);
    }
    if (!rendered)
        return image;
    return redrawAtPixelSize(std::move(*rendered), image, image->pixelSize());
}

std::shared_ptr<platform::Image> tintedImage(
    const std::shared_ptr<platform::Image>& image, const platform::Color& color)
{
    return applyFilter(image, Filter::tintFactory()(color));
}

std::shared_ptr<platform::Image> colorControlledImage(const std::shared_ptr<platform::Image>& image,
    double brightness, double contrast, double saturation, double inputEV)
{
    return applyFilter(image, Filter::colorControlsFactory()(brightness, contrast, saturation, inputEV));
}

std::shared_ptr<platform::Image> CIImageProcessor::processWithFilter(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    if (item.isImage())
        return applyFilter(item.imageValue(), coreImageFilter());
    return processDataThroughDefault(*this, item, options);
}

} // namespace iris
