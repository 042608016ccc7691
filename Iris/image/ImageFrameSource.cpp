#include "Iris/image/ImageFrameSource.h"

#include "platform/graphics/Image.h"
#include "platform/graphics/ImageSource.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace iris {

namespace {

constexpr double defaultFrameDelaySeconds = 0.1;
// Delays at or below this are shown at the default speed, as players do.
constexpr double shortestFrameDelaySeconds = 0.011;

} // namespace

double gifFrameDelay(const std::optional<GIFFrameProperties>& properties)
{
    if (!properties)
        return defaultFrameDelaySeconds;
    const std::optional<double> delay
        = properties->unclampedDelayTime ? properties->unclampedDelayTime : properties->delayTime;
    if (!delay || !(*delay > shortestFrameDelaySeconds))
        return defaultFrameDelaySeconds;
    return *delay;
}

double frameDuration(const platform::ImageSource& source, int index)
{
    const std::optional<platform::FrameProperties> properties = source.frameProperties(index);
    if (!properties)
        return 0.0;
    if (properties->isGif)
        return gifFrameDelay(GIFFrameProperties { properties->gifDelaySeconds, std::nullopt });
    // A WebP frame's stored duration is held to the same floor as a GIF delay: players show both
    // kinds of near-zero frame at the default speed.
    if (properties->webpDurationSeconds)
        return gifFrameDelay(GIFFrameProperties { properties->webpDurationSeconds, std::nullopt });
    return gifFrameDelay(std::nullopt);
}

int CGImageFrameSource::frameCount() const
{
    return m_imageSource ? m_imageSource->frameCount() : 0;
}

std::optional<platform::Bitmap> CGImageFrameSource::frameImage(
    int index, std::optional<platform::Size> maxSize) const
{
    if (!m_imageSource)
        return std::nullopt;
    if (maxSize && (maxSize->width != 0 || maxSize->height != 0)) {
        const double longer = std::max(maxSize->width, maxSize->height);
        if (!(longer >= 1))
            return std::nullopt;
        const int maxPixelSize
            = longer >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(longer);
        return m_imageSource->frame(index, maxPixelSize);
    }
    return m_imageSource->frame(index);
}

double CGImageFrameSource::frameDuration(int index) const
{
    return m_imageSource ? iris::frameDuration(*m_imageSource, index) : 0.0;
}

std::optional<GIFAnimatedImage> GIFAnimatedImage::make(
    const ImageFrameSource& source, const ImageCreatingOptions& options)
{
    const int count = source.frameCount();
    GIFAnimatedImage animated;
    for (int i = 0; i < count; ++i) {
        std::optional<platform::Bitmap> frame = source.frameImage(i);
        if (!frame) {
            // A file cut short or damaged part way still shows the frames before the break, as
            // other players show them. Later frames are drawn over the missing one, so they go too.
            if (animated.images.empty())
                return std::nullopt;
            break;
        }
        animated.duration += source.frameDuration(i);
        animated.images.push_back(platform::Image::create(std::move(*frame)));
        if (options.onlyFirstFrame)
            break;
    }
    // A single frame to show is a still picture, which lasts for ever.
    if (animated.images.size() == 1 && (count == 1 || !options.onlyFirstFrame))
        animated.duration = std::numeric_limits<double>::infinity();
    return animated;
}

} // namespace iris
