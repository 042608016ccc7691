#include "Iris/image/Image.h"

#include "Iris/utility/AssociatedState.h"

#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/ImageEncoding.h"
#include "platform/graphics/ImageSource.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace iris {

namespace {

// One static byte per attached item: its address is the item's key.
const char imagesKey = 0;
const char durationKey = 0;
const char animatedImageDataKey = 0;
const char imageFrameCountKey = 0;
const char frameSourceKey = 0;

// The first `count` frames of another source: what an animation cut short actually shows, so that
// views play those frames and never wait on one that cannot be made.
class LeadingFrames final : public ImageFrameSource {
public:
    LeadingFrames(std::shared_ptr<ImageFrameSource> source, int count)
        : m_source(std::move(source))
        , m_count(count)
    {
    }

    using ImageFrameSource::frameImage;

    std::optional<QByteArray> data() const override { return m_source->data(); }
    int frameCount() const override { return m_count; }
    std::optional<platform::Bitmap> frameImage(
        int index, std::optional<platform::Size> maxSize) const override
    {
        if (index < 0 || index >= m_count)
            return std::nullopt;
        return m_source->frameImage(index, maxSize);
    }
    double frameDuration(int index) const override
    {
        return index >= 0 && index < m_count ? m_source->frameDuration(index) : 0.0;
    }

private:
    std::shared_ptr<ImageFrameSource> m_source;
    int m_count;
};

} // namespace

std::optional<platform::Bitmap> ImageWrapper::cgImage() const
{
    const platform::Bitmap* bitmap = base ? base->bitmap() : nullptr;
    return bitmap ? std::optional<platform::Bitmap>(*bitmap) : std::nullopt;
}

platform::Size ImageWrapper::pixelSize() const
{
    return base ? base->pixelSize() : platform::Size {};
}

std::optional<std::vector<std::shared_ptr<platform::Image>>> ImageWrapper::images() const
{
    return getAssociatedImages(*base, &imagesKey);
}

void ImageWrapper::setImages(std::optional<std::vector<std::shared_ptr<platform::Image>>> images) const
{
    setAssociatedValue(*base, &imagesKey, std::move(images));
}

double ImageWrapper::duration() const
{
    return getAssociatedValue<double>(*base, &durationKey).value_or(0.0);
}

void ImageWrapper::setDuration(double duration) const
{
    setAssociatedValue(*base, &durationKey, std::optional<double>(duration));
}

std::optional<QByteArray> ImageWrapper::animatedImageData() const
{
    return getAssociatedData(*base, &animatedImageDataKey);
}

void ImageWrapper::setAnimatedImageData(std::optional<QByteArray> data) const
{
    setAssociatedValue(*base, &animatedImageDataKey, std::move(data));
}

std::optional<std::int64_t> ImageWrapper::imageFrameCount() const
{
    return getAssociatedInt(*base, &imageFrameCountKey);
}

void ImageWrapper::setImageFrameCount(std::optional<std::int64_t> count) const
{
    setAssociatedValue(*base, &imageFrameCountKey, count);
}

std::shared_ptr<ImageFrameSource> ImageWrapper::frameSource() const
{
    return getAssociatedFrameSource(*base, &frameSourceKey);
}

void ImageWrapper::setFrameSource(std::shared_ptr<ImageFrameSource> source) const
{
    setAssociatedValue(*base, &frameSourceKey,
        source ? std::optional<std::shared_ptr<ImageFrameSource>>(std::move(source)) : std::nullopt);
}

void ImageWrapper::setAnimationSourceOf(const std::shared_ptr<platform::Image>& other) const
{
    const ImageWrapper from = ir(other);
    setAnimatedImageData(from.animatedImageData());
    setImageFrameCount(from.imageFrameCount());
    setFrameSource(from.frameSource());
}

std::optional<QByteArray> ImageWrapper::pngRepresentation() const
{
    const std::optional<platform::Bitmap> bitmap = cgImage();
    return bitmap ? platform::encodePng(*bitmap) : std::nullopt;
}

std::optional<QByteArray> ImageWrapper::jpegRepresentation(double compressionQuality) const
{
    const std::optional<platform::Bitmap> bitmap = cgImage();
    return bitmap ? platform::encodeJpeg(*bitmap, compressionQuality) : std::nullopt;
}

