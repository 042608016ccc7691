#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/Image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

using namespace platform;

namespace {

constexpr QRgb red = 0xffff0000, blue = 0xff0000ff;

QRgb at(const QImage& image, int x, int y)
{
    return image.convertToFormat(QImage::Format_ARGB32).pixel(x, y);
}

std::shared_ptr<Image> twoRowImage()
{
    QImage image(1, 2, QImage::Format_ARGB32_Premultiplied);
    image.setPixel(0, 0, red);
    image.setPixel(0, 1, blue);
    return Image::create(*Bitmap::fromImage(image));
}

} // namespace

TEST(GraphicsContext, RefusesSizesItCannotDraw)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    for (const Size size : { Size { nan, 10 }, Size { 10, infinity }, Size { 0, 10 }, Size { -5, 10 },
             Size { 0.5, 10 }, Size { 2e6, 1 }, Size { 20000, 20000 }, Size { 1e300, 1e300 } }) {
        SCOPED_TRACE(std::to_string(size.width) + " x " + std::to_string(size.height));
        EXPECT_FALSE(GraphicsContext::create(size));
    }
    const auto truncated = GraphicsContext::create(Size { 10.7, 3.2 });
    ASSERT_TRUE(truncated);
    EXPECT_EQ(truncated->pixelWidth(), 10);
    EXPECT_EQ(truncated->pixelHeight(), 3);
    EXPECT_EQ(truncated->size(), (Size { 10.7, 3.2 }));
    EXPECT_EQ(at(truncated->pixels(), 0, 0), 0u);

    // The size asked for covers the bitmap: its right half is the bitmap's right half.
    truncated->setFillColor({ 1, 0, 0, 1 });
    truncated->fillRect(Rect(5.35, 0, 5.35, 3.2));
    EXPECT_EQ(at(truncated->pixels(), 4, 0), 0u);
    EXPECT_EQ(at(truncated->pixels(), 5, 0), red);
    EXPECT_EQ(at(truncated->pixels(), 9, 2), red);
}

TEST(GraphicsContext, YUpGeometryLandsAtTheBottom)
{
    const auto context = GraphicsContext::create(Size { 4, 4 });
    ASSERT_TRUE(context);
    context->setFillColor({ 1, 0, 0, 1 });
    context->fillRect(Rect(0, 0, 4, 1));
    EXPECT_EQ(at(context->pixels(), 0, 3), red);
    EXPECT_EQ(at(context->pixels(), 3, 3), red);
    EXPECT_EQ(at(context->pixels(), 0, 0), 0u);

    // An image keeps its top row at the top of the rectangle it is drawn into.
    const auto image = twoRowImage();
    context->drawImage(*image, Rect(0, 0, 4, 4));
    EXPECT_EQ(at(context->pixels(), 1, 0), red);
    EXPECT_EQ(at(context->pixels(), 1, 3), blue);
    context->drawImage(*image, Rect(3, 0, 1, 2));
    EXPECT_EQ(at(context->pixels(), 3, 2), red);
    EXPECT_EQ(at(context->pixels(), 3, 3), blue);
    // A source rectangle in the image's y-up points: the upper half is the red row.
    context->drawImage(*image, Rect(0, 0, 1, 4), Rect(0, 1, 1, 1), CompositingOperation::copy, 1.0);
    EXPECT_EQ(at(context->pixels(), 0, 3), red);

    const auto made = context->makeImage();
    ASSERT_TRUE(made && made->bitmap());
    EXPECT_EQ(made->pixelSize(), (Size { 4, 4 }));
    // The made image is a copy: later drawing leaves it alone.
    context->fillRect(Rect(0, 0, 4, 4));
    EXPECT_EQ(at(made->bitmap()->image(), 1, 0), red);
}

