#pragma once

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "platform/ui/AnimatedImageView.h"

#include <QColor>
#include <QImage>

#include <atomic>
#include <memory>
#include <vector>

namespace animationtest {

// A display link the test drives: each `tick` is one refresh of `period` seconds.
class ManualDisplayLink final : public platform::DisplayLinkCompatible {
public:
    bool isPaused() const override { return paused; }
    void setPaused(bool value) override { paused = value; }
    int preferredFramesPerSecond() const override { return 0; }
    double timestamp() const override { return 0; }
    double duration() const override { return period; }
    void add(const platform::RunLoop&, const platform::RunLoopMode&) override { }
    void remove(const platform::RunLoop&, const platform::RunLoopMode&) override { }
    void invalidate() override
    {
        paused = true;
        target.reset();
    }

    // One refresh, delivered only while running, as a real link delivers them: the refresh holds
    // the target, so a view destroyed during it does not take the target from under the call.
    void tick()
    {
        if (!paused && target) {
            const std::shared_ptr<platform::DisplayLinkTarget> held = target;
            held->onScreenUpdate();
        }
    }

    bool paused = true;
    double period = 1.0 / 60;
    std::shared_ptr<platform::DisplayLinkTarget> target;
};

// An animated image view on a manual display link.
class DrivenAnimatedImageView : public platform::AnimatedImageView {
public:
    ManualDisplayLink& link()
    {
        displayLink();
        return *m_link;
    }
    // Lets every decoding step queued so far finish.
    void settle()
    {
        preloadQueue()->sync([] {});
    }

protected:
    std::unique_ptr<platform::DisplayLinkCompatible> makeDisplayLink(
        std::shared_ptr<platform::DisplayLinkTarget> target) override
    {
        auto link = std::make_unique<ManualDisplayLink>();
        link->target = std::move(target);
        m_link = link.get();
        return link;
    }

private:
    ManualDisplayLink* m_link = nullptr;
};

inline platform::Bitmap solidBitmap(QColor color, int width = 4, int height = 4)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return *platform::Bitmap::fromImage(image);
}

// The colour of frame `index` of the test animations.
inline QColor frameColor(int index)
{
    return QColor::fromHsv((index * 37) % 360, 200, 220).toRgb();
}

// An animation of `durations.size()` frames, each a solid colour, made in memory.
inline std::shared_ptr<platform::Image> animation(const std::vector<double>& durations, int side = 4)
{
    std::vector<platform::ImageFrame> frames;
    for (std::size_t i = 0; i < durations.size(); ++i)
        frames.push_back({ solidBitmap(frameColor(int(i)), side, side), durations[i] });
    return platform::Image::createAnimated(std::move(frames));
}

inline QColor colorOf(const std::optional<platform::Bitmap>& bitmap)
{
    return bitmap ? bitmap->image().pixelColor(0, 0) : QColor();
}

} // namespace animationtest
