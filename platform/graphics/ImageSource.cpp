#include "platform/graphics/ImageSource.h"

#include "platform/graphics/GifDecoder.h"
#include "platform/graphics/JpegDecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>

#include <algorithm>
#include <limits>

namespace platform {

namespace {

// QImageReader's own allocation bound is process-wide. It is raised once to what one frame within
// the default limits may need at 16 bits per sample; the limits themselves are checked from the
// headers before reading.
constexpr int qtAllocationLimitMegabytes = 800;

void raiseQtAllocationLimit()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QImageReader::allocationLimit() < qtAllocationLimitMegabytes)
            QImageReader::setAllocationLimit(qtAllocationLimitMegabytes);
    });
}

bool looksLikeGif(const QByteArray& data)
{
    return data.startsWith("GIF87a") || data.startsWith("GIF89a");
}

// PNG keeps its size at a fixed place in its first chunk; reading it here does not depend on the
// rest of the file being there, as the PNG reader's own header pass does.
std::optional<QSize> pngDeclaredSize(const QByteArray& data)
{
    if (data.size() < 24 || !data.startsWith("\x89PNG\r\n\x1a\n") || data.mid(12, 4) != "IHDR")
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const auto read32 = [&](int at) {
        return qint64(bytes[at]) << 24 | qint64(bytes[at + 1]) << 16 | qint64(bytes[at + 2]) << 8
            | bytes[at + 3];
    };
    const qint64 width = read32(16), height = read32(20);
    if (width > std::numeric_limits<int>::max() || height > std::numeric_limits<int>::max())
        return QSize(std::numeric_limits<int>::max(), std::numeric_limits<int>::max());
    return QSize(int(width), int(height));
}

// A reader over bytes. The buffer shares the bytes; nothing writes to them.
struct BufferReader {
    explicit BufferReader(const QByteArray& data)
    {
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setAutoTransform(true);
    }
    QBuffer buffer;
    QImageReader reader;
};

bool fitsLimits(QSize size, int frames, const DecodingLimits& limits)
{
    if (!size.isValid())
        return true; // the reader cannot tell before decoding; its own allocation bound applies
    const qint64 pixels = qint64(size.width()) * size.height();
    return pixels <= limits.maxPixelsPerFrame && pixels * 4 * std::max(1, frames) <= limits.maxTotalBytes;
}

void convertToSrgb(QImage& image)
{
    const QColorSpace space = image.colorSpace();
    if (!space.isValid() || space == QColorSpace(QColorSpace::SRgb))
        return;
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8:
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
    case QImage::Format_Alpha8:
        return;
    default:
        image.convertToColorSpace(QColorSpace::SRgb);
    }
}

