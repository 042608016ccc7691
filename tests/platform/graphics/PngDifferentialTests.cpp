// PNG files of every colour type and depth, interlaced or not, made with libpng from known samples:
// what we decode must be those samples.
#include "platform/graphics/ImageSource.h"
#include "platform/graphics/PngWriter.h"
#include "platform/graphics/RandomSeeds.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using namespace platform;

namespace {

struct PngCase {
    testimages::PngContents contents;
    std::string text;
};

PngCase randomPng(unsigned seed)
{
    std::mt19937 random(seed);
    PngCase c;
    testimages::PngContents& png = c.contents;
    png.width = testimages::smallLength(random, 120);
    png.height = testimages::smallLength(random, 120);
    struct Kind {
        int colorType;
        std::vector<int> depths;
    };
    const std::vector<Kind> kinds = { { PNG_COLOR_TYPE_GRAY, { 1, 2, 4, 8, 16 } },
        { PNG_COLOR_TYPE_RGB, { 8, 16 } }, { PNG_COLOR_TYPE_PALETTE, { 1, 2, 4, 8 } },
        { PNG_COLOR_TYPE_GRAY_ALPHA, { 8, 16 } }, { PNG_COLOR_TYPE_RGB_ALPHA, { 8, 16 } } };
    const Kind& kind = kinds[random() % kinds.size()];
    png.colorType = kind.colorType;
    png.bitDepth = kind.depths[random() % kind.depths.size()];
    png.interlaced = random() % 2;
    const unsigned levels = 1u << png.bitDepth;
    if (png.colorType == PNG_COLOR_TYPE_PALETTE) {
        const unsigned entries = 1 + random() % levels;
        const bool translucent = random() % 2;
        for (unsigned i = 0; i < entries; ++i) {
            const int alpha = !translucent ? 255 : random() % 3 == 0 ? 0 : int(random() % 256);
            png.palette.push_back(
                qRgba(int(random() % 256), int(random() % 256), int(random() % 256), alpha));
        }
    }
    const int channels = testimages::channelsOf(png.colorType);
    const unsigned limit = png.colorType == PNG_COLOR_TYPE_PALETTE ? unsigned(png.palette.size()) : levels;
    // Runs of repeated pixels, with the extremes of each sample often.
    std::vector<unsigned> pixel(std::size_t(channels), 0);
    for (int i = 0; i < png.width * png.height; ++i) {
        if (i == 0 || random() % 3 == 0) {
            for (unsigned& sample : pixel) {
                const unsigned pick = random() % 4;
                sample = pick == 0 ? 0 : pick == 1 ? limit - 1 : unsigned(random() % limit);
            }
        }
        png.samples.insert(png.samples.end(), pixel.begin(), pixel.end());
    }
    if ((png.colorType == PNG_COLOR_TYPE_GRAY || png.colorType == PNG_COLOR_TYPE_RGB) && random() % 2) {
        // A key that some pixels have.
        const std::size_t at
            = std::size_t(random() % unsigned(png.width * png.height)) * std::size_t(channels);
        png.transparentColor = { png.samples[at], png.samples[at + (channels == 3 ? 1 : 0)],
            png.samples[at + (channels == 3 ? 2 : 0)] };
    }
    std::ostringstream out;
    out << png.width << "x" << png.height << " colour type " << png.colorType << " depth " << png.bitDepth
        << (png.interlaced ? " interlaced" : "") << (png.transparentColor ? " keyed" : "")
        << (png.palette.empty() ? "" : " palette of " + std::to_string(png.palette.size()));
    c.text = out.str();
    return c;
}

// The pixels the samples stand for, premultiplied, at 8 bits.
QImage expectedImage(const testimages::PngContents& png)
{
    QImage image(png.width, png.height, QImage::Format_ARGB32);
    const int channels = testimages::channelsOf(png.colorType);
    const double maxSample = double((1u << png.bitDepth) - 1);
    const auto level = [&](unsigned sample) { return int(std::lround(sample * 255.0 / maxSample)); };
    for (int y = 0; y < png.height; ++y)
        for (int x = 0; x < png.width; ++x) {
            const unsigned* s = &png.samples[(std::size_t(y) * png.width + x) * std::size_t(channels)];
            QRgb color = 0;
            switch (png.colorType) {
            case PNG_COLOR_TYPE_PALETTE:
                color = png.palette[s[0]];
                break;
            case PNG_COLOR_TYPE_GRAY:
                color = qRgb(level(s[0]), level(s[0]), level(s[0]));
                if (png.transparentColor && s[0] == (*png.transparentColor)[0])
                    color = 0;
                break;
            case PNG_COLOR_TYPE_GRAY_ALPHA:
                color = qRgba(level(s[0]), level(s[0]), level(s[0]), level(s[1]));
                break;
            case PNG_COLOR_TYPE_RGB:
                color = qRgb(level(s[0]), level(s[1]), level(s[2]));
                if (png.transparentColor && s[0] == (*png.transparentColor)[0]
                    && s[1] == (*png.transparentColor)[1] && s[2] == (*png.transparentColor)[2])
                    color = 0;
                break;
            default:
                color = qRgba(level(s[0]), level(s[1]), level(s[2]), level(s[3]));
                break;
            }
            image.setPixel(x, y, color);
        }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

// Decoded pixels are the samples written, within one level (16-bit samples and premultiplication
// round either way), alpha from an alpha channel, a palette's tRNS or a keyed colour; thumbnails
// have the fitted size.
TEST(PngDifferential, DecodesTheSamplesWritten)
{
    int cases = 0;
    for (const unsigned seed : testimages::comparisonSeeds(120)) {
        const PngCase c = randomPng(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + c.text);
        const QByteArray data = testimages::writePng(c.contents);
        auto source = ImageSource::create(data);
        ASSERT_TRUE(source);
        const std::optional<Bitmap> frame = source.value()->frame(0);
        ASSERT_TRUE(frame);
        const QImage expected = expectedImage(c.contents);
        const QImage ours = frame->image().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(ours.size(), expected.size());
        for (int y = 0; y < ours.height(); ++y)
            for (int x = 0; x < ours.width(); ++x) {
                const QRgb p = ours.pixel(x, y), q = expected.pixel(x, y);
                const int most = std::max({ std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                    std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q)) });
                ASSERT_LE(most, 1) << "at " << x << "," << y << ": " << std::hex << p << " expected " << q;
            }

        std::mt19937 random(seed);
        const int longSide = std::max(c.contents.width, c.contents.height);
        const int maxPixelSize = 1 + int(random() % unsigned(longSide + 4));
        const std::optional<Bitmap> thumbnail = source.value()->thumbnail(maxPixelSize);
        ASSERT_TRUE(thumbnail);
        const QSize size(c.contents.width, c.contents.height);
        const QSize fitted = longSide <= maxPixelSize
            ? size
            : QSize(std::max(1, int(std::lround(size.width() * double(maxPixelSize) / longSide))),
                std::max(1, int(std::lround(size.height() * double(maxPixelSize) / longSide))));
        EXPECT_EQ(thumbnail->image().size(), fitted) << "at most " << maxPixelSize;
        // Against a smooth scaling of the expected pixels; both average, each its own way.
        if (thumbnail->image().size() == fitted) {
            const QImage scaledExpected
                = expected.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const QImage scaledOurs = thumbnail->image().convertToFormat(QImage::Format_ARGB32_Premultiplied);
            double total = 0;
            for (int y = 0; y < fitted.height(); ++y)
                for (int x = 0; x < fitted.width(); ++x) {
                    const QRgb p = scaledOurs.pixel(x, y), q = scaledExpected.pixel(x, y);
                    total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                        + std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
                }
            EXPECT_LT(total / (4.0 * fitted.width() * fitted.height()), 3.0) << "at most " << maxPixelSize;
        }
        ++cases;
    }
    EXPECT_GT(cases, 0);
}
