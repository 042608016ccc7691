#pragma once

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/DisplayLink.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/SafeArray.h"

#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

class DispatchQueue;
class Image;

// The frames of an animation, decoded on demand. Asked from the view's decoding queue, so it must be
// safe to use from another thread than the one that made it.
class AnimationFrameSource {
public:
    virtual ~AnimationFrameSource() = default;

    virtual int frameCount() const = 0;
    // At most `maxSize` pixels when one is given; nothing when the frame cannot be made.
    virtual std::optional<Bitmap> frame(int index, std::optional<Size> maxSize) const = 0;
    // Seconds, as the source states it.
    virtual double frameDuration(int index) const = 0;
};

class AnimatedImageView;

// Told of an animated image view's loops, on the main thread.
class AnimatedImageViewDelegate {
public:
    virtual ~AnimatedImageViewDelegate() = default;
    virtual void animatedImageViewDidCompleteLoops(AnimatedImageView& view, std::uint64_t loopCount) = 0;
    virtual void animatedImageViewDidStop(AnimatedImageView& view) = 0;
};

// An image view that plays animated images frame by frame, once per screen refresh. It never decodes
// a whole animation: it keeps the frame shown and the `framePreloadCount` frames after it, decodes
// them on a serial queue of its own and drops each frame it leaves. A still image, or an image whose
// frames it cannot find, is shown as the plain image view shows it. Playback runs while the view is
// visible (with `autoPlayAnimatedImage`) and for `repeatCount` loops; a view scrolled out of sight,
// hidden or in a minimised window rests until it is shown or drawn again. Main thread only.
class AnimatedImageView : public ImageView {
public:
    // How many loops to play.
    class RepeatCount {
    public:
        enum class Kind { finite, once, infinite };

        static RepeatCount finite(std::uint64_t count) { return RepeatCount(Kind::finite, count); }
        static RepeatCount once() { return RepeatCount(Kind::once, 1); }
        static RepeatCount infinite() { return RepeatCount(Kind::infinite, 0); }

        Kind kind() const { return m_kind; }
        std::uint64_t count() const { return m_count; }
        // Whether `loopsPlayed` uses the whole budget.
        bool isSpent(std::uint64_t loopsPlayed) const;
        // `once` equals `finite(1)`.
        bool operator==(const RepeatCount& other) const;

    private:
        RepeatCount(Kind kind, std::uint64_t count)
            : m_kind(kind)
            , m_count(count)
        {
        }

        Kind m_kind;
        std::uint64_t m_count;
    };

    // A frame of the animation: its duration always, its pixels while it is decoded.
    struct AnimatedFrame {
        std::optional<Bitmap> image;
        double duration = 0;
    };

    class Animator;

    // Told of an animator's completed loops, on the main thread.
    class AnimatorDelegate {
    public:
        virtual ~AnimatorDelegate() = default;
        virtual void animatorDidCompleteLoops(Animator& animator, std::uint64_t loopCount) = 0;
    };

    // Stands between the display link, which keeps its target, and the view, which it does not keep.
    class TargetProxy final : public DisplayLinkTarget {
    public:
        explicit TargetProxy(AnimatedImageView* target)
            : m_target(target)
        {
        }
        void onScreenUpdate() override;

    private:
        QPointer<AnimatedImageView> m_target;
    };

    // Where a view finds the frames of an image. A library that attaches frame sources to the images
    // it makes registers its lookup; images made with Image::createAnimated play their own frames
    // without one.
    using FrameSourceLookup
        = std::function<std::shared_ptr<AnimationFrameSource>(const std::shared_ptr<Image>&)>;
    static void setFrameSourceLookup(FrameSourceLookup lookup);
    // The frames of `image`, or null for a still image.
    static std::shared_ptr<AnimationFrameSource> frameSource(const std::shared_ptr<Image>& image);

    // How firmly the view keeps its image's size when a layout squeezes it. Below `defaultPriority`
    // it may be squeezed to nothing along that axis.
    static constexpr float defaultPriority = 750;
    static constexpr float lowPriority = 250;

    explicit AnimatedImageView(QWidget* parent = nullptr);
    ~AnimatedImageView() override;

