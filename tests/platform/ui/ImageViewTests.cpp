#include "support/TestSupport.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "platform/ui/ImageView.h"

#include <QPropertyAnimation>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<platform::Image> solid(int width, int height, QColor color)
{
    QImage pixels(width, height, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(color);
    return platform::Image::create(*platform::Bitmap::fromImage(pixels));
}

} // namespace

TEST(ImageView, ShowsTheImageScaledDownToFitAndCentred)
{
    platform::ImageView view;
    view.resize(100, 50);
    view.setImage(solid(40, 40, Qt::red));
    QImage shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(50, 25), QColor(Qt::red));
    EXPECT_NE(shot.pixelColor(5, 25), QColor(Qt::red)); // not stretched to the sides

    view.setImage(solid(400, 100, Qt::blue));
    shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(50, 25), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(2, 25), QColor(Qt::blue)); // 100 x 25 across the whole width
    EXPECT_NE(shot.pixelColor(50, 2), QColor(Qt::blue));
}

TEST(ImageView, PlacesThePictureByItsScaling)
{
    using Scaling = platform::ImageView::ImageScaling;
    const QRectF bounds(0, 0, 100, 50);
    struct Case {
        Scaling scaling;
        QSizeF picture;
        QRectF expected;
    };
    for (const Case& c : {
             Case { Scaling::proportionallyDown, { 40, 40 }, { 30, 5, 40, 40 } },
             Case { Scaling::proportionallyDown, { 400, 100 }, { 0, 12.5, 100, 25 } },
             Case { Scaling::proportionallyUpOrDown, { 20, 20 }, { 25, 0, 50, 50 } },
             Case { Scaling::axesIndependently, { 20, 20 }, bounds },
             Case { Scaling::none, { 400, 100 }, { -150, -25, 400, 100 } },
         })
        EXPECT_EQ(platform::ImageView::placement(c.picture, bounds, c.scaling), c.expected) << int(c.scaling);
}

TEST(ImageView, FadesInLinearlyOverTheGivenTime)
{
    platform::ImageView view;
    view.setImage(solid(4, 4, Qt::red), 0.3);
    QPropertyAnimation* fade = view.fadeAnimation();
    ASSERT_NE(fade, nullptr);
    EXPECT_EQ(fade->duration(), 300);
    EXPECT_EQ(fade->easingCurve().type(), QEasingCurve::Linear);
    EXPECT_TRUE(testsupport::waitUntil([&] { return view.fadeAnimation() == nullptr; }));
    EXPECT_EQ(view.graphicsEffect(), nullptr);

    view.setImage(solid(4, 4, Qt::red), 0);
    EXPECT_EQ(view.fadeAnimation(), nullptr);
}
