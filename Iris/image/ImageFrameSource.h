#pragma once

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Geometry.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <vector>

namespace platform {
class Image;
class ImageSource;
} // namespace platform

namespace iris {

// How an image is to be decoded. Only `onlyFirstFrame` changes the result; the other fields are
// carried for callers that read them.
struct ImageCreatingOptions {
    double scale = 1.0;
    double duration = 0.0; // wanted total duration of an animation, seconds
    bool preloadAll = false;
    bool onlyFirstFrame = false;
};

// Anything that hands out the frames of an animated image, decoded on demand.
class ImageFrameSource {
public:
    virtual ~ImageFrameSource() = default;

    // The whole encoded data, when known.
    virtual std::optional<QByteArray> data() const = 0;
    virtual int frameCount() const = 0;
    // The frame at `index`, at most `maxSize` (pixels) on its longer side when that is given and not
    // zero by zero; nothing for a frame that cannot be made.
    virtual std::optional<platform::Bitmap> frameImage(
        int index, std::optional<platform::Size> maxSize) const = 0;
    // How long the frame at `index` shows, in seconds.
    virtual double frameDuration(int index) const = 0;

    std::optional<platform::Bitmap> frameImage(int index) const { return frameImage(index, std::nullopt); }
};

// What a GIF frame's headers say about its delay, in seconds. Our decoder reads the stored delay
// as is, which is the unclamped delay.
struct GIFFrameProperties {
    std::optional<double> unclampedDelayTime;
    std::optional<double> delayTime;
};

// The delay of a GIF frame: the unclamped delay, else the delay, else 0.1; a value of 0.011 or
// less also becomes 0.1 (players show such frames at that speed).
double gifFrameDelay(const std::optional<GIFFrameProperties>& properties);

// The duration of frame `index` of `source`: 0 when the frame has no properties, else its stored
// delay (GIF) or duration (animated WebP) by the rule of `gifFrameDelay`.
double frameDuration(const platform::ImageSource& source, int index);

// The frames of decoded image data.
class CGImageFrameSource final : public ImageFrameSource {
public:
    CGImageFrameSource(
        std::optional<QByteArray> data, std::shared_ptr<const platform::ImageSource> imageSource)
        : m_data(std::move(data))
        , m_imageSource(std::move(imageSource))
    {
    }

    using ImageFrameSource::frameImage;

    std::optional<QByteArray> data() const override { return m_data; }
    int frameCount() const override;
    std::optional<platform::Bitmap> frameImage(
        int index, std::optional<platform::Size> maxSize) const override;
    double frameDuration(int index) const override;

    const std::shared_ptr<const platform::ImageSource>& imageSource() const { return m_imageSource; }

private:
    std::optional<QByteArray> m_data;
    std::shared_ptr<const platform::ImageSource> m_imageSource;
};

// All frames of an animation, decoded, with their total duration: a short-lived carrier whose
// content is copied onto the image it helps make.
struct GIFAnimatedImage {
    // The frames up to the first one that cannot be made; nothing when the first cannot. One frame
    // lasts for ever; with `onlyFirstFrame` only the first frame is made and the total is its own
    // duration.
    static std::optional<GIFAnimatedImage> make(
        const ImageFrameSource& source, const ImageCreatingOptions& options);

    std::vector<std::shared_ptr<platform::Image>> images;
    double duration = 0.0;
};

} // namespace iris
