#include "Iris/cache/CacheSerializer.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Image.h"

#include <algorithm>
#include <cstring>

namespace iris {

namespace {

std::optional<QByteArray> encodedInFormat(
    const std::shared_ptr<platform::Image>& image, ImageFormat format, double quality)
{
    if (!image)
        return std::nullopt;
    switch (format) {
    case ImageFormat::PNG:
        return ir(image).pngRepresentation();
    case ImageFormat::JPEG:
        return ir(image).jpegRepresentation(quality);
    case ImageFormat::GIF:
        return ir(image).animatedImageData();
    case ImageFormat::unknown:
        break;
    }
    return std::nullopt;
}

// Whether some pixel of the image is not fully opaque, which JPEG would paint black.
bool hasTransparentPixels(const platform::Image& image)
{
    const platform::Bitmap* bitmap = image.bitmap();
    if (!bitmap || !bitmap->hasAlpha())
        return false;
    const QImage& stored = bitmap->image();
    const QImage pixels
        = stored.format() == QImage::Format_ARGB32 || stored.format() == QImage::Format_ARGB32_Premultiplied
        ? stored
        : stored.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < pixels.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        if (std::any_of(line, line + pixels.width(), [](QRgb pixel) { return qAlpha(pixel) != 255; }))
            return true;
    }
    return false;
}

// Whether a JPEG runs to its end-of-image marker. A file cut short still decodes, its missing rows
// filled in grey; read from the cache it must count as absent, so that the image is fetched again
// rather than shown damaged for as long as the file stays.
bool reachesEndOfJpeg(const QByteArray& data)
{
    const auto byteAt = [&](qsizetype at) { return quint8(data.at(at)); };
    qsizetype at = 2;
    while (at + 1 < data.size()) {
        if (byteAt(at) != 0xff)
            return false;
        const quint8 marker = byteAt(at + 1);
        if (marker == 0xff) {
            ++at; // fill byte
            continue;
        }
        if (marker == 0xd9)
            return true;
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            at += 2;
            continue;
        }
        if (at + 3 >= data.size())
            return false;
        const qsizetype length = (qsizetype(byteAt(at + 2)) << 8) | byteAt(at + 3);
        if (length < 2)
            return false;
        at += 2 + length;
        if (marker != 0xda)
            continue;
        // Entropy-coded data ends at the first marker that is neither a stuffed zero nor a restart;
        // memchr keeps this walk far below the decode's cost.
        for (;;) {
            const void* found = at < data.size()
                ? std::memchr(data.constData() + at, 0xff, size_t(data.size() - at))
                : nullptr;
            if (!found)
                return false;
            at = static_cast<const char*>(found) - data.constData();
            if (at + 1 >= data.size())
                return false;
            const quint8 next = byteAt(at + 1);
            if (next != 0x00 && !(next >= 0xd0 && next <= 0xd7))
                break;
            at += 2;
        }
    }
    return false;
}

// Whether GIF data ends part-way through a block. Its decoder shows the frames before a frame cut
// short, so such a file would play as a shorter animation for as long as it stays; read from the cache
// it counts as absent instead. Data that stops between blocks is taken as whole: some encoders leave
// out the trailer, and such files are complete. A block this walk does not know is left to the
// decoder.
bool endsInsideAGifBlock(const QByteArray& data)
{
    const auto byteAt = [&](qsizetype at) { return quint8(data.at(at)); };
    const auto colourTableSize = [](quint8 flags) { return flags & 0x80 ? 3 * (2 << (flags & 7)) : 0; };
    // Sub-blocks, each a length byte and that many bytes, end with a length of zero.
    const auto skipSubBlocks = [&](qsizetype at) -> qsizetype {
        while (at < data.size() && byteAt(at) != 0)
            at += 1 + byteAt(at);
        return at < data.size() ? at + 1 : -1;
    };
    constexpr qsizetype screenDescriptorEnd = 13;
    if (data.size() < screenDescriptorEnd)
        return true;
    qsizetype at = screenDescriptorEnd + colourTableSize(byteAt(10));
    while (at < data.size()) {
        switch (byteAt(at)) {
        case 0x3b: // the trailer
            return false;
        case 0x21: // an extension: its label, then sub-blocks
            at = at + 1 < data.size() ? skipSubBlocks(at + 2) : -1;
            break;
        case 0x2c: // an image: its descriptor, colour table and code size, then sub-blocks
            if (at + 10 > data.size())
                return true;
            at += 10 + colourTableSize(byteAt(at + 9));
            at = at < data.size() ? skipSubBlocks(at + 1) : -1;
            break;
        default:
            return false;
        }
        if (at < 0)
            return true;
    }
    return false;
}

} // namespace

