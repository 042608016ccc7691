#include "platform/ui/AnimationTestSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QSemaphore>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace animationtest;
using platform::AnimatedImageView;

namespace {

std::vector<int> decodedIndexes(const AnimatedImageView::Animator& animator)
{
    std::vector<int> indexes;
    for (int i = 0; i < animator.frameCount(); ++i) {
        if (animator.image(i))
            indexes.push_back(i);
    }
    return indexes;
}

std::vector<int> range(int first, int last)
{
    std::vector<int> values;
    for (int i = first; i <= last; ++i)
        values.push_back(i);
    return values;
}

// Moves the animation on by one frame of 50 ms.
void advanceOneFrame(DrivenAnimatedImageView& view)
{
    view.link().period = 0.05;
    view.updateFrameIfNeeded();
}

struct Events : platform::AnimatedImageViewDelegate {
    void animatedImageViewDidCompleteLoops(AnimatedImageView&, std::uint64_t loops) override
    {
        log.push_back("loops " + std::to_string(loops));
    }
    void animatedImageViewDidStop(AnimatedImageView&) override { log.push_back("stop"); }
    std::vector<std::string> log;
};

} // namespace

// The first load decodes the frame shown and the next ten; each step drops what falls behind. Steps
// that run late, after the animation has moved on several frames, still leave only the window.
TEST(AnimatedImageView, KeepsAWindowOfDecodedFramesAndNeverMore)
{
    DrivenAnimatedImageView view;
    view.resize(4, 4);
    view.setImage(animation(std::vector<double>(30, 0.05)));
    view.settle();
    const auto& animator = *view.animator();
    EXPECT_EQ(decodedIndexes(animator), range(0, 10));

    for (int i = 0; i < 6; ++i)
        advanceOneFrame(view);
    view.settle();
    EXPECT_EQ(animator.currentFrameIndex(), 6);
    EXPECT_EQ(decodedIndexes(animator), range(6, 16));

    // Hold the queue while the animation moves on 25 frames, so every step runs late.
    QSemaphore held;
    view.preloadQueue()->async([&held] { held.acquire(); });
    for (int i = 0; i < 25; ++i)
        advanceOneFrame(view);
    held.release();
    view.settle();
    EXPECT_EQ(animator.currentFrameIndex(), 1);
    EXPECT_EQ(animator.decodedFrameCount(), 11);
    EXPECT_EQ(decodedIndexes(animator), range(1, 11));

    // Three more loops with the queue running freely: never more than the window.
    int most = 0;
    for (int i = 0; i < 90; ++i) {
        advanceOneFrame(view);
        most = std::max(most, animator.decodedFrameCount());
    }
    view.settle();
    EXPECT_LE(most, 11);
}

TEST(AnimatedImageView, WindowIndexesWrapAndTheCountIsBounded)
{
    struct Case {
        int frames;
        int preload;
        int after;
        std::vector<int> window;
    };
    for (const Case& c : {
             Case { 12, 10, 5, { 6, 7, 8, 9, 10, 11, 0, 1, 2, 3 } },
             Case { 30, 10, 5, range(6, 15) },
             Case { 5, -3, 4, { 0 } }, // a preload count below 1 counts as 1
             Case { 5, 0, 0, { 1 } },
         }) {
        DrivenAnimatedImageView view;
        view.setFramePreloadCount(c.preload);
        view.setImage(animation(std::vector<double>(std::size_t(c.frames), 0.05)));
        EXPECT_EQ(view.animator()->preloadIndexes(c.after), c.window) << c.frames << " frames, " << c.preload;
        view.settle();
    }

    // A window as long as the animation decodes every frame once and drops none.
    DrivenAnimatedImageView view;
    view.setFramePreloadCount(29);
    view.setImage(animation(std::vector<double>(30, 0.05)));
    for (int i = 0; i < 40; ++i)
        advanceOneFrame(view);
    view.settle();
    EXPECT_EQ(view.animator()->decodedFrameCount(), 30);
}