    bool autoPlayAnimatedImage() const { return m_autoPlayAnimatedImage; }
    void setAutoPlayAnimatedImage(bool autoPlay) { m_autoPlayAnimatedImage = autoPlay; }
    // Frames decoded ahead of the one shown; takes effect with the next image. Below 1 counts as 1.
    int framePreloadCount() const { return m_framePreloadCount; }
    void setFramePreloadCount(int count) { m_framePreloadCount = count; }
    // Whether frames are decoded no larger than the view's pixel size; takes effect with the next image.
    bool needsPrescaling() const { return m_needsPrescaling; }
    void setNeedsPrescaling(bool prescale) { m_needsPrescaling = prescale; }
    // Kept for callers that set it; decoding always runs off the main thread.
    bool backgroundDecode() const { return m_backgroundDecode; }
    void setBackgroundDecode(bool background) { m_backgroundDecode = background; }
    const RunLoopMode& runLoopMode() const { return m_runLoopMode; }
    // Re-registers the display link in the new mode and restarts playback.
    void setRunLoopMode(const RunLoopMode& mode);
    RepeatCount repeatCount() const { return m_repeatCount; }
    // A different count starts the animation again from its first frame.
    void setRepeatCount(RepeatCount count);
    std::shared_ptr<AnimatedImageViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(std::weak_ptr<AnimatedImageViewDelegate> delegate) { m_delegate = std::move(delegate); }

    const std::shared_ptr<Animator>& animator() const { return m_animator; }
    // Made on first use.
    const std::shared_ptr<DispatchQueue>& preloadQueue();
    DisplayLinkCompatible& displayLink();
    bool isDisplayLinkInitialized() const { return m_displayLink != nullptr; }
    // The picture last drawn.
    const std::optional<Bitmap>& currentFrame() const { return m_currentFrame; }

    // Plays from where the animation stands, unless there is nothing to play or its loops are spent
    // (then it runs only for the refresh that tells the delegate of the stop, if that is still owed).
    void startAnimating();
    void stopAnimating();
    // Builds the animator for the current image and applies the play rule.
    void resetAnimator();
    // One refresh: advances at most one frame, by the link's refresh period (at most a second).
    void updateFrameIfNeeded();

    // A different image starts a new animation; the same image again keeps playing.
    void setImage(std::shared_ptr<Image> image) override;
    using ImageView::setImage;
    bool animates() const override;
    void setAnimates(bool animates) override;
    // Ignored while the animation runs.
    void setHighlighted(bool highlighted) override;
    bool shouldPreloadAllAnimation() const override { return false; }

    void setContentCompressionResistancePriority(float priority, Qt::Orientation orientation);
    float contentCompressionResistancePriority(Qt::Orientation orientation) const;
    QSize minimumSizeHint() const override;

protected:
    // The refresh source; a test may drive the view with one of its own.
    virtual std::unique_ptr<DisplayLinkCompatible> makeDisplayLink(std::shared_ptr<DisplayLinkTarget> target);

    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class Forwarder;

    void applyPlayRule(bool onScreen);
    void animatorDidCompleteLoops(std::uint64_t loopCount);
    // Shown and not in a minimised window, whose widgets get a hide event yet stay visible.
    bool isOnScreen() const { return m_shown && isVisible(); }
    // A refresh from the display link.
    void screenUpdated();

    bool m_autoPlayAnimatedImage = true;
    int m_framePreloadCount = 10;
    bool m_needsPrescaling = true;
    bool m_backgroundDecode = true;
    RunLoopMode m_runLoopMode = commonRunLoopModes;
    RepeatCount m_repeatCount = RepeatCount::infinite();
    std::weak_ptr<AnimatedImageViewDelegate> m_delegate;

    std::shared_ptr<Animator> m_animator;
    std::unique_ptr<Forwarder> m_forwarder;
    std::shared_ptr<DispatchQueue> m_preloadQueue;
    std::unique_ptr<DisplayLinkCompatible> m_displayLink;
    std::optional<Bitmap> m_currentFrame;
    // Paused while out of sight; the next paint plays on.
    bool m_waitsToBeSeen = false;
    // Between a show event and a hide event.
    bool m_shown = false;
    float m_horizontalResistance = defaultPriority;
    float m_verticalResistance = defaultPriority;
};

