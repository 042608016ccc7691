#include "DrawingTestSupport.h"

#include "Iris/image/Filter.h"
#include "Iris/image/ImageDrawing.h"

#include "platform/graphics/GraphicsContext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace drawingtest;
using iris::Border;
using iris::ContentMode;
using iris::Radius;
using iris::RectCorner;
using platform::Color;
using platform::CompositingOperation;
using platform::Point;
using platform::Size;

namespace {

// Every pixel differs from its neighbours, so crops and copies can be told apart.
QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256));
    return image;
}

bool isTransparent(QColor c)
{
    return c.alpha() == 0;
}

bool isOpaqueRed(QColor c)
{
    return c.alpha() == 255 && c.red() == 255 && c.green() == 0 && c.blue() == 0;
}

} // namespace

TEST(ImageDrawing, OperationsReturnTheInputWhenTheImageHasNoBitmap)
{
    const auto empty = platform::Image::createEmpty({ 10, 10 });
    EXPECT_EQ(iris::compositedImage(empty, CompositingOperation::sourceOver, 1), empty);
    EXPECT_EQ(iris::roundedCornerImage(empty, 4, { 10, 10 }), empty);
    EXPECT_EQ(iris::borderedImage(empty, Border {}), empty);
    EXPECT_EQ(iris::resizedImage(empty, { 5, 5 }), empty);
    EXPECT_EQ(iris::croppedImage(empty, { 5, 5 }, { 0.5, 0.5 }), empty);
    EXPECT_EQ(iris::boxBlur(empty, 3), empty);
    EXPECT_EQ(iris::overlaidImage(empty, Color::black(), 0.5), empty);
    EXPECT_EQ(iris::scaledImage(empty, 1.0), empty);
    EXPECT_EQ(iris::scaledImage(empty, 2.0), empty);
    EXPECT_EQ(iris::decodedImage(empty), empty);
}

TEST(ImageDrawing, UnusableUserSizesReturnTheInputWithoutDrawing)
{
    const auto image = solidImage(8, 8, Qt::red);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const Size bad[] = { { nan, 10 }, { 10, infinity }, { 0, 10 }, { -5, 10 }, { 1e12, 1e12 }, { 2e6, 1 } };
    const int depth = platform::GraphicsContext::graphicsStateDepth();
    for (const Size& size : bad) {
        SCOPED_TRACE(testing::Message() << size.width << " x " << size.height);
        EXPECT_EQ(iris::resizedImage(image, size), image);
        EXPECT_EQ(iris::resizedImageForContentMode(image, size, ContentMode::none), image);
        EXPECT_EQ(iris::roundedCornerImage(image, Radius::widthFraction(0.5), size), image);
    }
    // A crop is cut to the image, so only sizes that are not lengths are refused.
    for (const Size& size : { bad[0], bad[2], bad[3] })
        EXPECT_EQ(iris::croppedImage(image, size, { 0.5, 0.5 }), image);
    EXPECT_EQ(iris::croppedImage(image, { 1e12, 1e12 }, { 0.5, 0.5 })->pixelSize(), (Size { 8, 8 }));
    EXPECT_EQ(iris::decodedImage(image, 0), image);
    EXPECT_EQ(iris::decodedImage(image, nan), image);
    EXPECT_EQ(iris::boxBlur(image, nan), image);
    EXPECT_EQ(iris::boxBlur(image, infinity), image);
    EXPECT_EQ(
        iris::borderedImage(image, Border { Color::black(), nan, Radius::point(0), RectCorner::all }), image);
    EXPECT_EQ(platform::GraphicsContext::graphicsStateDepth(), depth);
}