// Loops are counted on reaching the last frame; the last frame stays and the next refresh stops.
TEST(AnimatedImageView, RepeatCountIsHonouredExactly)
{
    using RepeatCount = AnimatedImageView::RepeatCount;
    struct Case {
        RepeatCount count;
        int frames;
        std::vector<int> shown;
        std::vector<std::string> events;
    };
    for (const Case& c : {
             Case { RepeatCount::finite(2), 3, { 1, 2, 0, 1, 2, 2, 2 }, { "loops 1", "loops 2", "stop" } },
             Case { RepeatCount::once(), 3, { 1, 2, 2, 2 }, { "loops 1", "stop" } },
             Case { RepeatCount::finite(1), 1, { 0, 0, 0 }, { "loops 1", "stop" } },
             Case { RepeatCount::infinite(), 1, { 0, 0, 0, 0 }, {} },
         }) {
        DrivenAnimatedImageView view;
        auto events = std::make_shared<Events>();
        view.setDelegate(events);
        view.setRepeatCount(c.count);
        view.resize(4, 4);
        view.setImage(animation(std::vector<double>(std::size_t(c.frames), 0.05)));
        view.show();
        view.settle();
        ASSERT_FALSE(view.link().isPaused());
        view.link().period = 0.05;
        std::vector<int> shown;
        for (std::size_t i = 0; i < c.shown.size(); ++i) {
            view.link().tick();
            shown.push_back(view.animator()->currentFrameIndex());
        }
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(events->log, c.events);
        EXPECT_EQ(view.link().isPaused(), !c.events.empty());
        if (!c.events.empty()) {
            view.startAnimating();
            EXPECT_TRUE(view.link().isPaused()) << "a spent budget does not start again";
        }
    }

    // `once` is `finite(1)`: setting one over the other keeps the animation where it is.
    DrivenAnimatedImageView view;
    view.setRepeatCount(RepeatCount::finite(1));
    view.setImage(animation({ 0.05, 0.05 }));
    const auto animator = view.animator();
    view.setRepeatCount(RepeatCount::once());
    EXPECT_EQ(view.animator(), animator);
    view.setRepeatCount(RepeatCount::finite(2));
    EXPECT_NE(view.animator(), animator);
    view.settle();
}

// A delegate may let the view go when it hears of a loop or of the stop: the refresh that told it
// touches the view no more.
TEST(AnimatedImageView, ADelegateMayDestroyTheViewWhenALoopEndsOrPlayStops)
{
    struct Remover : platform::AnimatedImageViewDelegate {
        AnimatedImageView* view = nullptr;
        bool atStop = false;
        void animatedImageViewDidCompleteLoops(AnimatedImageView& played, std::uint64_t) override
        {
            if (!atStop)
                remove(played);
        }
        void animatedImageViewDidStop(AnimatedImageView& played) override
        {
            if (atStop)
                remove(played);
        }
        void remove(AnimatedImageView& played)
        {
            EXPECT_EQ(&played, view);
            view = nullptr;
            delete &played;
        }
    };
    for (bool atStop : { false, true }) {
        SCOPED_TRACE(atStop ? "at the stop" : "at the first loop");
        QWidget window;
        auto* view = new DrivenAnimatedImageView;
        view->setParent(&window);
        auto remover = std::make_shared<Remover>();
        remover->view = view;
        remover->atStop = atStop;
        view->setDelegate(remover);
        view->setRepeatCount(AnimatedImageView::RepeatCount::finite(3));
        view->resize(4, 4);
        view->setImage(animation({ 0.05, 0.05, 0.05 }));
        window.show();
        view->settle();
        ManualDisplayLink& link = view->link();
        link.period = 0.05;
        const std::shared_ptr<platform::DisplayLinkTarget> target = link.target;
        for (int refresh = 0; refresh < 20 && remover->view; ++refresh)
            target->onScreenUpdate();
        EXPECT_EQ(remover->view, nullptr);
        EXPECT_TRUE(window.findChildren<AnimatedImageView*>().isEmpty());
        QCoreApplication::processEvents();
    }
}

// GIFs often claim no time per frame; played as stated they would race at the refresh rate.
TEST(AnimatedImageView, FramesThatClaimNoTimeShowForATenthOfASecond)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    DrivenAnimatedImageView view;
    view.setImage(animation({ 0, 0.005, 0.011, 0.02, nan, -1, 1.5 }));
    view.settle();
    const auto& animator = *view.animator();
    const std::vector<double> expected { 0.1, 0.1, 0.1, 0.02, 0.1, 0.1, 1.5 };
    for (int i = 0; i < 7; ++i)
        EXPECT_DOUBLE_EQ(animator.duration(i), expected[std::size_t(i)]) << i;
    EXPECT_TRUE(std::isinf(animator.duration(7)));

    // A refresh of 2 s (a stalled display) moves one frame per refresh, by at most a second.
    view.link().period = 2.0;
    view.updateFrameIfNeeded();
    EXPECT_EQ(animator.currentFrameIndex(), 1);
    EXPECT_DOUBLE_EQ(view.animator()->timeSinceLastFrameChange, 0.9);
    view.updateFrameIfNeeded();
    EXPECT_EQ(animator.currentFrameIndex(), 2);
    view.settle();
}