std::shared_ptr<platform::Image> CacheSerializer::imageFromCacheData(
    const QByteArray& data, const IrisParsedOptionsInfo& options) const
{
    if (detectImageFormat(data) == ImageFormat::JPEG && !reachesEndOfJpeg(data))
        return nullptr;
    if (detectImageFormat(data) == ImageFormat::GIF) {
        if (endsInsideAGifBlock(data))
            return nullptr;
        ImageCreatingOptions creating;
        creating.onlyFirstFrame = options.onlyLoadFirstFrame;
        return ImageWrapper::imageFromData(data, creating);
    }
    return ImageWrapper::decodeImage(data);
}

const std::shared_ptr<const DefaultCacheSerializer>& DefaultCacheSerializer::shared()
{
    static const std::shared_ptr<const DefaultCacheSerializer> instance
        = std::make_shared<const DefaultCacheSerializer>();
    return instance;
}

std::optional<QByteArray> DefaultCacheSerializer::dataForImage(
    const std::shared_ptr<platform::Image>& image, const std::optional<QByteArray>& original) const
{
    if (preferCacheOriginalData) {
        if (original)
            return original;
        return image ? ir(image).pngRepresentation() : std::nullopt;
    }
    if (!image)
        return std::nullopt;
    ImageFormat format = original ? detectImageFormat(*original) : ImageFormat::unknown;
    // A processor may have given a photo clear parts (round corners, a mask): in JPEG they would
    // come back black from the disk. PNG keeps them; reading goes by the bytes, not the original.
    if (format == ImageFormat::JPEG && hasTransparentPixels(*image))
        format = ImageFormat::PNG;
    return ir(image).dataInFormat(format, compressionQuality);
}

QString DefaultCacheSerializer::description() const
{
    return QStringLiteral("DefaultCacheSerializer(compressionQuality: %1, preferCacheOriginalData: %2)")
        .arg(QString::number(compressionQuality), preferCacheOriginalData ? "true" : "false");
}

std::shared_ptr<const FormatIndicatedCacheSerializer> FormatIndicatedCacheSerializer::png()
{
    return std::make_shared<const FormatIndicatedCacheSerializer>(ImageFormat::PNG);
}

std::shared_ptr<const FormatIndicatedCacheSerializer> FormatIndicatedCacheSerializer::jpeg(
    double compressionQuality)
{
    return std::make_shared<const FormatIndicatedCacheSerializer>(ImageFormat::JPEG, compressionQuality);
}

std::shared_ptr<const FormatIndicatedCacheSerializer> FormatIndicatedCacheSerializer::gif()
{
    return std::make_shared<const FormatIndicatedCacheSerializer>(ImageFormat::GIF);
}

std::optional<QByteArray> FormatIndicatedCacheSerializer::dataForImage(
    const std::shared_ptr<platform::Image>& image, const std::optional<QByteArray>& original) const
{
    const double quality = jpegCompressionQuality.value_or(1.0);
    if (std::optional<QByteArray> data = encodedInFormat(image, imageFormat, quality))
        return data;
    if (!original)
        return image ? ir(image).pngRepresentation() : std::nullopt;
    const ImageFormat originalFormat = detectImageFormat(*original);
    if (originalFormat == imageFormat)
        return original;
    if (std::optional<QByteArray> data = encodedInFormat(image, originalFormat, quality))
        return data;
    return original;
}

QString FormatIndicatedCacheSerializer::description() const
{
    static const char* const names[] = { "unknown", "PNG", "JPEG", "GIF" };
    QString text = QStringLiteral("FormatIndicatedCacheSerializer(%1").arg(names[int(imageFormat)]);
    if (jpegCompressionQuality)
        text += QStringLiteral(", %1").arg(QString::number(*jpegCompressionQuality));
    return text + QLatin1Char(')');
}

} // namespace iris