// Plays one animation: keeps its frames' durations and a sliding window of decoded frames, and
// counts loops. Its timing fields belong to the main thread; the frames are decoded on the preload
// queue and shared through a locked array.
class AnimatedImageView::Animator : public std::enable_shared_from_this<Animator> {
public:
    // `maxFrameCount` below 1 counts as 1.
    Animator(Size size, Size imageSize, double imageScale, int maxFrameCount,
        std::shared_ptr<AnimationFrameSource> frameSource, RepeatCount maxRepeatCount,
        ImageScaling contentMode, std::shared_ptr<DispatchQueue> preloadQueue);

    // The largest frame to decode when prescaling: the view's pixel size.
    Size size() const;
    // Follows the view's new pixel size (main thread). When that changes what a frame decodes to, the
    // frames shown next are decoded again at the new size, so a view that grows does not go on
    // showing frames made for its old size.
    void setSize(Size size);
    const Size imageSize;
    const double imageScale;
    const int maxFrameCount;
    const std::shared_ptr<AnimationFrameSource> frameSource;
    const RepeatCount maxRepeatCount;
    const ImageScaling contentMode;
    // The longest a refresh may move the animation on: after a stall it catches up a frame at a time.
    static constexpr double maxTimeStep = 1.0;

    // Set before `prepareFramesAsynchronously`.
    bool needsPrescaling = true;
    AnimatorDelegate* delegate = nullptr;

    // Main thread.
    double timeSinceLastFrameChange = 0;
    std::uint64_t currentRepeatCount = 0;
    bool isFinished = false;
    // The delegate has heard that the finished animation stopped.
    bool stopReported = false;

    int frameCount() const { return m_frameCount; }
    // The sum of the frames' durations; known once frames are being prepared.
    double loopDuration() const { return m_loopDuration; }
    int currentFrameIndex() const { return m_currentFrameIndex; }
    int previousFrameIndex() const { return m_previousFrameIndex; }
    // Moves the window of decoded frames along with the frame shown.
    void setCurrentFrameIndex(int index);

    // Nothing outside the frames or for a frame not decoded (yet).
    std::optional<Bitmap> image(int index) const;
    // +infinity outside the frames: a frame not yet known holds the animation.
    double duration(int index) const;
    std::optional<Bitmap> currentFrameImage() const { return image(m_currentFrameIndex); }

    // Reads the frame count and queues the first decoding: the frame shown and `maxFrameCount` after it.
    void prepareFramesAsynchronously();
    // Moves to the next frame, counting a loop on arriving at the last one.
    void advanceFrame();
    // The indexes of the window after `index`, in order, wrapping past the last frame.
    std::vector<int> preloadIndexes(int index) const;
    // How many frames hold decoded pixels now.
    int decodedFrameCount() const;

private:
    void loadInitialFrames();
    void advancePreloadWindow(int currentIndex, std::uint64_t step);
    void redecodeWindow(int currentIndex, std::uint64_t sizeChange);
    // The largest frame to decode at `size`; nothing for the frame's own size.
    std::optional<Size> decodeLimit(Size size) const;
    std::optional<Bitmap> decodeFrame(int index) const;

    const std::shared_ptr<DispatchQueue> m_preloadQueue;
    // Written on the main thread, read where frames are decoded.
    mutable std::mutex m_sizeMutex;
    Size m_size;
    // Counts size changes, so that only the newest one's decoding runs.
    std::atomic<std::uint64_t> m_sizeChanges { 0 };
    // Counts frame changes, so that a window step the animation has moved past is skipped.
    std::atomic<std::uint64_t> m_windowSteps { 0 };
    SafeArray<AnimatedFrame> m_animatedFrames;
    // Written before the first decoding is queued and never again.
    int m_frameCount = 0;
    std::vector<double> m_durations;
    double m_loopDuration = 0;
    int m_currentFrameIndex = 0;
    int m_previousFrameIndex = 0;
};

} // namespace platform