TEST(AnimatedImageView, PlaysWhileOnScreenAndKeepsPlayingTheSameImage)
{
    QWidget window;
    window.resize(40, 40);
    auto* view = new DrivenAnimatedImageView;
    auto picture = animation({ 0.05, 0.05, 0.05 });
    view->setImage(picture);
    EXPECT_FALSE(view->isDisplayLinkInitialized() && !view->link().isPaused()) << "not on screen";

    view->setParent(&window);
    window.show();
    EXPECT_FALSE(view->link().isPaused());
    EXPECT_TRUE(view->animates());
    view->setHighlighted(true);
    EXPECT_FALSE(view->isHighlighted()) << "ignored while playing";

    const auto animator = view->animator();
    view->settle();
    view->link().tick();
    view->link().period = 0.05;
    view->link().tick();
    view->setImage(picture);
    EXPECT_EQ(view->animator(), animator);
    EXPECT_EQ(animator->currentFrameIndex(), 1);

    view->hide();
    EXPECT_TRUE(view->link().isPaused());
    view->setHighlighted(true);
    EXPECT_TRUE(view->isHighlighted());
    view->show();
    EXPECT_FALSE(view->link().isPaused());
    view->setParent(nullptr);
    EXPECT_TRUE(view->link().isPaused()) << "taken out of its window";

    // A still image has nothing to play and is drawn as the plain image view draws it.
    view->setImage(platform::Image::create(solidBitmap(Qt::red)));
    EXPECT_EQ(view->animator(), nullptr);
    view->settle();
    delete view;

    // A view that never plays makes neither a display link nor a decoding queue.
    AnimatedImageView still;
    still.setImage(platform::Image::create(solidBitmap(Qt::red)));
    still.show();
    EXPECT_FALSE(still.isDisplayLinkInitialized());
}

// A link left running with nothing to play would wake the program every refresh for good.
TEST(AnimatedImageView, AnImageWithNothingToPlayStopsTheDisplayLink)
{
    QWidget window;
    auto* view = new DrivenAnimatedImageView;
    view->setParent(&window);
    window.show();
    for (const auto& replacement :
        { platform::Image::create(solidBitmap(Qt::red)), std::shared_ptr<platform::Image>() }) {
        view->setImage(animation({ 0.05, 0.05 }));
        ASSERT_FALSE(view->link().isPaused());
        view->setImage(replacement);
        EXPECT_TRUE(view->link().isPaused()) << (replacement ? "a still image" : "no image");
    }
    view->settle();
}

// Scrolled out of sight, the view stops at the next frame due, decoding and drawing nothing, and
// plays on once it is drawn again; one stopped on purpose stays stopped.
TEST(AnimatedImageView, OutOfSightItWaitsToBeSeenBeforePlayingOn)
{
    QScrollArea area;
    area.resize(60, 60);
    auto* content = new QWidget;
    content->resize(40, 600);
    auto* view = new DrivenAnimatedImageView;
    view->setParent(content);
    view->setGeometry(0, 570, 20, 20);
    area.setWidget(content);
    view->setFramePreloadCount(2);
    view->setImage(animation(std::vector<double>(12, 0.05)));
    area.show();
    view->settle();
    advanceOneFrame(*view);
    view->link().tick();
    view->settle();
    EXPECT_TRUE(view->link().isPaused());
    EXPECT_EQ(decodedIndexes(*view->animator()), range(0, 2));

    area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !view->link().isPaused(); }));
    advanceOneFrame(*view);
    EXPECT_EQ(view->animator()->currentFrameIndex(), 1);
    view->stopAnimating();
    view->repaint();
    EXPECT_TRUE(view->link().isPaused());
    view->settle();
}