TEST(GraphicsContext, CompositingOperationsAndTheFallbackHook)
{
    const auto drawn = [](CompositingOperation operation, double fraction) {
        const auto context = GraphicsContext::create(Size { 1, 1 });
        context->setFillColor({ 0, 0, 1, 1 });
        context->fillRect(Rect(0, 0, 1, 1));
        QImage half(1, 1, QImage::Format_ARGB32);
        half.setPixel(0, 0, qRgba(255, 0, 0, 128));
        context->drawImage(
            *Image::create(*Bitmap::fromImage(half)), Rect(0, 0, 1, 1), Rect(), operation, fraction);
        return at(context->pixels(), 0, 0);
    };
    const QRgb copied = drawn(CompositingOperation::copy, 1.0);
    EXPECT_NEAR(qAlpha(copied), 128, 1);
    EXPECT_EQ(qBlue(copied), 0);
    const QRgb over = drawn(CompositingOperation::sourceOver, 1.0);
    EXPECT_EQ(qAlpha(over), 255);
    EXPECT_NEAR(qBlue(over), 127, 2);
    EXPECT_NEAR(qRed(over), 128, 2);
    EXPECT_EQ(drawn(CompositingOperation::sourceOver, 0.0), blue);
    EXPECT_EQ(drawn(CompositingOperation::clear, 1.0), 0u);

    // Without a blend of its own, plus-darker composites as source-over; with one, the blend gets
    // the drawing on its own layer.
    EXPECT_EQ(drawn(CompositingOperation::plusDarker, 1.0), over);
    int calls = 0;
    setCompositingFallback(CompositingOperation::plusDarker, [&](QImage& destination, const QImage& source) {
        ++calls;
        EXPECT_EQ(source.size(), destination.size());
        EXPECT_NEAR(qAlpha(source.pixel(0, 0)), 128, 1);
        destination.setPixel(0, 0, 0xff00ff00);
    });
    EXPECT_EQ(drawn(CompositingOperation::plusDarker, 1.0), 0xff00ff00);
    EXPECT_EQ(calls, 1);
    setCompositingFallback(CompositingOperation::plusDarker, {});
    EXPECT_EQ(compositingOperationFromRaw(1000), CompositingOperation::sourceOver);
    EXPECT_EQ(compositingOperationFromRaw(5), CompositingOperation::sourceAtop);
}

