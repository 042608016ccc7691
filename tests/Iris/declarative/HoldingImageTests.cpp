#include "Iris/declarative/HoldingImage.h"
#include "platform/graphics/Image.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace iris;

namespace {

QImage paint(const HoldingImage& view, QSize frame)
{
    QImage canvas(frame, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    view.paint(painter, QRectF(QPointF(), QSizeF(frame)), Qt::black);
    painter.end();
    return canvas;
}

std::shared_ptr<platform::Image> imageOf(QImage image)
{
    return platform::Image::create(*platform::Bitmap::fromImage(std::move(image)));
}

QColor at(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

} // namespace

TEST(HoldingImage, CapInsetsKeepTheBordersAndTilingRepeatsInsteadOfStretching)
{
    // A 6-point square: a 2-point blue border around red.
    QImage framed(6, 6, QImage::Format_ARGB32_Premultiplied);
    framed.fill(Qt::blue);
    QPainter(&framed).fillRect(2, 2, 2, 2, Qt::red);
    const HoldingImage picture(imageOf(framed));

    const QImage insets
        = paint(picture.resizable({ 2, 2, 2, 2 }, HoldingImage::ResizingMode::stretch), { 60, 60 });
    EXPECT_EQ(at(insets, 1, 1), QColor(Qt::blue));
    EXPECT_EQ(at(insets, 8, 30), QColor(Qt::red)) << "the border stays 2 points wide";
    EXPECT_EQ(at(insets, 58, 30), QColor(Qt::blue));
    const QImage plain = paint(picture.resizable(), { 60, 60 });
    EXPECT_EQ(at(plain, 8, 30), QColor(Qt::blue)) << "without insets the border stretches";

    // Left half red, right half green, 10 points wide.
    QImage halves(10, 10, QImage::Format_ARGB32_Premultiplied);
    halves.fill(Qt::green);
    QPainter(&halves).fillRect(0, 0, 5, 10, Qt::red);
    const HoldingImage split(imageOf(halves));
    EXPECT_EQ(at(paint(split.resizable({}, HoldingImage::ResizingMode::tile), { 40, 10 }), 15, 5),
        QColor(Qt::green));
    EXPECT_EQ(at(paint(split.resizable(), { 40, 10 }), 15, 5), QColor(Qt::red));
}

TEST(HoldingImage, ATemplateImageIsDrawnInTheForegroundColour)
{
    QImage shape(4, 4, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    QPainter(&shape).fillRect(0, 0, 4, 2, Qt::red);
    const auto view = HoldingImage(imageOf(shape))
                          .resizable()
                          .renderingMode(HoldingImage::TemplateRenderingMode::template_);
    const QImage drawn = paint(view, { 40, 40 });
    EXPECT_EQ(at(drawn, 20, 5), QColor(Qt::black));
    EXPECT_EQ(at(drawn, 20, 35), QColor(Qt::white)) << "transparent parts stay clear";
}

// A photo shown far smaller than it is (a cover on its card) is averaged down, not sampled: fine
// stripes become an even grey instead of a moiré of black and white, on a screen of any density.
TEST(HoldingImage, AnImageShrunkALongWayIsAveragedNotSampled)
{
    QImage stripes(1320, 880, QImage::Format_RGB32);
    for (int x = 0; x < stripes.width(); ++x) {
        const QRgb colour = x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        for (int y = 0; y < stripes.height(); ++y)
            stripes.setPixel(x, y, colour);
    }
    const HoldingImage view = HoldingImage(imageOf(stripes)).resizable();
    for (const double ratio : { 1.0, 2.0 }) {
        QImage canvas(QSize(120, 80) * ratio, QImage::Format_ARGB32_Premultiplied);
        canvas.setDevicePixelRatio(ratio);
        canvas.fill(Qt::red);
        QPainter painter(&canvas);
        view.paint(painter, QRectF(0, 0, 120, 80), Qt::black);
        painter.end();
        for (int x = 0; x < canvas.width(); ++x)
            ASSERT_NEAR(qGray(canvas.pixel(x, canvas.height() / 2)), 128, 24)
                << "at " << x << ", ratio " << ratio;
    }
}