// The real display link ticks under the offscreen platform too; the view shows each frame.
TEST(AnimatedImageView, PlaysOnTheScreensDisplayLink)
{
    AnimatedImageView view;
    view.resize(8, 8);
    view.setImage(animation({ 0.02, 0.02, 0.02 }, 8));
    view.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.animator()->currentFrameIndex() == 2; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.animator()->currentFrameIndex() == 0; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.animator()->currentFrameIndex() == 1; }));
    view.stopAnimating();
    view.preloadQueue()->sync([] {});
    const QImage shot = view.grab().toImage();
    EXPECT_EQ(shot.pixelColor(4, 4).rgb(), frameColor(1).rgb());
}

// A new view starts with the library's values and makes its queue and display link only when they
// are first asked for; each view has a queue of its own under the library's label.
TEST(AnimatedImageView, StartingValuesAndQueueMadeOnFirstRead)
{
    AnimatedImageView view, other;
    EXPECT_TRUE(view.autoPlayAnimatedImage());
    EXPECT_EQ(view.framePreloadCount(), 10);
    EXPECT_TRUE(view.needsPrescaling());
    EXPECT_TRUE(view.backgroundDecode());
    EXPECT_EQ(view.runLoopMode(), platform::commonRunLoopModes);
    EXPECT_EQ(view.repeatCount(), AnimatedImageView::RepeatCount::infinite());
    EXPECT_FALSE(view.animator());
    EXPECT_FALSE(view.currentFrame());
    EXPECT_FALSE(view.isDisplayLinkInitialized());

    const auto queue = view.preloadQueue();
    EXPECT_EQ(view.preloadQueue(), queue);
    EXPECT_EQ(queue->label(), "org.tindrel.Iris.Animator.preloadQueue");
    EXPECT_NE(other.preloadQueue(), queue);
    EXPECT_EQ(other.preloadQueue()->label(), queue->label());
    EXPECT_FALSE(view.isDisplayLinkInitialized()) << "the queue does not make the display link";
    view.displayLink();
    EXPECT_TRUE(view.isDisplayLinkInitialized());
}

// Frames are decoded for the view's pixel size. A view that grows after its image was set (a layout
// giving it its place, a window resized) gets frames at its new size, not the old ones drawn small;
// while it is being resized only the last size is decoded for.
TEST(AnimatedImageView, FramesFollowTheViewsSizeWhenItChanges)
{
    const auto widthsOfDecodedFrames = [](const AnimatedImageView::Animator& animator) {
        std::vector<int> widths;
        for (int i = 0; i < animator.frameCount(); ++i) {
            if (const auto frame = animator.image(i))
                widths.push_back(frame->width());
        }
        return widths;
    };
    QWidget window;
    window.resize(60, 60);
    auto* view = new DrivenAnimatedImageView;
    view->setParent(&window);
    view->setGeometry(0, 0, 10, 10);
    view->setFramePreloadCount(3);
    view->setImage(animation(std::vector<double>(8, 0.05), 40));
    window.show();
    view->settle();
    const auto& animator = *view->animator();
    EXPECT_EQ(widthsOfDecodedFrames(animator), std::vector<int>(4, 10));

    advanceOneFrame(*view);
    QSemaphore held;
    view->preloadQueue()->async([&held] { held.acquire(); });
    for (int side : { 20, 30, 40 })
        view->resize(side, side);
    held.release();
    view->settle();
    EXPECT_EQ(widthsOfDecodedFrames(animator), std::vector<int>(4, 40));
    EXPECT_EQ(decodedIndexes(animator), range(1, 4));
    EXPECT_EQ(colorOf(animator.currentFrameImage()).rgb(), frameColor(1).rgb());
}

// The delegate hears of the stop exactly once, also when the animation finished just before the view
// went out of sight: the stop is told when the view is shown again.
TEST(AnimatedImageView, TheStopIsToldOnceEvenWhenTheLastLoopEndsOutOfSight)
{
    for (bool hiddenAtTheEnd : { false, true }) {
        SCOPED_TRACE(hiddenAtTheEnd ? "hidden at the end" : "on screen");
        QWidget window;
        auto* view = new DrivenAnimatedImageView;
        view->setParent(&window);
        auto events = std::make_shared<Events>();
        view->setDelegate(events);
        view->setRepeatCount(AnimatedImageView::RepeatCount::once());
        view->resize(4, 4);
        view->setImage(animation({ 0.05, 0.05 }));
        window.show();
        view->settle();
        advanceOneFrame(*view);
        ASSERT_TRUE(view->animator()->isFinished);
        if (hiddenAtTheEnd) {
            view->hide();
            EXPECT_TRUE(view->link().isPaused());
            view->show();
        }
        EXPECT_FALSE(view->link().isPaused());
        view->link().tick();
        // A refresh that was already on its way when the link stopped.
        view->updateFrameIfNeeded();
        EXPECT_EQ(events->log, (std::vector<std::string> { "loops 1", "stop" }));
        EXPECT_TRUE(view->link().isPaused());
        view->startAnimating();
        EXPECT_TRUE(view->link().isPaused()) << "a spent budget does not start again";
        view->settle();
    }
}

