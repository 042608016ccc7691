#include "multiscreen/MultiScreenSupport.h"

#include "platform/ui/AnimationTestSupport.h"

#include <gtest/gtest.h>

// Frames are decoded for the view's pixel size: on a denser screen they are decoded again at the new
// size rather than shown blurred, and a move between screens of the same ratio decodes nothing.
TEST(AnimatedImageView, FramesFollowTheRatioOfTheScreenTheViewIsOn)
{
    REQUIRE_TEST_SCREENS();
    QWidget window;
    auto* view = new animationtest::DrivenAnimatedImageView;
    view->setParent(&window);
    view->setGeometry(0, 0, 10, 10);
    view->setFramePreloadCount(3);
    view->setImage(animationtest::animation(std::vector<double>(8, 0.05), 40));
    window.show();
    const auto decoded = [&] {
        view->settle();
        std::vector<std::pair<int, qint64>> frames;
        for (int i = 0; i < view->animator()->frameCount(); ++i) {
            if (const auto frame = view->animator()->image(i))
                frames.emplace_back(frame->width(), frame->image().cacheKey());
        }
        return frames;
    };
    EXPECT_EQ(decoded().front().first, 10);
    moveTo(&window, "second");
    const auto dense = decoded();
    EXPECT_EQ(dense.size(), 4u);
    for (const auto& frame : dense)
        EXPECT_EQ(frame.first, 20);
    moveTo(&window, "third");
    const auto normal = decoded();
    EXPECT_EQ(normal.front().first, 10);
    moveTo(&window, "first");
    EXPECT_EQ(decoded(), normal) << "decoded again for the same ratio";
}