std::optional<Bitmap> scaledDown(std::optional<Bitmap> bitmap, int maxPixelSize)
{
    if (!bitmap)
        return bitmap;
    const QSize fitted = sizeFittingLongSide(bitmap->image().size(), maxPixelSize);
    if (fitted == bitmap->image().size())
        return bitmap;
    return Bitmap::fromImage(bitmap->image().scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

} // namespace

ImageSource::~ImageSource() = default;

Result<std::shared_ptr<ImageSource>, DecodeError> ImageSource::create(
    QByteArray data, const DecodingLimits& limits)
{
    using SourceResult = Result<std::shared_ptr<ImageSource>, DecodeError>;
    raiseQtAllocationLimit();
    if (data.isEmpty())
        return SourceResult::failure(DecodeError::unrecognizedFormat);

    std::shared_ptr<ImageSource> source(new ImageSource);
    source->m_limits = limits;
    if (looksLikeGif(data)) {
        auto parsed = GifDecoder::parse(data, limits);
        if (!parsed)
            return SourceResult::failure(parsed.error());
        source->m_gif = std::move(parsed).value();
        source->m_format = "gif";
        source->m_frameCount = source->m_gif->frameCount();
        source->m_pixelSize = source->m_gif->canvasSize();
        source->m_loopCount = source->m_gif->loopCount();
        source->m_data = std::move(data);
        return SourceResult::success(std::move(source));
    }

    if (const std::optional<QSize> declared = pngDeclaredSize(data);
        declared && !fitsLimits(*declared, 1, limits))
        return SourceResult::failure(DecodeError::tooLarge);
    BufferReader probe(data);
    if (!probe.reader.canRead())
        return SourceResult::failure(DecodeError::unrecognizedFormat);
    source->m_format = probe.reader.format().toLower();
    source->m_frameCount = std::max(1, probe.reader.imageCount());
    const QSize size = probe.reader.size();
    if (!fitsLimits(size, source->m_frameCount, limits))
        return SourceResult::failure(DecodeError::tooLarge);
    source->m_storedSize = size;
    source->m_pixelSize
        = probe.reader.transformation() & QImageIOHandler::TransformationRotate90 ? size.transposed() : size;
    if (probe.reader.supportsAnimation() && probe.reader.loopCount() >= 0)
        source->m_loopCount = probe.reader.loopCount();
    source->m_data = std::move(data);
    return SourceResult::success(std::move(source));
}

std::optional<QImage> ImageSource::readWithQt(int index, std::optional<QSize> scaledTo) const
{
    BufferReader reader(m_data);
    if (index > 0 && !reader.reader.jumpToImage(index)) {
        for (int i = 0; i < index; ++i) {
            if (!fitsLimits(reader.reader.size(), 1, m_limits) || reader.reader.read().isNull())
                return std::nullopt;
        }
    }
    if (!fitsLimits(reader.reader.size(), 1, m_limits))
        return std::nullopt;
    if (scaledTo)
        reader.reader.setScaledSize(*scaledTo);
    QImage image = reader.reader.read();
    if (image.isNull())
        return std::nullopt;
    convertToSrgb(image);
    return image;
}

std::optional<Bitmap> ImageSource::frame(int index) const
{
    if (index < 0 || index >= m_frameCount)
        return std::nullopt;
    if (m_gif) {
        std::lock_guard lock(m_gifMutex);
        std::optional<QImage> image = m_gif->frame(index);
        return image ? Bitmap::fromImage(std::move(*image)) : std::nullopt;
    }
    std::optional<QImage> image = readWithQt(index, std::nullopt);
    return image ? Bitmap::fromImage(std::move(*image)) : std::nullopt;
}

std::optional<Bitmap> ImageSource::frame(int index, int maxPixelSize) const
{
    if (maxPixelSize <= 0)
        return frame(index);
    if (index == 0)
        return thumbnail(maxPixelSize);
    return scaledDown(frame(index), maxPixelSize);
}

std::optional<FrameProperties> ImageSource::frameProperties(int index) const
{
    if (index < 0 || index >= m_frameCount)
        return std::nullopt;
    FrameProperties properties;
    if (m_gif) {
        properties.isGif = true;
        if (const std::optional<int> centiseconds = m_gif->delayCentiseconds(index))
            properties.gifDelaySeconds = *centiseconds / 100.0;
    }
    return properties;
}

std::optional<Bitmap> ImageSource::thumbnail(int maxPixelSize) const
{
    if (m_gif)
        return scaledDown(frame(0), maxPixelSize);
    if (m_format == "jpeg" || m_format == "jpg") {
        auto decoded = decodeScaledJpeg(m_data, maxPixelSize, m_limits);
        if (decoded)
            return Bitmap::fromImage(std::move(decoded).value());
        if (decoded.error() != JpegFailure::unsupported)
            return std::nullopt;
    }
    // The reader scales before it orients, so the wanted size is given in stored orientation; the
    // longer side is the same either way.
    std::optional<QSize> scaledTo;
    const QSize stored = m_storedSize;
    if (stored.isValid() && maxPixelSize > 0) {
        const QSize fitted = sizeFittingLongSide(stored, maxPixelSize);
        if (fitted != stored)
            scaledTo = fitted;
    }
    std::optional<QImage> image = readWithQt(0, scaledTo);
    if (!image)
        return std::nullopt;
    return scaledDown(Bitmap::fromImage(std::move(*image)), maxPixelSize);
}

std::shared_ptr<Image> imageFromData(const QByteArray& data, const DecodingLimits& limits)
{
    auto created = ImageSource::create(data, limits);
    if (!created)
        return nullptr;
    const std::shared_ptr<ImageSource>& source = created.value();
    // Icon files hold one picture at several resolutions: each is a representation.
    if (source->format() == "ico" || source->format() == "icns" || source->format() == "cur") {
        std::vector<Bitmap> representations;
        qint64 bytes = 0;
        for (int i = 0; i < source->frameCount(); ++i) {
            std::optional<Bitmap> bitmap = source->frame(i);
            if (!bitmap)
                continue;
            bytes += bitmap->byteCount();
            if (bytes > limits.maxTotalBytes)
                return nullptr;
            representations.push_back(std::move(*bitmap));
        }
        return Image::create(std::move(representations));
    }
    std::optional<Bitmap> bitmap = source->frame(0);
    return bitmap ? Image::create(std::move(*bitmap)) : nullptr;
}

std::optional<Bitmap> thumbnailFromData(
    const QByteArray& data, int maxPixelSize, const DecodingLimits& limits)
{
    auto created = ImageSource::create(data, limits);
    if (!created)
        return std::nullopt;
    return created.value()->thumbnail(maxPixelSize);
}

} // namespace platform