// When decoding falls behind the animation (frames slower to decode than to show), the steps queued
// meanwhile are not worked through one by one, which would leave the queue further behind for as
// long as the animation plays: the newest decodes the frame on show and its window.
TEST(AnimatedImageView, DecodingThatFallsBehindCatchesUpWithTheNewestFrame)
{
    struct CountingSource : platform::AnimationFrameSource {
        int frameCount() const override { return 40; }
        std::optional<platform::Bitmap> frame(int index, std::optional<platform::Size>) const override
        {
            ++decodes;
            return solidBitmap(frameColor(index));
        }
        double frameDuration(int) const override { return 0.05; }
        mutable std::atomic<int> decodes { 0 };
    };
    auto source = std::make_shared<CountingSource>();
    const auto queue = platform::DispatchQueue::makeSerial("test.preload");
    const auto animator = std::make_shared<AnimatedImageView::Animator>(platform::Size {},
        platform::Size { 4, 4 }, 1.0, 10, source, AnimatedImageView::RepeatCount::infinite(),
        platform::ImageView::ImageScaling::none, queue);
    animator->prepareFramesAsynchronously();
    queue->sync([] {});
    EXPECT_EQ(source->decodes, 11);

    QSemaphore held;
    queue->async([&held] { held.acquire(); });
    for (int i = 0; i < 25; ++i)
        animator->advanceFrame();
    held.release();
    queue->sync([] {});
    EXPECT_EQ(decodedIndexes(*animator), range(25, 35));
    EXPECT_EQ(source->decodes, 11 + 11);
}

// A minimised window's widgets stay visible, so a new image arriving there must not start playback;
// nor may a view started by hand play on while hidden or before it was ever shown. Each rests on the
// next refresh and plays on when shown again; one stopped by hand stays stopped, even after a
// refresh that was on its way.
TEST(AnimatedImageView, RestsWhileMinimisedHiddenOrNeverShown)
{
    struct Painted : DrivenAnimatedImageView {
        void paintEvent(QPaintEvent* event) override
        {
            ++paints;
            DrivenAnimatedImageView::paintEvent(event);
        }
        int paints = 0;
    };
    QWidget window;
    window.resize(20, 20);
    auto* view = new Painted;
    view->setParent(&window);
    view->resize(4, 4);
    view->setImage(animation({ 0.05, 0.05, 0.05 }));
    window.show();
    view->settle();
    window.setWindowState(Qt::WindowMinimized);
    view->setImage(animation({ 0.05, 0.05 }));
    EXPECT_TRUE(view->link().isPaused()) << "a new image while minimised";
    window.setWindowState(Qt::WindowNoState);
    EXPECT_FALSE(view->link().isPaused()) << "restored";

    view->setAutoPlayAnimatedImage(false);
    window.hide();
    view->setAnimates(true);
    view->settle();
    view->link().period = 0.05;
    view->link().tick();
    EXPECT_TRUE(view->link().isPaused()) << "started by hand, then hidden";
    EXPECT_EQ(view->animator()->currentFrameIndex(), 0);
    window.show();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !view->link().isPaused(); })) << "shown again";

    view->setAnimates(false);
    window.hide();
    view->link().target->onScreenUpdate();
    view->paints = 0;
    window.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return view->paints > 0; }));
    EXPECT_TRUE(view->link().isPaused()) << "stopped by hand, after a late refresh";
    view->settle();

    DrivenAnimatedImageView never;
    never.setImage(animation({ 0.05, 0.05, 0.05 }));
    never.settle();
    never.setAnimates(true);
    never.link().period = 0.05;
    never.link().tick();
    EXPECT_TRUE(never.link().isPaused()) << "never shown";
    EXPECT_EQ(never.animator()->currentFrameIndex(), 0);
    never.settle();
}
