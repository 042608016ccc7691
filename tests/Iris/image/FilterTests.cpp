#include "DrawingTestSupport.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Filter.h"
#include "Iris/image/ImageDrawing.h"
#include "Iris/image/ImageProcessors.h"

#include "platform/graphics/ImageEncoding.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <cstdint>
#include <thread>

using namespace drawingtest;
using namespace iris;
using platform::Color;

namespace {

QImage colourful(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba((x * 37) % 256, (y * 53) % 256, (x * y) % 256, 255));
    image.setPixel(0, 0, qRgba(20, 10, 0, 40)); // translucent
    return image;
}

// Restores the default factories when a test ends.
struct FactoryReset {
    ~FactoryReset()
    {
        Filter::setTintFactory({});
        Filter::setColorControlsFactory({});
    }
};

void expectClose(const QImage& a, const QImage& b, int tolerance)
{
    ASSERT_EQ(a.size(), b.size());
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            ASSERT_TRUE(near(qRed(p), qRed(q), tolerance) && near(qGreen(p), qGreen(q), tolerance)
                && near(qBlue(p), qBlue(q), tolerance) && qAlpha(p) == qAlpha(q))
                << x << ", " << y;
        }
    }
}

// Straight-alpha noise with fully transparent, opaque and in-between pixels, in `format`.
QImage noise(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_ARGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state = state * 1664525 + 1013904223;
            const int alphaKind = (state >> 28) % 4;
            const int alpha = alphaKind == 0 ? 0 : alphaKind == 1 ? int(state >> 20) % 256 : 255;
            row[x] = qRgba(int(state >> 24), int(state >> 16) % 256, int(state >> 8) % 256, alpha);
        }
    }
    return image.convertToFormat(format);
}

qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks) + qint64(info.hblkhd);
}

} // namespace

TEST(Filter, ApplyingReturnsTheInputWhenThereIsNothingToFilter)
{
    bool called = false;
    const Filter spy { [&](const FilterImage& input) -> std::optional<FilterImage> {
        called = true;
        return input;
    } };
    const auto empty = platform::Image::createEmpty({ 5, 5 });
    EXPECT_EQ(applyFilter(empty, spy), empty);
    EXPECT_FALSE(called);

    const auto image = imageFrom(colourful(4, 4));
    const Filter nothing { [](const FilterImage&) -> std::optional<FilterImage> { return std::nullopt; } };
    EXPECT_EQ(applyFilter(image, nothing), image);
    EXPECT_EQ(applyFilter(image, { nothing.transform, Filter::Reach::eachPixel }), image);

    // A filter that claims to work on each pixel but gives a tile back at another size has broken
    // its word: no half-filtered picture comes out.
    const auto tall = imageFrom(noise(3, int(FilterContext::tilePixels / 3) + 10, QImage::Format_ARGB32));
    int tiles = 0;
    const Filter shrinking { [&](const FilterImage& input) -> std::optional<FilterImage> {
                                if (++tiles == 1)
                                    return input;
                                return FilterImage(input.width, input.height - 1);
                            },
        Filter::Reach::eachPixel };
    EXPECT_EQ(applyFilter(tall, shrinking), tall);
    EXPECT_EQ(tiles, 2);
}

TEST(Filter, TilesGiveTheWholeImagesPixelsToTheBit)
{
    const int longSide = int(FilterContext::tilePixels) + 37;
    const QSize sizes[] = { { 1, longSide }, { longSide, 1 }, { 601, 500 }, { 3, 2 } };
    const QImage::Format formats[] = { QImage::Format_ARGB32_Premultiplied, QImage::Format_ARGB32,
        QImage::Format_RGB32, QImage::Format_Indexed8, QImage::Format_RGBA64,
        QImage::Format_RGBA64_Premultiplied, QImage::Format_Grayscale16 };
    const Filter filters[] = { Filter::tintFactory()(Color { 0.2, 0.5, 0.9, 0.4 }),
        Filter::colorControlsFactory()(0.1, 1.2, 0.6, 0.4), Filter::colorControlsFactory()(0, 1, 0, 0.7) };
    for (const Filter& filter : filters)
        ASSERT_EQ(filter.reach, Filter::Reach::eachPixel);

    for (const QSize size : sizes) {
        for (const QImage::Format format : formats) {
            const auto image = imageFrom(noise(size.width(), size.height(), format));
            for (std::size_t f = 0; f < std::size(filters); ++f) {
                const auto tiled = applyFilter(image, filters[f]);
                const auto whole = applyFilter(image, Filter { filters[f].transform });
                ASSERT_NE(tiled, image);
                ASSERT_EQ(tiled->pixelSize(), image->pixelSize());
                ASSERT_TRUE(tiled->bitmap()->image() == whole->bitmap()->image())
                    << size.width() << " x " << size.height() << ", format " << int(format) << ", filter "
                    << f;
            }
        }
    }
}