TEST(ImageDrawing, ResultsAreSizedInPixelsAndLeaveTheGraphicsStateAsItWas)
{
    const auto image = platform::Image::create(*platform::Bitmap::fromImage(gradient(40, 20)), 2.0);
    ASSERT_EQ(image->size(), (Size { 20, 10 }));
    auto outer = platform::GraphicsContext::create({ 4, 4 });
    platform::GraphicsContext::setCurrent(outer);
    const int depth = platform::GraphicsContext::graphicsStateDepth();

    const auto composited = iris::compositedImage(image, CompositingOperation::sourceOver, 1);
    EXPECT_EQ(composited->pixelSize(), (Size { 40, 20 }));
    EXPECT_EQ(composited->size(), (Size { 40, 20 }));
    EXPECT_EQ(platform::GraphicsContext::current(), outer);
    EXPECT_EQ(platform::GraphicsContext::graphicsStateDepth(), depth);
    EXPECT_EQ(outer->savedStateCount(), 0);

    const auto decoded = iris::decodedImage(image, 2);
    EXPECT_EQ(decoded->pixelSize(), (Size { 20, 10 }));
    EXPECT_EQ(iris::scaledImage(image, 1.0), image);
    const auto scaled = iris::scaledImage(image, 2.0);
    EXPECT_NE(scaled, image);
    EXPECT_EQ(scaled->size(), (Size { 40, 20 }));
    platform::GraphicsContext::setCurrent(nullptr);
}

TEST(ImageDrawing, TheDrawnBitmapBecomesTheResultWithoutACopy)
{
    // A copy would briefly hold the result twice: 96 MB more for a 24 MP photograph.
    const auto image = solidImage(64, 32, Qt::red);
    const uchar* drawnInto = nullptr;
    const auto drawn = iris::drawToSize(image, { 64, 32 }, [&](platform::GraphicsContext& context) {
        context.drawImage(*image, { { 0, 0 }, { 64, 32 } });
        drawnInto = context.pixels().constBits();
    });
    ASSERT_NE(drawn, image);
    EXPECT_EQ(drawn->bitmap()->image().constBits(), drawnInto);
    EXPECT_EQ(pixelAt(drawn, 10, 10), QColor(Qt::red));
}

TEST(ImageDrawing, AnimatedImagesAreNotRedrawnByDecoding)
{
    const auto frame = *platform::Bitmap::fromImage(gradient(4, 4));
    const auto animation = platform::Image::createAnimated({ { frame, 0.1 }, { frame, 0.1 } });
    EXPECT_EQ(iris::decodedImage(animation), animation);
}

TEST(ImageDrawing, RoundedCornersClearOnlyTheChosenCorners)
{
    const auto image = solidImage(100, 100, Qt::red);
    const auto rounded
        = iris::roundedCornerImage(image, 20, { 100, 100 }, RectCorner::topLeft | RectCorner::bottomRight);
    // Stored rows run from the top: (0, 0) is the top-left corner.
    EXPECT_TRUE(isTransparent(pixelAt(rounded, 0, 0)));
    EXPECT_TRUE(isTransparent(pixelAt(rounded, 99, 99)));
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 99, 0)));
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 0, 99)));
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 50, 50)));
}

TEST(ImageDrawing, CornerRadiusIsClampedToHalfTheShorterSide)
{
    const auto image = solidImage(100, 40, Qt::red);
    const auto rounded = iris::roundedCornerImage(image, 1000, { 100, 40 });
    EXPECT_TRUE(isTransparent(pixelAt(rounded, 2, 2)));
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 1, 20))); // the half circle of radius 20
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 50, 0)));
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 50, 39)));
}

// Corners get the same antialiased coverage however narrow the image: a disc covers a quarter pi
// of its square at any size, each end of a strip one pixel across is a half disc over half a
// pixel, and one pixel rounded at one corner loses a quarter of what a disc leaves out.
TEST(ImageDrawing, NarrowImagesKeepTheirAntialiasedCorners)
{
    const double disc = 255 * M_PI / 4;
    for (int side : { 1, 2, 8 }) {
        const auto rounded
            = iris::roundedCornerImage(solidImage(side, side, Qt::red), 1000, { double(side), double(side) });
        double sum = 0;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                sum += pixelAt(rounded, x, y).alpha();
        EXPECT_NEAR(sum / (side * side), disc, 8) << side;
    }
    for (const Size size : { Size { 1, 6 }, Size { 6, 1 } }) {
        const auto strip
            = iris::roundedCornerImage(solidImage(int(size.width), int(size.height), Qt::red), 1000, size);
        auto alphaAt = [&](int i) {
            return size.width == 1 ? pixelAt(strip, 0, i).alpha() : pixelAt(strip, i, 0).alpha();
        };
        EXPECT_NEAR(alphaAt(0), 127.5 + disc / 2, 6) << size.width;
        EXPECT_NEAR(alphaAt(5), 127.5 + disc / 2, 6) << size.width;
        EXPECT_EQ(alphaAt(2), 255) << size.width;
    }
    const auto one = iris::roundedCornerImage(solidImage(1, 1, Qt::red), 1000, { 1, 1 }, RectCorner::topLeft);
    EXPECT_NEAR(pixelAt(one, 0, 0).alpha(), 255 - (255 - disc) / 4, 6);
    // The background shows through the cut, opaque.
    const auto shown = iris::roundedCornerImage(
        solidImage(1, 1, Qt::red), 1000, { 1, 1 }, RectCorner::all, Color { 0, 0, 1, 1 });
    const QColor mixed = pixelAt(shown, 0, 0);
    EXPECT_EQ(mixed.alpha(), 255);
    EXPECT_NEAR(mixed.red(), disc, 8);
    EXPECT_NEAR(mixed.blue(), 255 - disc, 8);
}

