// The processors against plain loops written here, on generated images with opaque, transparent and
// partly transparent pixels, straight and premultiplied, at scale factors 1, 2 and 3.
#include "DrawingTestSupport.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/ImageProcessors.h"

#include "platform/graphics/RandomSeeds.h"

#include <gtest/gtest.h>

#include <QRgba64>

#include <cmath>
#include <random>

using namespace drawingtest;
using namespace iris;
using platform::Color;
using platform::CompositingOperation;
using platform::Size;

namespace {

IrisParsedOptionsInfo withScale(double scaleFactor)
{
    IrisParsedOptionsInfo options;
    options.scaleFactor = scaleFactor;
    return options;
}

// Pixels of every kind: opaque, fully transparent, partly transparent and nearly so, in runs.
QImage randomPixels(std::mt19937& random, int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_ARGB32);
    QRgb color = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (random() % 3 == 0) {
                const unsigned kind = random() % 4;
                const int alpha = kind == 0 ? 255
                    : kind == 1             ? 0
                    : kind == 2             ? 1 + int(random() % 4)
                                            : int(random() % 256);
                color = qRgba(int(random() % 256), int(random() % 256), int(random() % 256), alpha);
            }
            image.setPixel(x, y, color);
        }
    return image.convertToFormat(format);
}

QImage::Format randomFormat(std::mt19937& random)
{
    constexpr QImage::Format formats[] = { QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32,
        QImage::Format_RGB32, QImage::Format_RGBA64, QImage::Format_RGBA64_Premultiplied };
    return formats[random() % std::size(formats)];
}

struct Premultiplied {
    double r = 0, g = 0, b = 0, a = 0;
};

Premultiplied premultipliedAt(const QImage& image, int x, int y)
{
    const QRgba64 p = image.pixelColor(x, y).rgba64().premultiplied();
    return { p.red() / 65535.0, p.green() / 65535.0, p.blue() / 65535.0, p.alpha() / 65535.0 };
}

// The largest difference, in 8-bit levels of premultiplied samples, and where.
std::pair<int, QPoint> mostDifferent(const QImage& ours, const std::vector<Premultiplied>& expected)
{
    std::pair<int, QPoint> most { 0, {} };
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x) {
            const Premultiplied p = premultipliedAt(ours, x, y);
            const Premultiplied& q = expected[std::size_t(y) * ours.width() + x];
            const double d = std::max(
                { std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b), std::abs(p.a - q.a) });
            const int levels = int(std::lround(d * 255));
            if (levels > most.first)
                most = { levels, { x, y } };
        }
    return most;
}

std::vector<Premultiplied> premultipliedPixels(const QImage& image)
{
    std::vector<Premultiplied> pixels;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            pixels.push_back(premultipliedAt(image, x, y));
    return pixels;
}

// One channel of the separable blend modes, on straight colours (backdrop b, source s).
double separableBlend(CompositingOperation operation, double b, double s)
{
    using Op = CompositingOperation;
    const auto hardLight
        = [](double b, double s) { return s <= 0.5 ? b * 2 * s : 1 - (1 - b) * (1 - (2 * s - 1)); };
    switch (operation) {
    case Op::multiply:
        return b * s;
    case Op::screen:
        return b + s - b * s;
    case Op::overlay:
        return hardLight(s, b);
    case Op::darken:
        return std::min(b, s);
    case Op::lighten:
        return std::max(b, s);
    case Op::colorDodge:
        return b == 0 ? 0 : s >= 1 ? 1 : std::min(1.0, b / (1 - s));
    case Op::colorBurn:
        return b >= 1 ? 1 : s <= 0 ? 0 : 1 - std::min(1.0, (1 - b) / s);
    case Op::hardLight:
        return hardLight(b, s);
    case Op::softLight: {
        if (s <= 0.5)
            return b - (1 - 2 * s) * b * (1 - b);
        const double d = b <= 0.25 ? ((16 * b - 12) * b + 4) * b : std::sqrt(b);
        return b + (2 * s - 1) * (d - b);
    }
    case Op::difference:
        return std::abs(b - s);
    case Op::exclusion:
        return b + s - 2 * b * s;
    default:
        return s;
    }
}

struct Rgb {
    double r, g, b;
};

