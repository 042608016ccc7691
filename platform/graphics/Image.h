#pragma once

#include "platform/foundation/AssociatedObjects.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Geometry.h"

#include <memory>
#include <optional>
#include <vector>

namespace platform {

// One frame of an animated image and how long it shows, in seconds.
struct ImageFrame {
    Bitmap bitmap;
    double duration = 0;
};

// An image: one or more representations of the same picture (a multi-resolution icon has several),
// a size in points and, for an animation, its frames. Held by std::shared_ptr; its identity is the
// object, so it is neither copied nor moved. Its pixels never change after creation, so an Image may
// be shared and read by any number of threads.
//
// Per-image attached state (decoded frames, source data, frame sources) lives in the associated
// objects; Image keeps no other mutable state.
class Image : public AssociatedObjects {
public:
    // Point size = pixel size ÷ scale; a scale that is not finite and positive counts as 1.
    static std::shared_ptr<Image> create(Bitmap bitmap, double scale = 1.0);
    // Nothing when `representations` is empty. The pixel size used for the point size is that of
    // `pixelSize()`.
    static std::shared_ptr<Image> create(std::vector<Bitmap> representations, double scale = 1.0);
    // A given point size; the scale is the pixel width over the point width (1 when that width is 0).
    static std::shared_ptr<Image> createWithPointSize(std::vector<Bitmap> representations, Size pointSize);
    // An image with a size and no pixels: it has no bitmap and draws nothing.
    static std::shared_ptr<Image> createEmpty(Size pointSize);
    // An animation: the first frame is also the image's only representation. Nothing when `frames`
    // is empty. `loopCount` is how often the animation plays, 0 for forever.
    static std::shared_ptr<Image> createAnimated(
        std::vector<ImageFrame> frames, int loopCount = 0, double scale = 1.0);

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    // The size in points.
    Size size() const { return m_pointSize; }
    double scale() const { return m_scale; }
    // The largest pixel width and the largest pixel height over all representations, each taken
    // separately; (0, 0) without representations.
    Size pixelSize() const { return m_pixelSize; }

    const std::vector<Bitmap>& representations() const { return m_representations; }
    // The representation that stands for the image when one bitmap is wanted: the one with the most
    // pixels (the first of equals); null for an image without representations.
    const Bitmap* bitmap() const
    {
        return m_representations.empty() ? nullptr : &m_representations[m_primary];
    }

    // Empty for a still image.
    const std::vector<ImageFrame>& frames() const { return m_frames; }
    bool isAnimated() const { return !m_frames.empty(); }
    int loopCount() const { return m_loopCount; }
    double totalDuration() const;

private:
    struct Token { };

public:
    // Use the create functions.
    Image(Token, std::vector<Bitmap> representations, std::optional<Size> pointSize, double scale,
        std::vector<ImageFrame> frames, int loopCount);

private:
    std::vector<Bitmap> m_representations;
    std::size_t m_primary = 0;
    Size m_pixelSize;
    Size m_pointSize;
    double m_scale = 1;
    std::vector<ImageFrame> m_frames;
    int m_loopCount = 0;
};

} // namespace platform