TEST(ImageDrawing, RoundedCornersStretchToTheTargetAndShowTheBackground)
{
    const auto image = solidImage(10, 10, Qt::red);
    const auto rounded = iris::roundedCornerImage(
        image, Radius::widthFraction(0.25), { 80, 40 }, RectCorner::all, Color { 0, 0, 1, 1 });
    EXPECT_EQ(rounded->pixelSize(), (Size { 80, 40 }));
    const QColor corner = pixelAt(rounded, 0, 0);
    EXPECT_EQ(corner.alpha(), 255);
    EXPECT_EQ(corner.blue(), 255);
    EXPECT_TRUE(isOpaqueRed(pixelAt(rounded, 40, 20)));
}

TEST(ImageDrawing, BorderIsStrokedOnAPathInsetByHalfTheLineWidth)
{
    const auto image = solidImage(40, 40, Qt::white);
    const auto sharp
        = iris::borderedImage(image, Border { Color::black(), 4, Radius::point(0), RectCorner::all });
    for (int x : { 0, 3 })
        EXPECT_EQ(pixelAt(sharp, x, 20), QColor(Qt::black)) << x;
    EXPECT_EQ(pixelAt(sharp, 5, 20), QColor(Qt::white));
    EXPECT_EQ(pixelAt(sharp, 20, 20), QColor(Qt::white));
    EXPECT_EQ(pixelAt(sharp, 0, 0), QColor(Qt::black));

    // Radius 10 on the inset square becomes 8: the stroke keeps away from the very corner.
    const auto round
        = iris::borderedImage(image, Border { Color::black(), 4, Radius::point(10), RectCorner::all });
    EXPECT_EQ(pixelAt(round, 0, 0), QColor(Qt::white));
    EXPECT_EQ(pixelAt(round, 0, 20), QColor(Qt::black));
    // Only the chosen corners are rounded.
    const auto one
        = iris::borderedImage(image, Border { Color::black(), 4, Radius::point(10), RectCorner::topRight });
    EXPECT_EQ(pixelAt(one, 39, 0), QColor(Qt::white));
    EXPECT_EQ(pixelAt(one, 0, 39), QColor(Qt::black));
}

TEST(ImageDrawing, ResizingStretchesAndContentModesKeepTheRatio)
{
    const auto image = imageFrom(gradient(200, 100));
    EXPECT_EQ(iris::resizedImage(image, { 30, 70 })->pixelSize(), (Size { 30, 70 }));
    struct Row {
        ContentMode mode;
        Size expected;
    };
    for (const Row& row : { Row { ContentMode::aspectFit, { 100, 50 } },
             Row { ContentMode::aspectFill, { 200, 100 } }, Row { ContentMode::none, { 100, 100 } } }) {
        EXPECT_EQ(iris::resizedImageForContentMode(image, { 100, 100 }, row.mode)->pixelSize(), row.expected)
            << int(row.mode);
    }
    const auto wide = imageFrom(gradient(400, 200));
    EXPECT_EQ(iris::resizedImageForContentMode(wide, { 100, 100 }, ContentMode::aspectFill)->pixelSize(),
        (Size { 200, 100 }));
}