TEST(Filter, TintingALargeImageHoldsAFewMegabytesOfFloats)
{
    // Sampled while each tile's output is alive: the tiles' floats, their converted pixels and the
    // rendered picture. The whole image in floats would be 128 MB on its own.
    const auto image = imageFrom(noise(2000, 2000, QImage::Format_RGB32));
    const Filter tint = Filter::tintFactory()(Color { 0, 0.5, 1, 0.3 });
    const qint64 before = heapInUse();
    qint64 peak = 0;
    std::size_t largest = 0;
    const auto sampling = [&](const FilterImage& input) {
        std::optional<FilterImage> output = tint.transform(input);
        peak = std::max(peak, heapInUse() - before);
        largest = std::max(largest, std::size_t(input.width) * input.height);
        return output;
    };
    applyFilter(image, { sampling, tint.reach });
    EXPECT_LE(largest, FilterContext::tilePixels);
    const qint64 renderedBytes = 2000 * 2000 * 4;
    EXPECT_LT(peak, renderedBytes + 4 * qint64(FilterContext::tilePixels) * 16) << peak;

    // A filter that may look at other pixels still sees the whole image at once.
    applyFilter(image, { sampling, Filter::Reach::wholeImage });
    EXPECT_EQ(largest, 2000u * 2000u);
}

TEST(Filter, TheFilteredPictureIsHandedOverAsDrawingItWouldGiveIt)
{
    // What the copy into a drawing of the image's own size would give, in each depth and layout.
    const Filter tint = Filter::tintFactory()(Color { 0.7, 0.2, 0.1, 0.5 });
    for (const QImage::Format format : { QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32,
             QImage::Format_Indexed8, QImage::Format_RGBA64, QImage::Format_Grayscale16 }) {
        const auto image = imageFrom(noise(61, 37, format));
        const auto result = applyFilter(image, tint);
        const std::optional<platform::Bitmap> rendered
            = FilterContext::shared().renderTiled(*image->bitmap(), tint.transform);
        ASSERT_TRUE(rendered);
        const auto drawn = redrawAtPixelSize(*rendered, image, image->pixelSize());
        ASSERT_TRUE(result->bitmap()->image() == drawn->bitmap()->image()) << int(format);
        EXPECT_EQ(result->bitmap()->image().format(), drawn->bitmap()->image().format());
        EXPECT_EQ(result->size(), drawn->size());
    }

    // Drawn once more, a 64 MB result was briefly held twice.
    if (!testsupport::residentSizesAreTheProgramsOwn)
        return;
    const auto large = imageFrom(noise(4000, 4000, QImage::Format_ARGB32_Premultiplied));
    testsupport::resetPeakResident();
    const long before = testsupport::statusKilobytes("VmHWM");
    const auto tinted = applyFilter(large, tint);
    ASSERT_NE(tinted, large);
    EXPECT_LT(testsupport::statusKilobytes("VmHWM") - before, (64 + 24) * 1024) << "kilobytes";
}

TEST(Filter, OpaqueTintGivesOneColourAndTransparentTintACopy)
{
    const QImage source = colourful(6, 5);
    const auto image = imageFrom(source);
    const auto red = tintedImage(image, Color { 1, 0, 0, 1 });
    EXPECT_EQ(red->pixelSize(), image->pixelSize());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(pixelAt(red, x, y), QColor(255, 0, 0)) << x << ", " << y;

    const auto copy = tintedImage(image, Color { 0, 1, 0, 0 });
    EXPECT_NE(copy, image);
    expectClose(copy->bitmap()->image(), source, 1);

    // Half a tint mixes in linear light: black and white under half white give the same light grey.
    const auto half = tintedImage(solidImage(2, 1, Qt::black), Color { 1, 1, 1, 0.5 });
    EXPECT_TRUE(near(pixelAt(half, 0, 0).red(), 188, 1)) << pixelAt(half, 0, 0).red();
}