double lum(Rgb c)
{
    return 0.3 * c.r + 0.59 * c.g + 0.11 * c.b;
}
Rgb clipColor(Rgb c)
{
    const double l = lum(c), n = std::min({ c.r, c.g, c.b }), x = std::max({ c.r, c.g, c.b });
    auto fix = [&](double v) {
        if (n < 0)
            v = l + (v - l) * l / (l - n);
        if (x > 1)
            v = l + (v - l) * (1 - l) / (x - l);
        return v;
    };
    return { fix(c.r), fix(c.g), fix(c.b) };
}
Rgb setLum(Rgb c, double l)
{
    const double d = l - lum(c);
    return clipColor({ c.r + d, c.g + d, c.b + d });
}
double sat(Rgb c)
{
    return std::max({ c.r, c.g, c.b }) - std::min({ c.r, c.g, c.b });
}
Rgb setSat(Rgb c, double s)
{
    double* v[3] = { &c.r, &c.g, &c.b };
    std::sort(std::begin(v), std::end(v), [](double* a, double* b) { return *a < *b; });
    if (*v[2] > *v[0]) {
        *v[1] = (*v[1] - *v[0]) * s / (*v[2] - *v[0]);
        *v[2] = s;
    } else {
        *v[1] = *v[2] = 0;
    }
    *v[0] = 0;
    return c;
}

// What drawing source pixel s with opacity `alpha` onto destination d gives: the opacity scales
// the source, which is then combined with the destination by the operation.
Premultiplied composite(CompositingOperation operation, Premultiplied d, Premultiplied s, double alpha)
{
    using Op = CompositingOperation;
    s = { s.r * alpha, s.g * alpha, s.b * alpha, s.a * alpha };
    auto porterDuff = [&](double fs, double fd) {
        return Premultiplied { s.r * fs + d.r * fd, s.g * fs + d.g * fd, s.b * fs + d.b * fd,
            s.a * fs + d.a * fd };
    };
    switch (operation) {
    case Op::clear:
        return {};
    case Op::copy:
        return s;
    case Op::sourceOver:
    case Op::highlight:
        return porterDuff(1, 1 - s.a);
    case Op::sourceIn:
        return porterDuff(d.a, 0);
    case Op::sourceOut:
        return porterDuff(1 - d.a, 0);
    case Op::sourceAtop:
        return porterDuff(d.a, 1 - s.a);
    case Op::destinationOver:
        return porterDuff(1 - d.a, 1);
    case Op::destinationIn:
        return porterDuff(0, s.a);
    case Op::destinationOut:
        return porterDuff(0, 1 - s.a);
    case Op::destinationAtop:
        return porterDuff(1 - d.a, s.a);
    case Op::xorOperation:
        return porterDuff(1 - d.a, 1 - s.a);
    case Op::plusLighter:
        return { std::min(1.0, s.r + d.r), std::min(1.0, s.g + d.g), std::min(1.0, s.b + d.b),
            std::min(1.0, s.a + d.a) };
    case Op::plusDarker: {
        const double a = std::min(1.0, s.a + d.a);
        auto channel = [&](double sc, double dc) { return std::max(0.0, a - ((s.a - sc) + (d.a - dc))); };
        return { channel(s.r, d.r), channel(s.g, d.g), channel(s.b, d.b), a };
    }
    default:
        break;
    }
    if (s.a <= 0)
        return d;
    const Rgb cb = d.a > 0 ? Rgb { d.r / d.a, d.g / d.a, d.b / d.a } : Rgb { 0, 0, 0 };
    const Rgb cs { s.r / s.a, s.g / s.a, s.b / s.a };
    Rgb blended;
    switch (operation) {
    case Op::hue:
        blended = setLum(setSat(cs, sat(cb)), lum(cb));
        break;
    case Op::saturation:
        blended = setLum(setSat(cb, sat(cs)), lum(cb));
        break;
    case Op::color:
        blended = setLum(cs, lum(cb));
        break;
    case Op::luminosity:
        blended = setLum(cb, lum(cs));
        break;
    default:
        blended = { separableBlend(operation, cb.r, cs.r), separableBlend(operation, cb.g, cs.g),
            separableBlend(operation, cb.b, cs.b) };
    }
    auto channel
        = [&](double sc, double dc, double bc) { return sc * (1 - d.a) + dc * (1 - s.a) + s.a * d.a * bc; };
    return { channel(s.r, d.r, blended.r), channel(s.g, d.g, blended.g), channel(s.b, d.b, blended.b),
        s.a + d.a - s.a * d.a };
}

} // namespace

