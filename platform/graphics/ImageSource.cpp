#include "platform/graphics/ImageSource.h"

#include "platform/graphics/ColorManagement.h"
#include "platform/graphics/DecodeAhead.h"
#include "platform/graphics/GifDecoder.h"
#include "platform/graphics/HeifDecoder.h"
#include "platform/graphics/JpegDecoder.h"
#include "platform/graphics/WebpAnimation.h"

#include <QBuffer>
#include <QImageReader>
#include <QRgba64>

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

bool looksLikeJpeg(const QByteArray& data)
{
    return data.startsWith("\xff\xd8\xff");
}

quint32 read32(const QByteArray& data, qsizetype at)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData()) + at;
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | bytes[3];
}

// What the chunks of a PNG say before any pixel is decoded.
struct PngFacts {
    QSize size;
    // A 16-bit RGB image whose tRNS chunk names one transparent colour: Qt's reader decodes these
    // as garbage, so the chunk is taken out and the colour keyed here.
    qsizetype keyChunkOffset = -1;
    std::array<quint16, 3> keyColor {};
    // From an eXIf chunk: the same TIFF data a JPEG keeps in its EXIF marker.
    int orientation = 1;
};

constexpr qsizetype pngSignatureBytes = 8;
constexpr quint32 pngMaxChunkLength = 0x7fffffff;

// Walks the chunks of a PNG up to IEND. Every chunk must fit in the bytes that are left: the PNG
// reader allocates what a chunk declares before it finds the data missing, so a 400-byte file whose
// text chunk claims 2 GB would cost 2 GB. PNG keeps its size at a fixed place in its first chunk;
// reading it here does not depend on the rest of the file being there. Nothing for data that is
// not a PNG.
std::optional<Result<PngFacts, DecodeError>> scanPng(const QByteArray& data)
{
    using Scanned = Result<PngFacts, DecodeError>;
    if (!data.startsWith("\x89PNG\r\n\x1a\n"))
        return std::nullopt;
    if (data.size() < 33 || read32(data, 8) != 13 || data.mid(12, 4) != "IHDR")
        return Scanned::failure(DecodeError::corrupt);
    PngFacts facts;
    const quint32 width = read32(data, 16), height = read32(data, 20);
    constexpr quint32 intMax = quint32(std::numeric_limits<int>::max());
    facts.size = QSize(int(std::min(width, intMax)), int(std::min(height, intMax)));
    const int bitDepth = quint8(data[24]), colorType = quint8(data[25]);
    for (qsizetype at = pngSignatureBytes; at + 8 <= data.size();) {
        const quint32 length = read32(data, at);
        if (length > pngMaxChunkLength || qint64(length) + 12 > data.size() - at)
            return Scanned::failure(DecodeError::corrupt);
        const QByteArrayView type(data.constData() + at + 4, 4);
        if (type == "IEND")
            break;
        if (type == "eXIf") {
            // The chunk holds the TIFF data alone; some writers keep the marker's prefix too.
            QByteArray exif = data.mid(at + 8, qsizetype(length));
            if (!exif.startsWith(QByteArrayView("Exif\0\0", 6)))
                exif.prepend("Exif\0\0", 6);
            facts.orientation = exifOrientationOfMarker(
                reinterpret_cast<const unsigned char*>(exif.constData()), unsigned(exif.size()))
                                    .value_or(1);
        }
        if (type == "tRNS" && bitDepth == 16 && colorType == 2 && length == 6) {
            facts.keyChunkOffset = at;
            for (int channel = 0; channel < 3; ++channel) {
                const auto* sample
                    = reinterpret_cast<const unsigned char*>(data.constData()) + at + 8 + 2 * channel;
                facts.keyColor[std::size_t(channel)] = quint16(sample[0] << 8 | sample[1]);
            }
        }
        at += 12 + qsizetype(length);
    }
    return Scanned::success(facts);
}

// The image with every pixel of the key colour made transparent.
QImage keyed(QImage image, const std::array<quint16, 3>& key)
{
    image.convertTo(QImage::Format_RGBA64);
    for (int y = 0; y < image.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgba64*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++pixel) {
            if (pixel->red() == key[0] && pixel->green() == key[1] && pixel->blue() == key[2])
                pixel->setAlpha(0);
        }
    }
    return image;
}

