#include "platform/graphics/Image.h"
#include "platform/ui/AnimatedImageView.h"
#include "support/TestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

TEST(AnimatedImageView, PlaysItsFramesForTheirLoopsOnlyWhileVisible)
{
    auto frame = [](QColor color) {
        QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
        image.fill(color);
        return platform::ImageFrame { *platform::Bitmap::fromImage(image), 0.02 };
    };
    auto once = platform::Image::createAnimated({ frame(Qt::red), frame(Qt::green), frame(Qt::blue) }, 1);
    platform::AnimatedImageView view;
    view.resize(4, 4);
    view.setImage(once);
    EXPECT_FALSE(view.isAnimating()) << "not visible yet";
    view.show();
    EXPECT_TRUE(view.isAnimating());
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.currentFrameIndex() == 2 && !view.isAnimating(); }));
    EXPECT_EQ(view.currentFrameIndex(), 2) << "one loop ends on the last frame";

    auto looping = platform::Image::createAnimated({ frame(Qt::red), frame(Qt::green) }, 0);
    view.setImage(looping);
    EXPECT_EQ(view.currentFrameIndex(), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.currentFrameIndex() == 1; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.currentFrameIndex() == 0; }));
    view.hide();
    EXPECT_FALSE(view.isAnimating());
    view.show();
    EXPECT_TRUE(view.isAnimating());
}