// Every operation, with and without a background, at full and partial opacity, against the
// compositing formulas, within 3 levels. Where the dodge, burn and soft-light curves are steep, and
// where the hue of a near-grey or nearly transparent 8-bit colour is ill-defined (the hue,
// saturation, colour and luminosity blends), one level of input rounding moves a pixel by many:
// those blends are held to 2 levels on average.
TEST(ProcessorsDifferential, CompositingMatchesTheFormulas)
{
    int cases = 0;
    for (const unsigned seed : testimages::comparisonSeeds(120)) {
        std::mt19937 random(seed);
        const auto operation = CompositingOperation(random() % 29);
        const int width = testimages::smallLength(random, 24), height = testimages::smallLength(random, 24);
        const QImage pixels = randomPixels(random, width, height, randomFormat(random));
        // Where an operation clears what the source does not cover (clear, copy, source-in and -out,
        // destination-in and -atop) or clamps (plus-lighter), a partial opacity mixes the result
        // with the destination as it was, not the faded source with it: known, and compared at full
        // opacity only. So are the hue, saturation, colour and luminosity blends: the faded source
        // passes through an 8-bit layer whose rounding the hue of near-grey colours magnifies.
        const bool clearsUncovered = operation == CompositingOperation::clear
            || operation == CompositingOperation::copy || operation == CompositingOperation::sourceIn
            || operation == CompositingOperation::sourceOut
            || operation == CompositingOperation::destinationIn
            || operation == CompositingOperation::destinationAtop
            || operation == CompositingOperation::plusLighter
            || unsigned(operation) >= unsigned(CompositingOperation::hue);
        const double alpha = random() % 2 || clearsUncovered ? 1.0 : (random() % 101) / 100.0;
        std::optional<Color> background;
        if (random() % 3)
            background = Color { (random() % 101) / 100.0, (random() % 101) / 100.0, (random() % 101) / 100.0,
                random() % 2 ? 1.0 : (random() % 101) / 100.0 };
        const double scale = 1 + random() % 3;
        SCOPED_TRACE("seed " + std::to_string(seed) + ": operation " + std::to_string(unsigned(operation))
            + " alpha " + std::to_string(alpha) + " " + std::to_string(width) + "x" + std::to_string(height)
            + " format " + std::to_string(int(pixels.format()))
            + (background ? " background " + background->description().toStdString() : ""));

        const auto result = CompositingImageProcessor(operation, alpha, background)
                                .process(ImageProcessItem::image(imageFrom(pixels)), withScale(scale));
        ASSERT_TRUE(result);
        const QImage ours = result->bitmap()->image();
        ASSERT_EQ(ours.size(), pixels.size());

        const Premultiplied under = background ? Premultiplied { background->red * background->alpha,
            background->green * background->alpha, background->blue * background->alpha, background->alpha }
                                               : Premultiplied {};
        std::vector<Premultiplied> expected;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                expected.push_back(composite(operation, under, premultipliedAt(pixels, x, y), alpha));
        const bool steep = operation == CompositingOperation::colorDodge
            || operation == CompositingOperation::colorBurn || operation == CompositingOperation::softLight;
        const bool nonSeparable = unsigned(operation) >= unsigned(CompositingOperation::hue);
        const auto [most, at] = mostDifferent(ours, expected);
        if (!steep && !nonSeparable) {
            EXPECT_LE(most, 3) << "at " << at.x() << "," << at.y();
        } else {
            double total = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const Premultiplied p = premultipliedAt(ours, x, y),
                                        q = expected[std::size_t(y) * width + x];
                    total += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b)
                        + std::abs(p.a - q.a);
                }
            EXPECT_LT(total * 255 / (4.0 * width * height), 2.0)
                << "most " << most << " at " << at.x() << "," << at.y();
        }
        ++cases;
    }
    EXPECT_GT(cases, 0);
}

