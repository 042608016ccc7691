#include "multiscreen/MultiScreenSupport.h"

#include "platform/ui/AnimationTestSupport.h"

#include <gtest/gtest.h>

using namespace animationtest;
using platform::AnimatedImageView;

namespace {

struct DecodedFrame {
    int width;
    qint64 pixels;
};

std::vector<DecodedFrame> decodedFrames(const AnimatedImageView::Animator& animator)
{
    std::vector<DecodedFrame> frames;
    for (int i = 0; i < animator.frameCount(); ++i) {
        if (const auto frame = animator.image(i))
            frames.push_back({ frame->width(), frame->image().cacheKey() });
    }
    return frames;
}

std::vector<int> widths(const std::vector<DecodedFrame>& frames)
{
    std::vector<int> values;
    for (const DecodedFrame& frame : frames)
        values.push_back(frame.width);
    return values;
}

} // namespace

// Frames are decoded for the view's pixel size: moved to a denser screen the view decodes them
// again at its new size rather than showing them blurred, moved back it decodes them small again,
// and a move between screens of the same ratio decodes nothing.
TEST(AnimatedImageView, FramesFollowTheRatioOfTheScreenTheViewIsOn)
{
    REQUIRE_TEST_SCREENS();
    QWidget window;
    window.resize(60, 60);
    auto* view = new DrivenAnimatedImageView;
    view->setParent(&window);
    view->setGeometry(0, 0, 10, 10);
    view->setFramePreloadCount(3);
    view->setImage(animation(std::vector<double>(8, 0.05), 40));
    window.show();
    view->settle();
    const AnimatedImageView::Animator& animator = *view->animator();
    EXPECT_EQ(widths(decodedFrames(animator)), std::vector<int>(4, 10));

    screentest::moveTo(&window, "dense");
    view->settle();
    EXPECT_EQ(widths(decodedFrames(animator)), std::vector<int>(4, 20));

    screentest::moveTo(&window, "normal");
    view->settle();
    const std::vector<DecodedFrame> small = decodedFrames(animator);
    EXPECT_EQ(widths(small), std::vector<int>(4, 10));

    screentest::moveTo(&window, "normal-too");
    view->settle();
    const std::vector<DecodedFrame> after = decodedFrames(animator);
    ASSERT_EQ(after.size(), small.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i].pixels, small[i].pixels) << "frame " << i << " was decoded again";
}