TEST(GraphicsContext, AnImagesFractionIsItsOpacityUnderEveryOperation)
{
    // The destination holds opaque blue and half-transparent green side by side.
    const auto drawn = [](CompositingOperation operation, QRgb source, double fraction) {
        const auto context = GraphicsContext::create(Size { 2, 1 });
        context->setFillColor({ 0, 0, 1, 1 });
        context->fillRect(Rect(0, 0, 1, 1));
        context->setFillColor({ 0, 1, 0, 0.5 });
        context->fillRect(Rect(1, 0, 1, 1));
        QImage pixels(2, 1, QImage::Format_ARGB32_Premultiplied);
        pixels.fill(source);
        context->drawImage(
            *Image::create(*Bitmap::fromImage(pixels)), Rect(0, 0, 2, 1), Rect(), operation, fraction);
        return context->pixels().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    // Drawing at a fraction is drawing the image with its pixels scaled by that fraction.
    for (unsigned raw = 0; raw <= 28; ++raw) {
        const QImage faded = drawn(CompositingOperation(raw), qRgba(255, 128, 0, 255), 0.5);
        const QImage prescaled = drawn(CompositingOperation(raw), qPremultiply(qRgba(255, 128, 0, 128)), 1.0);
        for (int x = 0; x < 2; ++x)
            for (const int shift : { 0, 8, 16, 24 })
                EXPECT_NEAR(faded.pixel(x, 0) >> shift & 0xff, prescaled.pixel(x, 0) >> shift & 0xff, 2)
                    << "operation " << raw << ", pixel " << x << ", bits from " << shift;
    }
    // A copy at half opacity leaves the image half transparent, with nothing of the old pixels.
    const QRgb copied = drawn(CompositingOperation::copy, qRgba(255, 0, 0, 255), 0.5).pixel(0, 0);
    EXPECT_NEAR(qAlpha(copied), 128, 1);
    EXPECT_EQ(qBlue(copied), 0);
    // Sixteen-bit images are faded at their own precision.
    const auto deep = GraphicsContext::create(Size { 1, 1 }, 16);
    QImage deepPixels(1, 1, QImage::Format_RGBA64_Premultiplied);
    deepPixels.fill(QColor(255, 0, 0));
    deep->drawImage(*Image::create(*Bitmap::fromImage(deepPixels)), Rect(0, 0, 1, 1), Rect(),
        CompositingOperation::copy, 0.25);
    EXPECT_NEAR(deep->pixels().pixelColor(0, 0).alphaF(), 0.25, 0.001);
}

TEST(GraphicsContext, ClipStrokeAndStateRestore)
{
    const auto context = GraphicsContext::create(Size { 10, 10 });
    // An even-odd ring: the outer square minus the inner one.
    Path ring = Path::rectangle(Rect(0, 0, 10, 10));
    ring.addRect(Rect(3, 3, 4, 4));
    ring.setFillRule(FillRule::evenOdd);
    context->saveState();
    context->clip(ring);
    context->setFillColor({ 1, 0, 0, 1 });
    context->fillRect(Rect(0, 0, 10, 10));
    EXPECT_EQ(at(context->pixels(), 0, 0), red);
    EXPECT_EQ(at(context->pixels(), 5, 5), 0u);
    context->restoreState();
    EXPECT_EQ(context->fillColor(), Color::black());
    context->fillRect(Rect(4, 4, 2, 2));
    EXPECT_EQ(at(context->pixels(), 5, 5), 0xff000000);
    context->restoreState(); // nothing saved: no effect

    context->setStrokeColor({ 0, 0, 1, 1 });
    context->setLineWidth(2);
    context->setLineCap(LineCap::square);
    Path line;
    line.moveTo({ 2, 8 });
    line.lineTo({ 7, 8 });
    context->stroke(line);
    EXPECT_EQ(at(context->pixels(), 1, 1), blue); // y = 8 up is row 1; the square cap reaches x = 1
}

TEST(GraphicsContext, CurrentContextStackIsPerThread)
{
    EXPECT_FALSE(GraphicsContext::current());
    const auto outer = GraphicsContext::create(Size { 2, 2 });
    GraphicsContext::setCurrent(outer);
    outer->setFillColor({ 0, 1, 0, 1 });
    {
        GraphicsStateScope scope;
        EXPECT_EQ(GraphicsContext::graphicsStateDepth(), 1);
        const auto inner = GraphicsContext::create(Size { 2, 2 });
        GraphicsContext::setCurrent(inner);
        outer->setFillColor({ 1, 0, 0, 1 });
        std::thread([] { EXPECT_FALSE(GraphicsContext::current()); }).join();
        EXPECT_EQ(GraphicsContext::current(), inner);
    }
    EXPECT_EQ(GraphicsContext::graphicsStateDepth(), 0);
    EXPECT_EQ(GraphicsContext::current(), outer);
    EXPECT_EQ(outer->fillColor(), (Color { 0, 1, 0, 1 }));
    GraphicsContext::restoreGraphicsState(); // an empty stack: no effect
    EXPECT_EQ(GraphicsContext::current(), outer);
    GraphicsContext::setCurrent(nullptr);
}

TEST(GraphicsContext, DepthFollowsTheReferenceBitmap)
{
    QImage deep(2, 2, QImage::Format_RGBA64);
    deep.fill(Qt::white);
    const Bitmap reference = *Bitmap::fromImage(deep);
    const auto context = GraphicsContext::create(Size { 2, 2 }, &reference);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->bitsPerComponent(), 16);
    const auto made = context->makeImage();
    EXPECT_EQ(made->bitmap()->bitsPerComponent(), 16);
    EXPECT_EQ(GraphicsContext::create(Size { 2, 2 }, nullptr)->bitsPerComponent(), 8);
}

