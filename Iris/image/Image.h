#pragma once

#include "Iris/image/ImageDrawing.h"
#include "Iris/image/ImageFormat.h"
#include "Iris/image/ImageFrameSource.h"
#include "Iris/utility/IrisWrapper.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class GraphicsContext;
}

namespace iris {

// The image library's operations on an image: `ir(image).operation()`. The decoding entries make
// images and are reached as `ImageWrapper::decodeImage(...)`.
//
// An animated image carries its state as associated objects: its frames (`images`), their total
// `duration`, the data it was decoded from (`animatedImageData`, which is also its GIF encoding),
// its `imageFrameCount` and its `frameSource`. An image counts as animated when its `images` are
// set.
template<> struct IrisWrapper<std::shared_ptr<platform::Image>> {
    std::shared_ptr<platform::Image> base;

    // The bitmap that stands for the image; nothing for an image without representations.
    std::optional<platform::Bitmap> cgImage() const;
    // The largest pixel width and the largest pixel height over the representations.
    platform::Size pixelSize() const;

    std::optional<std::vector<std::shared_ptr<platform::Image>>> images() const;
    void setImages(std::optional<std::vector<std::shared_ptr<platform::Image>>> images) const;
    // 0 when never set.
    double duration() const;
    void setDuration(double duration) const;
    std::optional<QByteArray> animatedImageData() const;
    void setAnimatedImageData(std::optional<QByteArray> data) const;
    std::optional<std::int64_t> imageFrameCount() const;
    void setImageFrameCount(std::optional<std::int64_t> count) const;
    std::shared_ptr<ImageFrameSource> frameSource() const;
    void setFrameSource(std::shared_ptr<ImageFrameSource> source) const;
    // Takes over what `other` was decoded from (its animated data, frame count and frame source), for
    // a copy of its pixels made ready for drawing: the first frame of an animation stands for the
    // whole of it in the caches, and a request for the animation decodes it from that data.
    void setAnimationSourceOf(const std::shared_ptr<platform::Image>& other) const;

    // Encoding; nothing when the image has no bitmap or the encoder fails.
    std::optional<QByteArray> pngRepresentation() const;
    // `compressionQuality` from 0 to 1.
    std::optional<QByteArray> jpegRepresentation(double compressionQuality) const;
    // The animation's own bytes; nothing for an image that was not decoded as an animation.
    std::optional<QByteArray> gifRepresentation() const { return animatedImageData(); }
    // PNG for `unknown` and `PNG`, JPEG at `compressionQuality`, the animation's bytes for `GIF`.
    std::optional<QByteArray> dataInFormat(ImageFormat format, double compressionQuality = 1.0) const;

    // Decodes `data` by its format: GIF as an animation, anything else as a still image. Decoding is
    // bounded: data declaring more pixels than the decoding limits allow gives nothing.
    static std::shared_ptr<platform::Image> decodeImage(
        const QByteArray& data, const ImageCreatingOptions& options = {});
    // Decodes GIF data frame by frame: the image carries all frames and their total duration, or,
    // with `onlyFirstFrame`, is the first frame alone; either way it carries the data, the frame
    // count and the frame source. Data cut short gives the frames before the first that cannot be
    // made (and counts only those); nothing when the first frame cannot be made. With
    // `onlyFirstFrame`, an animation beyond the decoding limits as a whole still gives its first
    // frame, and then counts only that one.
    static std::shared_ptr<platform::Image> imageFromData(
        const QByteArray& data, const ImageCreatingOptions& options = {});
    static std::shared_ptr<platform::Image> animatedImageFromData(
        std::shared_ptr<ImageFrameSource> frameSource, const ImageCreatingOptions& options,
        std::shared_ptr<platform::Image> baseImage);
    // The first image of `data` at most max(width, height) × `scale` pixels on its longer side,
    // oriented, never upscaled.
    static std::shared_ptr<platform::Image> downsampledImage(
        const QByteArray& data, platform::Size pointSize, double scale);

    // A transparent RGBA drawing context of `width` × `height` pixels with the bits per component
    // of `reference` (8 without one), made the calling thread's current context. Null for sizes that
    // are not finite, less than a pixel or too large; drawing operations then return their input.
    static std::shared_ptr<platform::GraphicsContext> makeBitmapDrawingContext(
        const platform::Bitmap* reference, double width, double height);

    // The drawing operations of ImageDrawing.h, on this image; each gives the image back unchanged
    // when it cannot draw.
    ImagePtr compositedImage(platform::CompositingOperation operation, double alpha,
        std::optional<platform::Color> backgroundColor = std::nullopt) const
    {
        return iris::compositedImage(base, operation, alpha, backgroundColor);
    }
    ImagePtr roundedCornerImage(Radius radius, platform::Size targetSize, RectCorner corners = RectCorner::all,
        std::optional<platform::Color> backgroundColor = std::nullopt) const
    {
        return iris::roundedCornerImage(base, radius, targetSize, corners, backgroundColor);
    }
    ImagePtr borderedImage(const Border& border) const { return iris::borderedImage(base, border); }
    ImagePtr resizedImage(platform::Size targetSize) const { return iris::resizedImage(base, targetSize); }
    ImagePtr resizedImageForContentMode(platform::Size targetSize, ContentMode mode) const
    {
        return iris::resizedImageForContentMode(base, targetSize, mode);
    }
    ImagePtr croppedImage(platform::Size size, platform::Point anchor) const
    {
        return iris::croppedImage(base, size, anchor);
    }
    ImagePtr boxBlur(double radius) const { return iris::boxBlur(base, radius); }
    ImagePtr overlaidImage(const platform::Color& color, double fraction) const
    {
        return iris::overlaidImage(base, color, fraction);
    }
    ImagePtr scaledImage(double scale) const { return iris::scaledImage(base, scale); }
    ImagePtr decodedImage(double scale = 1.0) const { return iris::decodedImage(base, scale); }
};

using ImageWrapper = IrisWrapper<std::shared_ptr<platform::Image>>;

} // namespace iris