TEST(Filter, IdentityColourControlsKeepColoursAndZeroSaturationGivesGrey)
{
    const QImage source = colourful(16, 16);
    const auto image = imageFrom(source);
    const auto same = colorControlledImage(image, 0, 1, 1, 0);
    EXPECT_NE(same, image);
    expectClose(same->bitmap()->image(), source, 1);

    const auto grey = colorControlledImage(image, 0, 1, 0, 0);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QColor c = pixelAt(grey, x, y);
            ASSERT_TRUE(near(c.red(), c.green(), 1) && near(c.green(), c.blue(), 1)) << x << ", " << y;
        }
    }
    // One stop of exposure doubles linear light: mid-grey (sRGB 128) becomes about 176.
    const auto brighter = colorControlledImage(solidImage(1, 1, QColor(128, 128, 128)), 0, 1, 1, 1);
    EXPECT_TRUE(near(pixelAt(brighter, 0, 0).red(), 176, 1)) << pixelAt(brighter, 0, 0).red();
}

TEST(Filter, SixteenBitImagesKeepTheirDepth)
{
    QImage deep(3, 3, QImage::Format_RGBA64_Premultiplied);
    deep.fill(QColor(10, 20, 30));
    const auto image = imageFrom(deep);
    const auto tinted = tintedImage(image, Color { 0, 0, 1, 0.5 });
    EXPECT_EQ(tinted->bitmap()->bitsPerComponent(), 16);
}

TEST(Filter, ReplacedFactoriesServeLaterFiltersOnly)
{
    FactoryReset reset;
    const auto image = imageFrom(colourful(4, 4));
    const Filter before = Filter::tintFactory()(Color { 1, 0, 0, 1 });
    const TintImageProcessor processor(Color { 1, 0, 0, 1 });
    Filter::setTintFactory([](const Color&) {
        return Filter { [](const FilterImage& input) -> std::optional<FilterImage> {
            FilterImage output = input;
            for (std::size_t i = 0; i < output.pixels.size(); i += 4)
                output.pixels[i] = output.pixels[i + 1] = output.pixels[i + 2] = 0, output.pixels[i + 3] = 1;
            return output;
        } };
    });
    EXPECT_EQ(pixelAt(tintedImage(image, Color::white()), 2, 2), QColor(Qt::black));
    EXPECT_EQ(pixelAt(processor.process(ImageProcessItem::image(image), {}), 2, 2), QColor(Qt::black));
    EXPECT_EQ(pixelAt(applyFilter(image, before), 2, 2), QColor(Qt::red));

    Filter::setTintFactory({});
    EXPECT_EQ(pixelAt(tintedImage(image, Color { 0, 0, 1, 1 }), 2, 2), QColor(Qt::blue));
}

TEST(Filter, FactoriesCanBeReplacedWhileOtherThreadsFilter)
{
    FactoryReset reset;
    const auto image = imageFrom(colourful(8, 8));
    std::atomic<bool> stop = false;
    std::atomic<int> filtered = 0;
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&] {
            while (!stop) {
                const auto tinted = tintedImage(image, Color { 0, 0, 1, 1 });
                const auto controlled = colorControlledImage(image, 0, 1, 0, 0);
                if (tinted && controlled)
                    ++filtered;
            }
        });
    }
    for (int round = 0; round < 200 || filtered < 50; ++round) {
        const double shade = round % 2;
        Filter::setTintFactory([shade](const Color& color) {
            return Filter { [color, shade](const FilterImage& input) {
                return tintFilter(input, color.withAlpha(shade));
            } };
        });
        Filter::setColorControlsFactory([](double b, double c, double s, double e) {
            return Filter { [=](const FilterImage& input) {
                return colorControlsFilter(input, b, c, s, e);
            } };
        });
    }
    stop = true;
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_GE(filtered, 50);
}

TEST(Filter, ProcessingDataDecodesItFirst)
{
    const QByteArray png = *platform::encodePng(*platform::Bitmap::fromImage(colourful(5, 5)));
    const TintImageProcessor processor(Color { 0, 1, 0, 1 });
    const auto result = processor.processWithFilter(ImageProcessItem::data(png), {});
    ASSERT_TRUE(result);
    EXPECT_EQ(pixelAt(result, 3, 3), QColor(Qt::green));
    EXPECT_FALSE(processor.processWithFilter(ImageProcessItem::data("garbage bytes"), {}));
}
