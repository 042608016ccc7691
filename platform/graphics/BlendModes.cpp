#include "platform/graphics/BlendModes.h"

#include "platform/graphics/CompositingOperation.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace platform {

namespace {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

// A premultiplied pixel with components in 0...1.
struct Pixel {
    Rgb color;
    double alpha = 0;
};

Rgb operator+(Rgb a, double d)
{
    return { a.r + d, a.g + d, a.b + d };
}

double luminosity(Rgb c)
{
    return 0.3 * c.r + 0.59 * c.g + 0.11 * c.b;
}

double saturationOf(Rgb c)
{
    return std::max({ c.r, c.g, c.b }) - std::min({ c.r, c.g, c.b });
}

// Brings a colour whose luminosity is right back into the gamut, keeping its luminosity and hue.
Rgb clipColor(Rgb c)
{
    const double l = luminosity(c);
    const double n = std::min({ c.r, c.g, c.b });
    const double x = std::max({ c.r, c.g, c.b });
    auto scaled = [&](double k) { return Rgb { l + (c.r - l) * k, l + (c.g - l) * k, l + (c.b - l) * k }; };
    if (n < 0 && l - n > 0)
        c = scaled(l / (l - n));
    if (x > 1 && x - l > 0)
        c = scaled((1 - l) / (x - l));
    return c;
}

Rgb withLuminosity(Rgb c, double l)
{
    return clipColor(c + (l - luminosity(c)));
}

Rgb withSaturation(Rgb c, double s)
{
    double* channels[3] = { &c.r, &c.g, &c.b };
    std::sort(channels, channels + 3, [](const double* a, const double* b) { return *a < *b; });
    double& low = *channels[0];
    double& mid = *channels[1];
    double& high = *channels[2];
    if (high > low) {
        mid = (mid - low) * s / (high - low);
        high = s;
    } else {
        mid = high = 0;
    }
    low = 0;
    return c;
}

Rgb unpremultiplied(const Pixel& p)
{
    if (p.alpha <= 0)
        return {};
    return { p.color.r / p.alpha, p.color.g / p.alpha, p.color.b / p.alpha };
}

using BlendFunction = Rgb (*)(Rgb backdrop, Rgb source);

// Source-over compositing of the blended colour: where either side is transparent the other shows
// unchanged.
Pixel compositeBlended(const Pixel& destination, const Pixel& source, BlendFunction blend)
{
    const double sa = source.alpha, da = destination.alpha;
    const Rgb mixed = blend(unpremultiplied(destination), unpremultiplied(source));
    auto channel = [&](double s, double d, double b) { return s * (1 - da) + d * (1 - sa) + sa * da * b; };
    return { { channel(source.color.r, destination.color.r, mixed.r),
                 channel(source.color.g, destination.color.g, mixed.g),
                 channel(source.color.b, destination.color.b, mixed.b) },
        sa + da - sa * da };
}

// Plus-darker adds the inverted premultiplied colours: two opaque pixels give max(0, S + D − 1).
Pixel plusDarker(const Pixel& destination, const Pixel& source)
{
    const double alpha = std::min(1.0, source.alpha + destination.alpha);
    auto channel = [&](double s, double d) {
        return std::max(0.0, alpha - ((source.alpha - s) + (destination.alpha - d)));
    };
    return { { channel(source.color.r, destination.color.r), channel(source.color.g, destination.color.g),
                 channel(source.color.b, destination.color.b) },
        alpha };
}

Pixel readPixel(const QImage& image, int x, int y)
{
    if (image.format() == QImage::Format_RGBA64_Premultiplied) {
        const QRgba64 p = reinterpret_cast<const QRgba64*>(image.constScanLine(y))[x];
        return { { p.red() / 65535.0, p.green() / 65535.0, p.blue() / 65535.0 }, p.alpha() / 65535.0 };
    }
    const QRgb p = reinterpret_cast<const QRgb*>(image.constScanLine(y))[x];
    return { { qRed(p) / 255.0, qGreen(p) / 255.0, qBlue(p) / 255.0 }, qAlpha(p) / 255.0 };
}

void writePixel(QImage& image, int x, int y, const Pixel& pixel)
{
    const double alpha = std::clamp(pixel.alpha, 0.0, 1.0);
    // Premultiplied colour never exceeds its alpha.
    auto component = [&](double v) { return std::clamp(v, 0.0, alpha); };
    if (image.format() == QImage::Format_RGBA64_Premultiplied) {
        auto q = [&](double v) { return quint16(std::lround(v * 65535)); };
        reinterpret_cast<QRgba64*>(image.scanLine(y))[x] = QRgba64::fromRgba64(
            q(component(pixel.color.r)), q(component(pixel.color.g)), q(component(pixel.color.b)), q(alpha));
        return;
    }
    auto q = [&](double v) { return int(std::lround(v * 255)); };
    reinterpret_cast<QRgb*>(image.scanLine(y))[x] = qRgba(
        q(component(pixel.color.r)), q(component(pixel.color.g)), q(component(pixel.color.b)), q(alpha));
}

template<typename Combine> void blendInto(QImage& target, const QImage& drawn, Combine combine)
{
    const QImage source = drawn.format() == target.format() ? drawn : drawn.convertToFormat(target.format());
    // Without memory for the converted copy nothing is drawn, rather than reading a null image.
    if (source.isNull())
        return;
    for (int y = 0; y < target.height(); ++y) {
        for (int x = 0; x < target.width(); ++x) {
            const Pixel s = readPixel(source, x, y);
            if (s.alpha <= 0)
                continue;
            writePixel(target, x, y, combine(readPixel(target, x, y), s));
        }
    }
}

template<typename Combine> void blendImages(QImage& destination, const QImage& drawn, Combine combine)
{
    if (destination.size() != drawn.size())
        return;
    // Drawing contexts hold one of these two formats; their pixels are blended in place.
    if (destination.format() == QImage::Format_ARGB32_Premultiplied
        || destination.format() == QImage::Format_RGBA64_Premultiplied) {
        blendInto(destination, drawn, combine);
        return;
    }
    QImage work = destination.convertToFormat(QImage::Format_RGBA64_Premultiplied);
    if (work.isNull())
        return;
    blendInto(work, drawn, combine);
    // The destination keeps what it held when the result cannot be converted back.
    if (QImage blended = work.convertToFormat(destination.format()); !blended.isNull())
        destination = std::move(blended);
}

CompositingFallback nonSeparable(BlendFunction blend)
{
    return [blend](QImage& destination, const QImage& source) {
        blendImages(destination, source,
            [blend](const Pixel& d, const Pixel& s) { return compositeBlended(d, s, blend); });
    };
}

} // namespace

void installBlendModes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        setCompositingFallback(CompositingOperation::plusDarker,
            [](QImage& destination, const QImage& source) { blendImages(destination, source, plusDarker); });
        setCompositingFallback(CompositingOperation::hue, nonSeparable([](Rgb backdrop, Rgb source) {
            return withLuminosity(withSaturation(source, saturationOf(backdrop)), luminosity(backdrop));
        }));
        setCompositingFallback(CompositingOperation::saturation, nonSeparable([](Rgb backdrop, Rgb source) {
            return withLuminosity(withSaturation(backdrop, saturationOf(source)), luminosity(backdrop));
        }));
        setCompositingFallback(CompositingOperation::color, nonSeparable([](Rgb backdrop, Rgb source) {
            return withLuminosity(source, luminosity(backdrop));
        }));
        setCompositingFallback(CompositingOperation::luminosity, nonSeparable([](Rgb backdrop, Rgb source) {
            return withLuminosity(backdrop, luminosity(source));
        }));
    });
}

} // namespace platform
