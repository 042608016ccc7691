#include "platform/graphics/Image.h"
#include "platform/ui/Button.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

std::shared_ptr<platform::Image> solid(QColor color)
{
    QImage pixels(12, 12, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(color);
    return platform::Image::create(*platform::Bitmap::fromImage(pixels));
}

} // namespace

TEST(Button, ShowsItsAlternateImageWhileCheckedAndDrawsIt)
{
    platform::Button button;
    button.setCheckable(true);
    const auto image = solid(Qt::red), alternate = solid(Qt::blue);
    button.setImage(image);
    EXPECT_EQ(button.shownImage(), image);
    button.setChecked(true);
    EXPECT_EQ(button.shownImage(), image) << "no alternate image: the image";
    button.setAlternateImage(alternate);
    EXPECT_EQ(button.shownImage(), alternate);
    button.resize(button.sizeHint());
    EXPECT_GE(button.sizeHint().width(), 12);
    const QImage shot = button.grab().toImage();
    EXPECT_EQ(shot.pixelColor(shot.rect().center()).rgb(), QColor(Qt::blue).rgb());
    button.setChecked(false);
    EXPECT_EQ(button.shownImage(), image);
}
