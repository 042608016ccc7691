#include "platform/ui/AnimatedImageView.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Image.h"
#include "platform/ui/ScreenRatioWatcher.h"

#include <QEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

namespace platform {

namespace {

// Frames that claim no time (or next to none) would advance on every refresh; they show for a
// tenth of a second, as browsers show them.
constexpr double shortestFrameSeconds = 0.011;
constexpr double substituteFrameSeconds = 0.1;

double playableDuration(double seconds)
{
    if (std::isnan(seconds) || seconds <= shortestFrameSeconds)
        return substituteFrameSeconds;
    return seconds;
}

// The frames an image was made with, already decoded.
class ImageFramesSource final : public AnimationFrameSource {
public:
    explicit ImageFramesSource(std::shared_ptr<Image> image)
        : m_image(std::move(image))
    {
    }

    int frameCount() const override { return int(m_image->frames().size()); }
    std::optional<Bitmap> frame(int index, std::optional<Size> maxSize) const override
    {
        if (index < 0 || index >= frameCount())
            return std::nullopt;
        const Bitmap& bitmap = m_image->frames()[std::size_t(index)].bitmap;
        if (!maxSize || maxSize->width < 1 || maxSize->height < 1
            || (bitmap.width() <= maxSize->width && bitmap.height() <= maxSize->height))
            return bitmap;
        return Bitmap::fromImage(bitmap.image().scaled(
            int(maxSize->width), int(maxSize->height), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    double frameDuration(int index) const override
    {
        if (index < 0 || index >= frameCount())
            return 0;
        return m_image->frames()[std::size_t(index)].duration;
    }

private:
    std::shared_ptr<Image> m_image;
};

Size pixelSizeOf(const QWidget& view)
{
    const double scale = view.devicePixelRatioF();
    return { view.width() * scale, view.height() * scale };
}

std::mutex lookupMutex;
AnimatedImageView::FrameSourceLookup& registeredLookup()
{
    static AnimatedImageView::FrameSourceLookup lookup;
    return lookup;
}

} // namespace

bool AnimatedImageView::RepeatCount::isSpent(std::uint64_t loopsPlayed) const
{
    switch (m_kind) {
    case Kind::finite:
        return loopsPlayed >= m_count;
    case Kind::once:
        return loopsPlayed != 0;
    case Kind::infinite:
        return false;
    }
    return false;
}

bool AnimatedImageView::RepeatCount::operator==(const RepeatCount& other) const
{
    if (m_kind == Kind::infinite || other.m_kind == Kind::infinite)
        return m_kind == other.m_kind;
    return m_count == other.m_count;
}

void AnimatedImageView::TargetProxy::onScreenUpdate()
{
    if (m_target)
        m_target->screenUpdated();
}

class AnimatedImageView::Forwarder final : public AnimatorDelegate {
public:
    explicit Forwarder(AnimatedImageView& view)
        : m_view(view)
    {
    }
    void animatorDidCompleteLoops(Animator&, std::uint64_t loopCount) override
    {
        m_view.animatorDidCompleteLoops(loopCount);
    }

private:
    AnimatedImageView& m_view;
};

void AnimatedImageView::setFrameSourceLookup(FrameSourceLookup lookup)
{
    std::lock_guard lock(lookupMutex);
    registeredLookup() = std::move(lookup);
}

std::shared_ptr<AnimationFrameSource> AnimatedImageView::frameSource(const std::shared_ptr<Image>& image)
{
    if (!image)
        return nullptr;
    FrameSourceLookup lookup;
    {
        std::lock_guard lock(lookupMutex);
        lookup = registeredLookup();
    }
    if (lookup) {
        if (std::shared_ptr<AnimationFrameSource> source = lookup(image))
            return source;
    }
    if (image->isAnimated())
        return std::make_shared<ImageFramesSource>(image);
    return nullptr;
}

AnimatedImageView::AnimatedImageView(QWidget* parent)
    : ImageView(parent)
    , m_forwarder(std::make_unique<Forwarder>(*this))
{
    // The view plays animations itself; the base class's flag stays off.
    ImageView::setAnimates(false);
    // Frames are decoded for the view's pixel size, which changes with its screen's ratio too.
    ScreenRatioWatcher::watch(this, [this] {
        if (m_animator)
            m_animator->setSize(pixelSizeOf(*this));
        update();
    });
}

AnimatedImageView::~AnimatedImageView()
{
    if (m_displayLink)
        m_displayLink->invalidate();
    if (m_animator)
        m_animator->delegate = nullptr;
}

const std::shared_ptr<DispatchQueue>& AnimatedImageView::preloadQueue()
{
    // Named as the image library names its queues: the view plays that library's animations.
    if (!m_preloadQueue)
        m_preloadQueue = DispatchQueue::makeSerial("org.tindrel.Iris.Animator.preloadQueue");
    return m_preloadQueue;
}

DisplayLinkCompatible& AnimatedImageView::displayLink()
{
    if (!m_displayLink) {
        m_displayLink = makeDisplayLink(std::make_shared<TargetProxy>(this));
        m_displayLink->add(RunLoop::main(), m_runLoopMode);
        m_displayLink->setPaused(true);
    }
    return *m_displayLink;
}

std::unique_ptr<DisplayLinkCompatible> AnimatedImageView::makeDisplayLink(
    std::shared_ptr<DisplayLinkTarget> target)
{
    return std::make_unique<DisplayLink>(std::move(target), screen());
}

void AnimatedImageView::setRunLoopMode(const RunLoopMode& mode)
{
    if (mode == m_runLoopMode)
        return;
    stopAnimating();
    displayLink().remove(RunLoop::main(), m_runLoopMode);
    displayLink().add(RunLoop::main(), mode);
    m_runLoopMode = mode;
    startAnimating();
}

void AnimatedImageView::setRepeatCount(RepeatCount count)
{
    if (count == m_repeatCount)
        return;
    m_repeatCount = count;
    resetAnimator();
    update();
}

void AnimatedImageView::startAnimating()
{
    m_waitsToBeSeen = false;
    if (!m_animator)
        return;
    // An animation that finished while out of sight has not told its delegate of the stop yet.
    const bool stopOwed = m_animator->isFinished && !m_animator->stopReported;
    if (m_animator->maxRepeatCount.isSpent(m_animator->currentRepeatCount) && !stopOwed)
        return;
    displayLink().setPaused(false);
}

void AnimatedImageView::stopAnimating()
{
    m_waitsToBeSeen = false;
    if (m_displayLink)
        m_displayLink->setPaused(true);
}

void AnimatedImageView::resetAnimator()
{
    if (m_animator)
        m_animator->delegate = nullptr;
    m_animator.reset();
    m_currentFrame.reset();
    const std::shared_ptr<Image>& shown = image();
    if (std::shared_ptr<AnimationFrameSource> source = frameSource(shown)) {
        if (shown->bitmap())
            m_currentFrame = *shown->bitmap();
        auto animator = std::make_shared<Animator>(pixelSizeOf(*this), shown->size(), shown->scale(),
            m_framePreloadCount, std::move(source), m_repeatCount, imageScaling(), preloadQueue());
        animator->needsPrescaling = m_needsPrescaling;
        animator->delegate = m_forwarder.get();
        animator->prepareFramesAsynchronously();
        m_animator = std::move(animator);
    }
    // A link left running with nothing to play would wake the program every refresh.
    if (!m_animator)
        stopAnimating();
    applyPlayRule(isOnScreen());
}

void AnimatedImageView::screenUpdated()
{
    // A refresh that was on its way when the link was paused: the view was stopped or rests.
    if (!m_displayLink || m_displayLink->isPaused())
        return;
    // Hidden, minimised or never shown, the view would decode and draw frames no one sees (started
    // by hand, it is not stopped by the hide): it rests until it is shown or drawn again.
    if (m_animator && !isOnScreen()) {
        m_displayLink->setPaused(true);
        m_waitsToBeSeen = true;
        return;
    }
    updateFrameIfNeeded();
}

void AnimatedImageView::updateFrameIfNeeded()
{
    if (!m_animator)
        return;
    if (m_animator->isFinished) {
        stopAnimating();
        // Refreshes already on their way when the link stopped must not tell it again.
        if (std::exchange(m_animator->stopReported, true))
            return;
        if (std::shared_ptr<AnimatedImageViewDelegate> listener = delegate())
            listener->animatedImageViewDidStop(*this);
        return;
    }
    DisplayLinkCompatible& link = displayLink();
    const int framesPerSecond = link.preferredFramesPerSecond();
    const double step = framesPerSecond != 0 ? 1.0 / framesPerSecond : link.duration();
    m_animator->timeSinceLastFrameChange += std::min(step, Animator::maxTimeStep);
    const double frameDuration = m_animator->duration(m_animator->currentFrameIndex());
    if (m_animator->timeSinceLastFrameChange < frameDuration)
        return;
    // Scrolled out of its scroll area or covered by a sibling, the view would decode and draw
    // frames no one sees; it rests until it is drawn again (see paintEvent).
    if (isVisible() && visibleRegion().isEmpty()) {
        link.setPaused(true);
        m_waitsToBeSeen = true;
        return;
    }
    m_animator->timeSinceLastFrameChange -= frameDuration;
    // The animator tells the delegate of finished loops, which may replace the animator or
    // destroy the view.
    std::shared_ptr<Animator> animator = m_animator;
    const QPointer<AnimatedImageView> alive(this);
    animator->advanceFrame();
    if (alive)
        update();
}

void AnimatedImageView::animatorDidCompleteLoops(std::uint64_t loopCount)
{
    if (std::shared_ptr<AnimatedImageViewDelegate> listener = delegate())
        listener->animatedImageViewDidCompleteLoops(*this, loopCount);
}

void AnimatedImageView::setImage(std::shared_ptr<Image> image)
{
    const std::shared_ptr<Image> old = this->image();
    const QSize before = sizeHint();
    ImageView::setImage(std::move(image));
    if (old != this->image())
        resetAnimator();
    if (sizeHint() != before)
        updateGeometry();
    update();
}

bool AnimatedImageView::animates() const
{
    return m_displayLink ? !m_displayLink->isPaused() : ImageView::animates();
}

void AnimatedImageView::setAnimates(bool animates)
{
    if (animates)
        startAnimating();
    else
        stopAnimating();
}

void AnimatedImageView::setHighlighted(bool highlighted)
{
    if (displayLink().isPaused())
        ImageView::setHighlighted(highlighted);
}

void AnimatedImageView::setContentCompressionResistancePriority(float priority, Qt::Orientation orientation)
{
    (orientation == Qt::Horizontal ? m_horizontalResistance : m_verticalResistance) = priority;
    updateGeometry();
}

float AnimatedImageView::contentCompressionResistancePriority(Qt::Orientation orientation) const
{
    return orientation == Qt::Horizontal ? m_horizontalResistance : m_verticalResistance;
}

QSize AnimatedImageView::minimumSizeHint() const
{
    const QSize natural = sizeHint();
    return QSize(m_horizontalResistance < defaultPriority ? 0 : natural.width(),
        m_verticalResistance < defaultPriority ? 0 : natural.height());
}

void AnimatedImageView::paintEvent(QPaintEvent* event)
{
    if (m_waitsToBeSeen)
        startAnimating();
    if (!m_animator) {
        ImageView::paintEvent(event);
        return;
    }
    if (std::optional<Bitmap> frame = m_animator->currentFrameImage())
        m_currentFrame = std::move(frame);
    if (!m_currentFrame)
        return;
    // Frames are drawn pixel for point.
    const QSizeF pixels(m_currentFrame->width(), m_currentFrame->height());
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(placement(pixels, QRectF(rect()), imageScaling()), m_currentFrame->image());
}

void AnimatedImageView::showEvent(QShowEvent* event)
{
    ImageView::showEvent(event);
    m_shown = true;
    applyPlayRule(true);
}

void AnimatedImageView::hideEvent(QHideEvent* event)
{
    ImageView::hideEvent(event);
    m_shown = false;
    applyPlayRule(false);
}

void AnimatedImageView::changeEvent(QEvent* event)
{
    ImageView::changeEvent(event);
    if (event->type() == QEvent::ParentChange)
        applyPlayRule(isOnScreen());
}

void AnimatedImageView::resizeEvent(QResizeEvent* event)
{
    ImageView::resizeEvent(event);
    if (m_animator)
        m_animator->setSize(pixelSizeOf(*this));
}

void AnimatedImageView::applyPlayRule(bool onScreen)
{
    if (!m_autoPlayAnimatedImage || !m_animator)
        return;
    if (onScreen)
        startAnimating();
    else
        stopAnimating();
}

AnimatedImageView::Animator::Animator(Size size, Size imageSize, double imageScale, int maxFrameCount,
    std::shared_ptr<AnimationFrameSource> frameSource, RepeatCount maxRepeatCount, ImageScaling contentMode,
    std::shared_ptr<DispatchQueue> preloadQueue)
    : imageSize(imageSize)
    , imageScale(imageScale)
    , maxFrameCount(std::max(1, maxFrameCount))
    , frameSource(std::move(frameSource))
    , maxRepeatCount(maxRepeatCount)
    , contentMode(contentMode)
    , m_preloadQueue(std::move(preloadQueue))
    , m_size(size)
{
}

Size AnimatedImageView::Animator::size() const
{
    std::lock_guard lock(m_sizeMutex);
    return m_size;
}

void AnimatedImageView::Animator::setSize(Size newSize)
{
    Size old;
    {
        std::lock_guard lock(m_sizeMutex);
        old = std::exchange(m_size, newSize);
    }
    if (decodeLimit(old) == decodeLimit(newSize))
        return;
    const std::uint64_t change = ++m_sizeChanges;
    m_preloadQueue->async([self = shared_from_this(), index = m_currentFrameIndex, change] {
        self->redecodeWindow(index, change);
    });
}

std::optional<Size> AnimatedImageView::Animator::decodeLimit(Size limit) const
{
    if (!needsPrescaling || (limit.width == 0 && limit.height == 0))
        return std::nullopt;
    // A limit the frames fit in decodes them at their own size, as no limit does.
    if (limit.width >= imageSize.width * imageScale && limit.height >= imageSize.height * imageScale)
        return std::nullopt;
    return limit;
}

void AnimatedImageView::Animator::redecodeWindow(int currentIndex, std::uint64_t sizeChange)
{
    // While a window is being resized only the last size is worth decoding for.
    if (sizeChange != m_sizeChanges.load() || m_frameCount <= 0)
        return;
    std::vector<int> indexes { currentIndex };
    if (maxFrameCount >= m_frameCount - 1) {
        // Every frame is kept decoded.
        for (int i = 1; i < m_frameCount; ++i)
            indexes.push_back((currentIndex + i) % m_frameCount);
    } else {
        for (int index : preloadIndexes(currentIndex))
            indexes.push_back(index);
    }
    // Each frame is replaced once its new pixels are ready: until then the old ones stay on show.
    for (int index : indexes) {
        std::optional<AnimatedFrame> frame = m_animatedFrames.get(std::size_t(index));
        if (!frame || !frame->image)
            continue;
        m_animatedFrames.set(std::size_t(index), { decodeFrame(index), frame->duration });
    }
}

void AnimatedImageView::Animator::setCurrentFrameIndex(int index)
{
    m_previousFrameIndex = m_currentFrameIndex;
    m_currentFrameIndex = index;
    // The index travels with the work, so the step never reads the main thread's field; a step that
    // runs after a newer one was queued leaves the work to that one.
    const std::uint64_t step = ++m_windowSteps;
    m_preloadQueue->async(
        [self = shared_from_this(), index, step] { self->advancePreloadWindow(index, step); });
}

std::optional<Bitmap> AnimatedImageView::Animator::image(int index) const
{
    if (index < 0)
        return std::nullopt;
    std::optional<AnimatedFrame> frame = m_animatedFrames.get(std::size_t(index));
    return frame ? frame->image : std::nullopt;
}

double AnimatedImageView::Animator::duration(int index) const
{
    if (index < 0)
        return std::numeric_limits<double>::infinity();
    std::optional<AnimatedFrame> frame = m_animatedFrames.get(std::size_t(index));
    return frame ? frame->duration : std::numeric_limits<double>::infinity();
}

void AnimatedImageView::Animator::prepareFramesAsynchronously()
{
    m_frameCount = std::max(0, frameSource->frameCount());
    m_durations.reserve(std::size_t(m_frameCount));
    for (int i = 0; i < m_frameCount; ++i) {
        m_durations.push_back(playableDuration(frameSource->frameDuration(i)));
        m_loopDuration += m_durations.back();
    }
    m_animatedFrames.reserveCapacity(std::size_t(m_frameCount));
    m_preloadQueue->async([weak = weak_from_this()] {
        if (std::shared_ptr<Animator> self = weak.lock())
            self->loadInitialFrames();
    });
}

void AnimatedImageView::Animator::loadInitialFrames()
{
    m_animatedFrames.removeAll();
    for (int i = 0; i < m_frameCount; ++i) {
        const double frameDuration = m_durations[std::size_t(i)];
        m_animatedFrames.append({ std::nullopt, frameDuration });
        if (i <= maxFrameCount)
            m_animatedFrames.set(std::size_t(i), { decodeFrame(i), frameDuration });
    }
}

std::vector<int> AnimatedImageView::Animator::preloadIndexes(int index) const
{
    std::vector<int> indexes;
    const int count = m_frameCount;
    if (count <= 0)
        return indexes;
    const int next = (index + 1) % count;
    const int last = int((std::int64_t(index) + maxFrameCount) % count);
    if (last >= next) {
        for (int i = next; i <= last; ++i)
            indexes.push_back(i);
    } else {
        for (int i = next; i < count; ++i)
            indexes.push_back(i);
        for (int i = 0; i <= last; ++i)
            indexes.push_back(i);
    }
    return indexes;
}

void AnimatedImageView::Animator::advancePreloadWindow(int currentIndex, std::uint64_t step)
{
    if (maxFrameCount >= m_frameCount - 1)
        return;
    // When decoding is slower than the animation, steps pile up behind it. Only the newest is worth
    // its work: the others would decode windows already left behind, and the queue would fall
    // further behind for as long as the animation plays.
    const auto superseded = [this, step] { return step != m_windowSteps.load(); };
    if (superseded())
        return;
    const std::vector<int> window = preloadIndexes(currentIndex);
    std::vector<bool> keep(std::size_t(m_frameCount), false);
    keep[std::size_t(currentIndex)] = true;
    for (int index : window)
        keep[std::size_t(index)] = true;
    // Every decoded frame outside the window goes, not only the one just left: with steps that run
    // late, frames left in between would otherwise stay decoded for good.
    std::vector<Bitmap> dropped;
    m_animatedFrames.forEach([&](std::size_t index, AnimatedFrame& frame) {
        if (frame.image && !keep[index]) {
            dropped.push_back(std::move(*frame.image));
            frame.image.reset();
        }
    });
    dropped.clear();
    // The frame on show first, should a late step find it missing.
    std::vector<int> indexes { currentIndex };
    indexes.insert(indexes.end(), window.begin(), window.end());
    for (int index : indexes) {
        if (superseded())
            return;
        std::optional<AnimatedFrame> frame = m_animatedFrames.get(std::size_t(index));
        if (!frame || frame->image)
            continue;
        std::optional<Bitmap> decoded = decodeFrame(index);
        m_animatedFrames.set(std::size_t(index), { std::move(decoded), frame->duration });
    }
}

std::optional<Bitmap> AnimatedImageView::Animator::decodeFrame(int index) const
{
    return frameSource->frame(index, decodeLimit(size()));
}

void AnimatedImageView::Animator::advanceFrame()
{
    const int count = m_frameCount;
    if (count <= 0)
        return;
    const int old = m_currentFrameIndex;
    setCurrentFrameIndex((old + 1) % count);
    if (m_currentFrameIndex == count - 1) {
        ++currentRepeatCount;
        if (!maxRepeatCount.isSpent(currentRepeatCount))
            return;
        isFinished = true;
        if (delegate)
            delegate->animatorDidCompleteLoops(*this, currentRepeatCount);
    } else if (old == count - 1) {
        if (delegate)
            delegate->animatorDidCompleteLoops(*this, currentRepeatCount);
    }
}

int AnimatedImageView::Animator::decodedFrameCount() const
{
    int count = 0;
    m_animatedFrames.forEach([&](std::size_t, const AnimatedFrame& frame) {
        if (frame.image)
            ++count;
    });
    return count;
}

} // namespace platform