TEST(Image, SizesRepresentationsAndFrames)
{
    const Bitmap wide = *Bitmap::fromImage(QImage(100, 10, QImage::Format_ARGB32_Premultiplied));
    const Bitmap tall = *Bitmap::fromImage(QImage(20, 80, QImage::Format_RGB32));
    const auto both = Image::create({ wide, tall }, 2.0);
    EXPECT_EQ(both->pixelSize(), (Size { 100, 80 }));
    EXPECT_EQ(both->size(), (Size { 50, 40 }));
    EXPECT_EQ(both->bitmap()->width(), 20); // the one with more pixels
    EXPECT_FALSE(Image::create(std::vector<Bitmap> {}));

    const auto empty = Image::createEmpty(Size { 5, 5 });
    EXPECT_EQ(empty->bitmap(), nullptr);
    EXPECT_EQ(empty->pixelSize(), (Size { 0, 0 }));

    const auto animated = Image::createAnimated({ { wide, 0.5 }, { wide, 0.25 } }, 2);
    EXPECT_TRUE(animated->isAnimated());
    EXPECT_DOUBLE_EQ(animated->totalDuration(), 0.75);
    EXPECT_EQ(animated->loopCount(), 2);
    EXPECT_EQ(animated->representations().size(), 1u);

    struct Case {
        QImage::Format format;
        int bitsPerComponent, bitsPerPixel;
        AlphaInfo alpha;
    };
    for (const Case c : { Case { QImage::Format_ARGB32_Premultiplied, 8, 32, AlphaInfo::premultiplied },
             Case { QImage::Format_ARGB32, 8, 32, AlphaInfo::straight },
             Case { QImage::Format_RGB32, 8, 32, AlphaInfo::none },
             Case { QImage::Format_RGBA64_Premultiplied, 16, 64, AlphaInfo::premultiplied },
             Case { QImage::Format_Grayscale8, 8, 8, AlphaInfo::none } }) {
        const Bitmap bitmap = *Bitmap::fromImage(QImage(1, 1, c.format));
        EXPECT_EQ(bitmap.bitsPerComponent(), c.bitsPerComponent) << c.format;
        EXPECT_EQ(bitmap.bitsPerPixel(), c.bitsPerPixel) << c.format;
        EXPECT_EQ(bitmap.alphaInfo(), c.alpha) << c.format;
    }
    EXPECT_FALSE(Bitmap::fromImage(QImage()));
    EXPECT_EQ(wide.cropped(QRect(90, 5, 50, 50))->image().size(), QSize(10, 5));
    EXPECT_FALSE(wide.cropped(QRect(200, 0, 5, 5)));
}

// 16-bit pixels with straight alpha (what 16-bit PNGs with transparency decode to) keep their alpha
// when drawn at their own size into a 16-bit context, whatever the operation; drawn shrunk, too.
TEST(GraphicsContext, StraightSixteenBitPixelsKeepTheirAlpha)
{
    QImage straight(4, 4, QImage::Format_RGBA64);
    straight.fill(QColor(20, 20, 130, 149));
    const Bitmap bitmap = *Bitmap::fromImage(straight);
    const auto image = Image::create(bitmap);
    for (const auto operation : { CompositingOperation::sourceOver, CompositingOperation::copy,
             CompositingOperation::darken, CompositingOperation::plusLighter }) {
        for (const double side : { 4.0, 1.0 }) {
            const auto context = GraphicsContext::create(Size { side, side }, &bitmap);
            ASSERT_TRUE(context);
            ASSERT_EQ(context->bitsPerComponent(), 16);
            context->drawImage(*image, Rect(0, 0, side, side), Rect(), operation, 1.0);
            const QColor drawn = context->pixels().pixelColor(0, 0);
            EXPECT_EQ(drawn.alpha(), 149) << "operation " << unsigned(operation) << " side " << side;
            EXPECT_NEAR(drawn.blue(), 130, 1) << "operation " << unsigned(operation) << " side " << side;
        }
    }
}

// Drawn at a fraction under an operation other than source-over, the pixels are faded first; straight
// 16-bit ones keep their colour and take the fraction once.
TEST(GraphicsContext, AFractionOfStraightSixteenBitPixelsKeepsTheirColour)
{
    QImage straight(4, 4, QImage::Format_RGBA64);
    straight.fill(QColor(200, 100, 50, 128));
    const Bitmap bitmap = *Bitmap::fromImage(straight);
    const auto image = Image::create(bitmap);
    for (const auto operation : { CompositingOperation::copy, CompositingOperation::multiply }) {
        const auto context = GraphicsContext::create(Size { 4, 4 }, &bitmap);
        ASSERT_TRUE(context);
        context->drawImage(*image, Rect(0, 0, 4, 4), Rect(), operation, 0.5);
        const QColor drawn = context->pixels().pixelColor(1, 1);
        EXPECT_EQ(drawn.alpha(), 64) << "operation " << unsigned(operation);
        EXPECT_NEAR(drawn.red(), 200, 2) << "operation " << unsigned(operation);
        EXPECT_NEAR(drawn.green(), 100, 2) << "operation " << unsigned(operation);
        EXPECT_NEAR(drawn.blue(), 50, 2) << "operation " << unsigned(operation);
    }
}