// Parameters that do nothing leave every pixel as it was (within a level: straight pixels are
// premultiplied on the way), whatever the format and the scale factor; cropping cuts exactly the pixels
// around the clamped anchor.
TEST(ProcessorsDifferential, IdentityParametersAndCroppingKeepThePixels)
{
    int cases = 0;
    for (const unsigned seed : testimages::comparisonSeeds(60)) {
        std::mt19937 random(seed);
        const int width = testimages::smallLength(random, 40), height = testimages::smallLength(random, 40);
        const QImage pixels = randomPixels(random, width, height, randomFormat(random));
        const auto image = imageFrom(pixels);
        const IrisParsedOptionsInfo options = withScale(1 + random() % 3);
        const Size own { double(width), double(height) };
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + std::to_string(width) + "x"
            + std::to_string(height) + " format " + std::to_string(int(pixels.format())));
        const std::vector<Premultiplied> unchanged = premultipliedPixels(pixels);
        const std::pair<ImageProcessorPtr, int> identities[] = {
            { std::make_shared<ResizingImageProcessor>(own), 1 },
            { std::make_shared<ResizingImageProcessor>(own, ContentMode::aspectFit), 1 },
            { std::make_shared<CroppingImageProcessor>(own, platform::Point { 0.3, 0.9 }), 1 },
            { std::make_shared<RoundCornerImageProcessor>(0), 1 },
            { std::make_shared<CompositingImageProcessor>(CompositingOperation::sourceOver, 1.0), 1 },
            { std::make_shared<CompositingImageProcessor>(CompositingOperation::copy, 1.0), 1 },
            { std::make_shared<OverlayImageProcessor>(Color { 1, 0, 0, 1 }, 0.0), 1 },
            { std::make_shared<OverlayImageProcessor>(Color { 1, 0, 0, 1 }, 1.0), 1 },
            { std::make_shared<TintImageProcessor>(Color { 0.2, 0.8, 0.4, 0 }), 1 },
            { std::make_shared<ColorControlsProcessor>(0, 1, 1, 0), 1 },
        };
        for (const auto& [processor, tolerance] : identities) {
            const auto result = processor->process(ImageProcessItem::image(image), options);
            ASSERT_TRUE(result) << processor->identifier().toStdString();
            ASSERT_EQ(result->bitmap()->image().size(), pixels.size())
                << processor->identifier().toStdString();
            const auto [most, at] = mostDifferent(result->bitmap()->image(), unchanged);
            EXPECT_LE(most, tolerance)
                << processor->identifier().toStdString() << " at " << at.x() << "," << at.y();
        }

        const Size crop { double(1 + random() % unsigned(width + 3)),
            double(1 + random() % unsigned(height + 3)) };
        const platform::Point anchor { (int(random() % 15) - 2) / 10.0, (int(random() % 15) - 2) / 10.0 };
        const auto cropped
            = CroppingImageProcessor(crop, anchor).process(ImageProcessItem::image(image), options);
        ASSERT_TRUE(cropped);
        const double ax = std::clamp(anchor.x, 0.0, 1.0), ay = std::clamp(anchor.y, 0.0, 1.0);
        const QRectF wanted(
            ax * width - ax * crop.width, ay * height - ay * crop.height, crop.width, crop.height);
        const QRect cut = wanted.intersected(QRectF(0, 0, width, height)).toAlignedRect();
        const QImage expected = pixels.copy(cut);
        EXPECT_EQ(cropped->bitmap()->image().size(), expected.size());
        if (cropped->bitmap()->image().size() == expected.size()) {
            EXPECT_EQ(mostDifferent(cropped->bitmap()->image(), premultipliedPixels(expected)).first, 0);
        }
        ++cases;
    }
    EXPECT_GT(cases, 0);
}

// Processors whose identifiers are equal give equal images: parameters are drawn from small sets, so
// that equal identifiers come up often. Colours are named to two decimals, so they are drawn on
// that grid.
TEST(ProcessorsDifferential, EqualIdentifiersGiveEqualImages)
{
    std::mt19937 random(5);
    const QImage pixels = randomPixels(random, 13, 9, QImage::Format_ARGB32_Premultiplied);
    const auto image = imageFrom(pixels);
    const double numbers[] = { 0, 0.5, 1, 1.5, 2, 3, 0.1 + 0.2, 0.3 };
    auto number = [&] { return numbers[random() % std::size(numbers)]; };
    auto color = [&] {
        return Color { (random() % 3) / 2.0, (random() % 3) / 2.0, (random() % 3) / 2.0,
            (random() % 3) / 2.0 };
    };
    auto randomProcessor = [&]() -> ImageProcessorPtr {
        switch (random() % 8) {
        case 0:
            return std::make_shared<BlurImageProcessor>(number());
        case 1:
            return std::make_shared<RoundCornerImageProcessor>(
                number() * 3, std::nullopt, RectCorner(1 + random() % 15));
        case 2:
            return std::make_shared<TintImageProcessor>(color());
        case 3:
            return std::make_shared<OverlayImageProcessor>(color(), number() / 3);
        case 4:
            return std::make_shared<ColorControlsProcessor>(number() / 3, number(), number(), number() - 1);
        case 5:
            return std::make_shared<CroppingImageProcessor>(
                Size { 1 + number() * 3, 1 + number() * 2 }, platform::Point { number() / 3, number() / 3 });
        case 6:
            return std::make_shared<CompositingImageProcessor>(CompositingOperation(random() % 29),
                number() / 3, random() % 2 ? std::optional<Color>(color()) : std::nullopt);
        default:
            return std::make_shared<BorderImageProcessor>(
                Border { color(), number(), Radius::point(number()), RectCorner(1 + random() % 15) });
        }
    };
    std::map<QString, QImage> seen;
    int collisions = 0;
    for (int i = 0; i < 3000; ++i) {
        const ImageProcessorPtr processor = randomProcessor();
        const auto result = processor->process(ImageProcessItem::image(image), withScale(1));
        ASSERT_TRUE(result);
        const QImage output = result->bitmap()->image().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const auto [entry, fresh] = seen.emplace(processor->identifier(), output);
        if (!fresh) {
            ++collisions;
            EXPECT_EQ(entry->second, output) << processor->identifier().toStdString();
        }
    }
    EXPECT_GT(collisions, 100);
}