// A target between whole pixels is drawn over the whole bitmap it is cut to, so no corner loses
// its last half pixel to the edge.
TEST(ImageDrawing, RoundedCornersAtAFractionalSizeAreAlike)
{
    const auto rounded = iris::roundedCornerImage(solidImage(100, 100, Qt::red), 20.0, { 100.9, 100.9 });
    const QImage& pixels = rounded->bitmap()->image();
    ASSERT_EQ(pixels.size(), QSize(100, 100));
    for (int i = 0; i < 10; ++i) {
        const int topLeft = qAlpha(pixels.pixel(i, i));
        for (const QPoint corner : { QPoint(99 - i, i), QPoint(i, 99 - i), QPoint(99 - i, 99 - i) })
            EXPECT_NEAR(qAlpha(pixels.pixel(corner)), topLeft, 2)
                << i << " " << corner.x() << "," << corner.y();
    }
}

TEST(ImageDrawing, CroppingCutsAroundTheClampedAnchor)
{
    const QImage source = gradient(200, 100);
    const auto image = imageFrom(source);
    struct Row {
        Size size;
        Point anchor;
        QRect expected;
    };
    const Row rows[] = {
        { { 50, 50 }, { 0.5, 0.5 }, QRect(75, 25, 50, 50) },
        { { 50, 50 }, { 2, -1 }, QRect(150, 0, 50, 50) },
        { { 50, 50 }, { 0, 0 }, QRect(0, 0, 50, 50) },
        { { 300, 300 }, { 0.5, 0.5 }, QRect(0, 0, 200, 100) },
    };
    for (const Row& row : rows) {
        const auto cropped = iris::croppedImage(image, row.size, row.anchor);
        ASSERT_EQ(cropped->bitmap()->image().size(), row.expected.size()) << row.anchor.x;
        EXPECT_EQ(cropped->bitmap()->image(), source.copy(row.expected)) << row.anchor.x;
    }

    // Around a centre between pixels the cut keeps the size asked for, moved to whole pixels.
    const QImage odd = gradient(101, 51);
    const Row oddRows[] = {
        { { 50, 25 }, { 0.5, 0.5 }, QRect(26, 13, 50, 25) },
        { { 49.5, 25 }, { 1, 1 }, QRect(51, 26, 50, 25) },
        { { 0.4, 0.4 }, { 0, 0 }, QRect(0, 0, 1, 1) },
    };
    for (const Row& row : oddRows) {
        const auto cropped = iris::croppedImage(imageFrom(odd), row.size, row.anchor);
        EXPECT_EQ(cropped->bitmap()->image(), odd.copy(row.expected)) << row.size.width;
    }
}

TEST(ImageDrawing, OverlayLaysTheColourWithTheInverseAlphaOnOpaquePartsOnly)
{
    QImage pixels(4, 1, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::white);
    pixels.setPixel(3, 0, 0); // transparent
    const auto image = imageFrom(pixels);

    EXPECT_EQ(iris::overlaidImage(image, Color::black(), 0)->bitmap()->image(), pixels);
    EXPECT_EQ(iris::overlaidImage(image, Color::black(), 1)->bitmap()->image(), pixels);
    const auto quarter = iris::overlaidImage(image, Color::black(), 0.25);
    EXPECT_TRUE(near(pixelAt(quarter, 0, 0).red(), 64, 1)) << pixelAt(quarter, 0, 0).red();
    EXPECT_EQ(pixelAt(quarter, 0, 0).alpha(), 255);
    EXPECT_EQ(pixelAt(quarter, 3, 0).alpha(), 0);
}

TEST(ImageDrawing, CompositingBlendsPixelsByOperation)
{
    struct Row {
        CompositingOperation operation;
        QColor image;
        Color background;
        QColor expected;
    };
    const Row rows[] = {
        // Separable, through QPainter: multiply.
        { CompositingOperation::multiply, QColor(128, 128, 128), Color { 1, 0, 0, 1 }, QColor(128, 0, 0) },
        // Non-separable: red takes the grey's luminosity and is brought back into gamut.
        { CompositingOperation::luminosity, QColor(128, 128, 128), Color { 1, 0, 0, 1 },
            QColor(255, 73, 73) },
        // Hue of red on grey: grey's luminosity and saturation (none) leave grey.
        { CompositingOperation::hue, QColor(255, 0, 0), Color { 0.5, 0.5, 0.5, 1 }, QColor(128, 128, 128) },
        // Plus-darker: max(0, S + D − 1) on opaque pixels.
        { CompositingOperation::plusDarker, QColor(153, 153, 153), Color { 0.7, 0.7, 0.7, 1 },
            QColor(77, 77, 77) },
        { CompositingOperation::copy, QColor(10, 20, 30), Color { 1, 1, 1, 1 }, QColor(10, 20, 30) },
    };
    for (const Row& row : rows) {
        const auto result
            = iris::compositedImage(solidImage(4, 4, row.image), row.operation, 1, row.background);
        const QColor pixel = pixelAt(result, 1, 1);
        SCOPED_TRACE(testing::Message()
            << unsigned(row.operation) << ": " << pixel.red() << ' ' << pixel.green() << ' ' << pixel.blue());
        EXPECT_TRUE(near(pixel.red(), row.expected.red(), 2));
        EXPECT_TRUE(near(pixel.green(), row.expected.green(), 2));
        EXPECT_TRUE(near(pixel.blue(), row.expected.blue(), 2));
        EXPECT_EQ(pixel.alpha(), 255);
    }
}

