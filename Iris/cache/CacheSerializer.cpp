#include "Iris/cache/CacheSerializer.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Image.h"

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

} // namespace

std::shared_ptr<platform::Image> CacheSerializer::imageFromCacheData(
    const QByteArray& data, const IrisParsedOptionsInfo& options) const
{
    if (detectImageFormat(data) == ImageFormat::GIF) {
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
    const ImageFormat format = original ? detectImageFormat(*original) : ImageFormat::unknown;
    return image ? ir(image).dataInFormat(format, compressionQuality) : std::nullopt;
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