std::optional<QByteArray> ImageWrapper::dataInFormat(ImageFormat format, double compressionQuality) const
{
    switch (format) {
    case ImageFormat::unknown:
    case ImageFormat::PNG:
        return pngRepresentation();
    case ImageFormat::JPEG:
        return jpegRepresentation(compressionQuality);
    case ImageFormat::GIF:
        return gifRepresentation();
    }
    return std::nullopt;
}

std::shared_ptr<platform::Image> ImageWrapper::decodeImage(
    const QByteArray& data, const ImageCreatingOptions& options)
{
    switch (detectImageFormat(data)) {
    case ImageFormat::GIF:
        return imageFromData(data, options);
    case ImageFormat::unknown:
    case ImageFormat::PNG:
    case ImageFormat::JPEG:
        break;
    }
    return platform::imageFromData(data);
}

std::shared_ptr<platform::Image> ImageWrapper::imageFromData(
    const QByteArray& data, const ImageCreatingOptions& options)
{
    auto created = platform::ImageSource::create(data);
    // An animation too large as a whole (a long screen recording) still has a first frame to show
    // when that is all that is wanted. Only then is the source limited to it: otherwise the frame
    // count keeps saying how many frames the data holds.
    if (!created && created.error() == platform::DecodeError::tooLarge && options.onlyFirstFrame) {
        platform::DecodingLimits firstFrame;
        firstFrame.firstFrameOnly = true;
        created = platform::ImageSource::create(data, firstFrame);
    }
    if (!created)
        return nullptr;
    std::shared_ptr<const platform::ImageSource> source = std::move(created).value();
    // The still picture of the whole data is its first frame; it is made from the decoded frames
    // rather than decoding that frame twice.
    auto frameSource = std::make_shared<CGImageFrameSource>(data, std::move(source));
    return animatedImageFromData(std::move(frameSource), options, nullptr);
}

std::shared_ptr<platform::Image> ImageWrapper::animatedImageFromData(
    std::shared_ptr<ImageFrameSource> frameSource, const ImageCreatingOptions& options,
    std::shared_ptr<platform::Image> baseImage)
{
    if (!frameSource)
        return nullptr;
    std::optional<GIFAnimatedImage> animated = GIFAnimatedImage::make(*frameSource, options);
    if (!animated)
        return nullptr;
    // Every frame was tried (unless only the first was wanted): fewer frames means the rest cannot
    // be made, and the image says it has only those it shows.
    if (!options.onlyFirstFrame && !animated->images.empty()
        && int(animated->images.size()) < frameSource->frameCount())
        frameSource = std::make_shared<LeadingFrames>(std::move(frameSource), int(animated->images.size()));
    std::shared_ptr<platform::Image> image;
    if (options.onlyFirstFrame) {
        if (animated->images.empty())
            return nullptr;
        image = animated->images.front();
    } else {
        image = baseImage;
        if (!animated->images.empty() && (!image || image == animated->images.front())) {
            // A new object over the first frame's pixels: an image never carries a list that holds
            // itself.
            const std::shared_ptr<platform::Image>& first = animated->images.front();
            image = platform::Image::create(first->representations(), first->scale());
        }
        if (!image)
            return nullptr;
        ir(image).setImages(std::move(animated->images));
        ir(image).setDuration(animated->duration);
    }
    const ImageWrapper wrapper = ir(image);
    wrapper.setAnimatedImageData(frameSource->data());
    wrapper.setImageFrameCount(frameSource->frameCount());
    wrapper.setFrameSource(std::move(frameSource));
    return image;
}

std::shared_ptr<platform::Image> ImageWrapper::downsampledImage(
    const QByteArray& data, platform::Size pointSize, double scale)
{
    const double maxPixels = std::max(pointSize.width, pointSize.height) * scale;
    if (!(maxPixels >= 1))
        return nullptr;
    const int maxPixelSize
        = maxPixels >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(maxPixels);
    std::optional<platform::Bitmap> thumbnail = platform::thumbnailFromData(data, maxPixelSize);
    return thumbnail ? platform::Image::create(std::move(*thumbnail)) : nullptr;
}

std::shared_ptr<platform::GraphicsContext> ImageWrapper::makeBitmapDrawingContext(
    const platform::Bitmap* reference, double width, double height)
{
    std::shared_ptr<platform::GraphicsContext> context
        = platform::GraphicsContext::create(platform::Size { width, height }, reference);
    if (context)
        platform::GraphicsContext::setCurrent(context);
    return context;
}

} // namespace iris