TEST(ImageDrawing, NonSeparableBlendsLeaveTheDestinationWhereNothingIsDrawn)
{
    QImage pixels(2, 1, QImage::Format_ARGB32_Premultiplied);
    pixels.setPixel(0, 0, qRgb(128, 128, 128));
    pixels.setPixel(1, 0, 0);
    const auto result
        = iris::compositedImage(imageFrom(pixels), CompositingOperation::color, 1, Color { 0, 0, 1, 1 });
    EXPECT_EQ(pixelAt(result, 1, 0), QColor(0, 0, 255));

    // Sixteen-bit images blend at their own depth.
    const auto deep
        = iris::compositedImage(imageFrom(pixels.convertToFormat(QImage::Format_RGBA64_Premultiplied)),
            CompositingOperation::color, 1, Color { 0, 0, 1, 1 });
    EXPECT_EQ(deep->bitmap()->bitsPerComponent(), 16);
    EXPECT_EQ(pixelAt(deep, 1, 0), QColor(0, 0, 255));
    const QColor blended = pixelAt(deep, 0, 0);
    EXPECT_TRUE(near(blended.red(), blended.green(), 1)) << blended.red() << ' ' << blended.green();
}

TEST(ImageDrawing, LongStripsAreDrawnLikeAnyOtherImage)
{
    // A strip of one pixel by 100,000 holds few pixels; operations draw it whole.
    for (const Size strip : { Size { 1, 100000 }, Size { 100000, 1 } }) {
        SCOPED_TRACE(testing::Message() << strip.width << " x " << strip.height);
        const auto image = solidImage(int(strip.width), int(strip.height), QColor(0, 0, 255));
        const int farX = int(strip.width) - 1, farY = int(strip.height) - 1;
        EXPECT_TRUE(isOpaqueRed(pixelAt(iris::overlaidImage(image, Color { 1, 0, 0, 1 }, 1e-9), farX, farY)));
        EXPECT_TRUE(isOpaqueRed(pixelAt(iris::tintedImage(image, Color { 1, 0, 0, 1 }), farX, farY)));
        EXPECT_NEAR(
            pixelAt(iris::compositedImage(image, CompositingOperation::copy, 0.5), farX, farY).alphaF(), 0.5,
            0.01);
        const Size doubled { strip.width * 2, strip.height * 2 };
        EXPECT_EQ(iris::resizedImage(image, doubled)->pixelSize(), doubled);
        EXPECT_EQ(iris::resizedImage(image, { strip.width + 0.5, strip.height + 0.5 })->pixelSize(), strip);
    }
}

TEST(ImageDrawing, ContentModesKeepAPixelOfAVeryThinImage)
{
    // Keeping the ratio rounds the short side of these to no pixel at all.
    const auto tall = solidImage(1, 1000, Qt::red);
    const auto wide = solidImage(1000, 1, Qt::red);
    EXPECT_EQ(iris::resizedImageForContentMode(tall, { 100, 100 }, ContentMode::aspectFit)->pixelSize(),
        (Size { 1, 100 }));
    EXPECT_EQ(iris::resizedImageForContentMode(wide, { 100, 100 }, ContentMode::aspectFit)->pixelSize(),
        (Size { 100, 1 }));
    // A target without a whole pixel is still refused.
    EXPECT_EQ(iris::resizedImageForContentMode(tall, { 0.5, 100 }, ContentMode::aspectFit), tall);
}
