#pragma once

#include "platform/foundation/Result.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QByteArray>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

class GifDecoder;

// How much decoding one image may cost. Every bound is checked from the headers, before the pixels
// are decoded, so a file that declares an enormous picture fails at once and allocates nothing.
struct DecodingLimits {
    // Pixels of one frame (or of one GIF canvas).
    qint64 maxPixelsPerFrame = 100'000'000;
    // All frames of one image decoded at 4 bytes per pixel (a GIF's also with what each frame costs
    // beside its pixels).
    qint64 maxTotalBytes = qint64(1) << 30;
    // Only the first frame is wanted (a still picture of an animation): later frames are neither
    // read nor counted, so a long animation at a large size still gives its picture.
    bool firstFrameOnly = false;

    bool operator==(const DecodingLimits&) const = default;
};

enum class DecodeError {
    unrecognizedFormat, // no decoder knows the data
    tooLarge, // the headers declare more than the limits allow
    corrupt, // the data is damaged or cut short
};

// What a frame's headers say about its timing. GIF frames carry their delay (in seconds, as stored:
// hundredths of a second, unclamped) when they have a graphic control block; the frames of an
// animated WebP carry their duration (in seconds, as stored: milliseconds); other formats carry
// nothing.
struct FrameProperties {
    bool isGif = false;
    std::optional<double> gifDelaySeconds;
    std::optional<double> webpDurationSeconds;
};

// Encoded image data and random access to its frames, decoded on demand. JPEG goes through
// libjpeg-turbo straight to the pixel format we draw (CMYK JPEGs through their CMYK profile, or the
// plain conversion when they have none); HEIC, HEIF and AVIF through libheif (the primary image); PNG,
// WebP, TIFF, BMP and the other formats Qt's image plugins read through QImageReader; the
// orientation is applied and every colour profile converted to sRGB. GIF goes through giflib, its
// frames composited onto the full canvas by their disposal methods. Thread-safe: frames may be
// asked for from several threads at once.
class ImageSource {
public:
    static Result<std::shared_ptr<ImageSource>, DecodeError> create(
        QByteArray data, const DecodingLimits& limits = {});
    ~ImageSource();

    const QByteArray& data() const { return m_data; }
    // The lower-case format name: "png", "jpeg", "gif", "webp", "heic", "avif", ...
    const QByteArray& format() const { return m_format; }
    bool isGif() const { return m_gif != nullptr; }
    int frameCount() const { return m_frameCount; }
    // The first frame's size as shown (after orientation), or the GIF canvas.
    QSize pixelSize() const { return m_pixelSize; }
    // How often a GIF animation plays (0: forever); nothing when the data says nothing.
    std::optional<int> loopCount() const { return m_loopCount; }

    // The frame at `index`, whole. Nothing for an index out of range or a frame that cannot be
    // decoded (for GIF, also when an earlier frame it builds on cannot).
    std::optional<Bitmap> frame(int index) const;
    // The frame scaled down so that its longer side is at most `maxPixelSize`, never up; 0 or less
    // means whole.
    std::optional<Bitmap> frame(int index, int maxPixelSize) const;
    // Nothing for an index out of range.
    std::optional<FrameProperties> frameProperties(int index) const;

    // The first frame at most `maxPixelSize` on its longer side, never upscaled. A JPEG is decoded
    // straight at a reduced size by the DCT; other formats decode at the reduced size where their
    // reader can.
    std::optional<Bitmap> thumbnail(int maxPixelSize) const;

private:
    enum class Codec { qt, jpeg, heif };

    ImageSource() = default;
    std::optional<QImage> readWithQt(int index, std::optional<QSize> scaledTo) const;
    std::optional<QImage> decodeJpeg(int maxPixelSize) const;

    QByteArray m_data;
    Codec m_codec = Codec::qt;
    // A 16-bit RGB PNG with a transparent colour: the data Qt reads, without its tRNS chunk, and
    // the colour to make transparent.
    QByteArray m_qtData;
    std::optional<std::array<quint16, 3>> m_pngKey;
    // The EXIF orientation of a PNG's eXIf chunk, which Qt's reader does not apply.
    int m_pngOrientation = 1;
    QByteArray m_format;
    DecodingLimits m_limits;
    int m_frameCount = 0;
    QSize m_pixelSize;
    QSize m_storedSize; // before orientation
    std::optional<int> m_loopCount;
    // Milliseconds per frame of an animated WebP, read from its frame headers.
    std::vector<int> m_webpDurations;
    std::unique_ptr<GifDecoder> m_gif;
    mutable std::mutex m_gifMutex; // the GIF decoder keeps its last composited canvas
};

// The image a data blob holds, as a still image: every image of a multi-resolution icon file becomes
// a representation; for other formats the first frame. Point size = pixel size. Nothing when the
// data cannot be decoded within `limits`. An image decoded ahead for these bytes (DecodeAhead.h)
// is taken instead of decoding again.
std::shared_ptr<Image> imageFromData(const QByteArray& data, const DecodingLimits& limits = {});

// The same from a source already made.
std::shared_ptr<Image> stillImageFrom(const ImageSource& source, const DecodingLimits& limits);

// The source a still image of `data` is made from: only the first frame is read and held to
// `limits` (an animation or a document of many pages too large as a whole still has its first
// picture), except for icon files, whose every image is a representation.
Result<std::shared_ptr<ImageSource>, DecodeError> stillImageSource(
    const QByteArray& data, const DecodingLimits& limits = {});

// The first frame of `data` at most `maxPixelSize` pixels on its longer side, never upscaled. Later
// frames are neither read nor counted against `limits`.
std::optional<Bitmap> thumbnailFromData(
    const QByteArray& data, int maxPixelSize, const DecodingLimits& limits = {});

} // namespace platform