// A reader over bytes. The buffer shares the bytes; nothing writes to them.
struct BufferReader {
    // With a known `format` the reader goes straight to its handler instead of asking every plugin.
    explicit BufferReader(const QByteArray& data, const QByteArray& format = {})
    {
        buffer.setData(data);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setAutoTransform(true);
        if (!format.isEmpty()) {
            reader.setFormat(format);
            reader.setDecideFormatFromContent(false);
        }
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

std::optional<Bitmap> scaledDown(std::optional<Bitmap> bitmap, int maxPixelSize)
{
    if (!bitmap)
        return bitmap;
    const QSize fitted = sizeFittingLongSide(bitmap->image().size(), maxPixelSize);
    if (fitted == bitmap->image().size())
        return bitmap;
    return Bitmap::fromImage(
        safelyScalable(bitmap->image()).scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
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

    if (looksLikeHeif(data)) {
        auto header = readHeifHeader(data, limits);
        if (!header)
            return SourceResult::failure(header.error());
        source->m_codec = Codec::heif;
        source->m_format = header.value().format;
        source->m_frameCount = 1;
        source->m_storedSize = source->m_pixelSize = header.value().size;
        source->m_data = std::move(data);
        return SourceResult::success(std::move(source));
    }

    // JPEG and PNG headers are read here rather than by a probing QImageReader: a disk-cache hit
    // then costs one decode and nothing around it.
    if (looksLikeJpeg(data)) {
        if (const std::optional<JpegHeader> header = readJpegHeader(data);
            header && (header->components == 1 || header->components == 3 || header->components == 4)) {
            if (!fitsLimits(header->storedSize, 1, limits))
                return SourceResult::failure(DecodeError::tooLarge);
            source->m_codec = Codec::jpeg;
            source->m_format = "jpeg";
            source->m_frameCount = 1;
            source->m_storedSize = header->storedSize;
            source->m_pixelSize
                = header->orientation >= 5 ? header->storedSize.transposed() : header->storedSize;
            source->m_data = std::move(data);
            return SourceResult::success(std::move(source));
        }
    }
    if (std::optional<Result<PngFacts, DecodeError>> png = scanPng(data)) {
        if (!*png)
            return SourceResult::failure(png->error());
        const PngFacts& facts = png->value();
        if (!fitsLimits(facts.size, 1, limits))
            return SourceResult::failure(DecodeError::tooLarge);
        source->m_format = "png";
        source->m_frameCount = 1;
        source->m_storedSize = facts.size;
        source->m_pngOrientation = facts.orientation;
        source->m_pixelSize = facts.orientation >= 5 ? facts.size.transposed() : facts.size;
        if (facts.keyChunkOffset >= 0) {
            source->m_pngKey = facts.keyColor;
            // The same file without its tRNS chunk (4 bytes of length, 4 of type, 6 of colour and 4
            // of CRC), which the reader decodes right.
            source->m_qtData = data;
            source->m_qtData.remove(facts.keyChunkOffset, 18);
        }
        source->m_data = std::move(data);
        return SourceResult::success(std::move(source));
    }

    BufferReader probe(data);
    if (!probe.reader.canRead())
        return SourceResult::failure(DecodeError::unrecognizedFormat);
    source->m_format = probe.reader.format().toLower();
    // Qt's SVG reader opens every picture a drawing names by path while it reads even its size: a
    // drawing could copy any picture on the disk into ours, or wait forever on a pipe or a terminal.
    if (source->m_format == "svg" || source->m_format == "svgz")
        return SourceResult::failure(DecodeError::unrecognizedFormat);
    source->m_frameCount = limits.firstFrameOnly ? 1 : std::max(1, probe.reader.imageCount());
    const QSize size = probe.reader.size();
    if (!fitsLimits(size, source->m_frameCount, limits))
        return SourceResult::failure(DecodeError::tooLarge);
    source->m_storedSize = size;
    source->m_pixelSize
        = probe.reader.transformation() & QImageIOHandler::TransformationRotate90 ? size.transposed() : size;
    if (probe.reader.supportsAnimation() && probe.reader.loopCount() >= 0)
        source->m_loopCount = probe.reader.loopCount();
    // Qt's reader tells a frame's duration only once every frame before it is decoded.
    if (source->m_format == "webp" && source->m_frameCount > 1)
        source->m_webpDurations = webpFrameDurations(data);
    source->m_data = std::move(data);
    return SourceResult::success(std::move(source));
}

std::optional<QImage> ImageSource::readWithQt(int index, std::optional<QSize> scaledTo) const
{
    // The format is known: from its signature for PNG, from the probing reader for the others.
    BufferReader reader(m_pngKey ? m_qtData : m_data, m_format);
    if (index > 0 && !reader.reader.jumpToImage(index)) {
        for (int i = 0; i < index; ++i) {
            if (!fitsLimits(reader.reader.size(), 1, m_limits) || reader.reader.read().isNull())
                return std::nullopt;
        }
    }
    if (!fitsLimits(reader.reader.size(), 1, m_limits))
        return std::nullopt;
    // A reader that cannot decode at a reduced size (PNG among them) decodes every pixel and then
    // scales them as Qt does, which safelyScalable says is wrong for many pixel formats: those are
    // scaled here once decoded.
    if (scaledTo && m_format != "png" && isSafelyScalable(reader.reader.imageFormat()))
        reader.reader.setScaledSize(*scaledTo);
    QImage image = reader.reader.read();
    if (image.isNull())
        return std::nullopt;
    if (m_pngKey)
        image = keyed(std::move(image), *m_pngKey);
    // Turned only where the reader did not turn it itself.
    if (m_pngOrientation != 1 && reader.reader.transformation() == QImageIOHandler::TransformationNone)
        image = orientedByExif(image, m_pngOrientation);
    if (image.format() == QImage::Format_RGBA64)
        image = safelyScalable(image);
    convertToSrgb(image);
    return image;
}

std::optional<QImage> ImageSource::decodeJpeg(int maxPixelSize) const
{
    auto decoded = decodeScaledJpeg(m_data, maxPixelSize, m_limits);
    if (decoded)
        return std::move(decoded).value();
    if (decoded.error() != JpegFailure::unsupported)
        return std::nullopt;
    // Qt's reader sets no bound on the scans.
    if (jpegScanCount(m_data, maxJpegScans) > maxJpegScans)
        return std::nullopt;
    return readWithQt(0, std::nullopt);
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
    std::optional<QImage> image = m_codec == Codec::jpeg ? decodeJpeg(0)
        : m_codec == Codec::heif                         ? decodeHeif(m_data, 0, m_limits)
                                                         : readWithQt(index, std::nullopt);
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
    } else if (std::size_t(index) < m_webpDurations.size()) {
        properties.webpDurationSeconds = m_webpDurations[std::size_t(index)] / 1000.0;
    }
    return properties;
}

std::optional<Bitmap> ImageSource::thumbnail(int maxPixelSize) const
{
    if (m_gif)
        return scaledDown(frame(0), maxPixelSize);
    if (m_codec == Codec::jpeg || m_codec == Codec::heif) {
        std::optional<QImage> image
            = m_codec == Codec::jpeg ? decodeJpeg(maxPixelSize) : decodeHeif(m_data, maxPixelSize, m_limits);
        return image ? scaledDown(Bitmap::fromImage(std::move(*image)), maxPixelSize) : std::nullopt;
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

namespace {

// Icon files hold one picture at several resolutions: each is a representation.
bool isIconFormat(const QByteArray& format)
{
    return format == "ico" || format == "icns" || format == "cur";
}

} // namespace

Result<std::shared_ptr<ImageSource>, DecodeError> stillImageSource(
    const QByteArray& data, const DecodingLimits& limits)
{
    DecodingLimits firstFrame = limits;
    firstFrame.firstFrameOnly = true;
    auto created = ImageSource::create(data, firstFrame);
    if (created && !limits.firstFrameOnly && isIconFormat(created.value()->format()))
        return ImageSource::create(data, limits);
    return created;
}

std::shared_ptr<Image> stillImageFrom(const ImageSource& source, const DecodingLimits& limits)
{
    if (isIconFormat(source.format())) {
        std::vector<Bitmap> representations;
        qint64 bytes = 0;
        for (int i = 0; i < source.frameCount(); ++i) {
            std::optional<Bitmap> bitmap = source.frame(i);
            if (!bitmap)
                continue;
            bytes += bitmap->byteCount();
            if (bytes > limits.maxTotalBytes)
                return nullptr;
            representations.push_back(std::move(*bitmap));
        }
        return Image::create(std::move(representations));
    }
    std::optional<Bitmap> bitmap = source.frame(0);
    return bitmap ? Image::create(std::move(*bitmap)) : nullptr;
}

std::shared_ptr<Image> imageFromData(const QByteArray& data, const DecodingLimits& limits)
{
    if (limits == DecodingLimits()) {
        // Bytes that failed ahead would fail here the same way, only later and at the same cost.
        decodeAhead::Taken ahead = decodeAhead::takeResult(data);
        if (ahead.kind != decodeAhead::Taken::Kind::none)
            return std::move(ahead.image);
    }
    // A JPEG is decoded at once, its header read by the decode itself rather than once more by a
    // source first. What that decode does not take (a damaged file, an unusual number of
    // components) goes the general way, which gives the same image or none.
    if (looksLikeJpeg(data)) {
        if (auto decoded = decodeScaledJpeg(data, 0, limits)) {
            if (std::optional<Bitmap> bitmap = Bitmap::fromImage(std::move(decoded).value()))
                return Image::create(std::move(*bitmap));
        }
    }
    auto created = stillImageSource(data, limits);
    if (!created)
        return nullptr;
    return stillImageFrom(*created.value(), limits);
}

std::optional<Bitmap> thumbnailFromData(
    const QByteArray& data, int maxPixelSize, const DecodingLimits& limits)
{
    // Only the first frame is made, so only it is held to the limits: a long animation too large
    // as a whole still gives its thumbnail.
    DecodingLimits firstFrame = limits;
    firstFrame.firstFrameOnly = true;
    auto created = ImageSource::create(data, firstFrame);
    if (!created)
        return std::nullopt;
    return created.value()->thumbnail(maxPixelSize);
}

} // namespace platform
