#include "ImageSettingTestSupport.h"

#include "Iris/image/Image.h"
#include "Iris/views/AnimatedImageFrames.h"
#include "Iris/views/ImageViewWrapper.h"

#include "platform/graphics/ImageEncoding.h"
#include "platform/ui/AnimationTestSupport.h"

#include <gtest/gtest.h>

using namespace viewtest;
using namespace animationtest;

namespace {

// Red for 0.1 s, green stored with no delay at all, blue for 0.3 s.
QByteArray threeFrameGif()
{
    const std::vector<platform::ImageFrame> frames {
        { solidBitmap(Qt::red, 16, 16), 0.1 },
        { solidBitmap(Qt::green, 16, 16), 0.0 },
        { solidBitmap(Qt::blue, 16, 16), 0.3 },
    };
    return *platform::encodeGif(frames, 0);
}

} // namespace

// A GIF decoded by the library plays frame by frame in the animated view: each frame for its own
// delay (a frame stored with none for a tenth of a second), for exactly the loops asked for.
TEST(AnimatedGif, PlaysFrameByFrameWithItsDelaysAndRepeatCount)
{
    installAnimatedImageFrameSources();
    auto gif = ImageWrapper::decodeImage(threeFrameGif());
    ASSERT_TRUE(gif);
    DrivenAnimatedImageView view;
    view.resize(16, 16);
    view.setRepeatCount(platform::AnimatedImageView::RepeatCount::finite(2));
    view.setImage(gif);
    ASSERT_TRUE(view.animator());
    view.show();
    view.settle();
    const auto& animator = *view.animator();
    ASSERT_EQ(animator.frameCount(), 3);
    EXPECT_DOUBLE_EQ(animator.duration(0), 0.1);
    EXPECT_DOUBLE_EQ(animator.duration(1), 0.1);
    EXPECT_DOUBLE_EQ(animator.duration(2), 0.3);

    // Ticks of 50 ms; the colour shown after each.
    view.link().period = 0.05;
    std::string shown;
    for (int tick = 0; tick < 24; ++tick) {
        view.link().tick();
        view.settle();
        const QColor color = colorOf(animator.currentFrameImage());
        shown += color == QColor(Qt::red) ? 'r'
            : color == QColor(Qt::green)  ? 'g'
            : color == QColor(Qt::blue)   ? 'b'
                                          : '?';
    }
    // Red shows from before the first tick, so only one tick sees it in the first loop. After the
    // second loop the last frame stays.
    EXPECT_EQ(shown,
        "r"
        "gg"
        "bbbbbb"
        "rr"
        "gg"
        "bbbbbbbbbbb");
    EXPECT_TRUE(view.link().isPaused());
    EXPECT_EQ(animator.currentRepeatCount, 2u);

    // Decoded for its first frame alone, the same GIF stays still.
    ImageCreatingOptions firstFrame;
    firstFrame.onlyFirstFrame = true;
    view.setImage(ImageWrapper::decodeImage(threeFrameGif(), firstFrame));
    EXPECT_EQ(view.animator(), nullptr);
}

// An animated view decodes frames as it plays them, so it never asks for every frame up front; a
// plain view does.
TEST(AnimatedGif, OnlyPlainViewsAskForEveryFrameUpFront)
{
    ScopedManager scope;
    platform::ImageView plain;
    platform::AnimatedImageView animated;
    ir(&plain).setImage(sourceNamed("a.gif"));
    ir(&animated).setImage(sourceNamed("a.gif"));
    ASSERT_EQ(scope.manager->calls.size(), 2u);
    EXPECT_TRUE(scope.manager->calls[0].options.preloadAllAnimationData);
    EXPECT_FALSE(scope.manager->calls[1].options.preloadAllAnimationData);
    scope.manager->succeed(1, ImageWrapper::decodeImage(threeFrameGif()));
    EXPECT_TRUE(animated.animator());
    scope.manager->succeed(0, solid(Qt::red));
}
