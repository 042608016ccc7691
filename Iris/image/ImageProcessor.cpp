#include "Iris/image/ImageProcessor.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/Image.h"

#include "platform/graphics/Image.h"

namespace iris {

std::shared_ptr<platform::Image> ImageProcessItem::imageValue() const
{
    const auto* image = std::get_if<std::shared_ptr<platform::Image>>(&value);
    return image ? *image : nullptr;
}

QByteArray ImageProcessItem::dataValue() const
{
    const auto* data = std::get_if<QByteArray>(&value);
    return data ? *data : QByteArray();
}

QString ImageProcessItem::description() const
{
    if (const auto* image = std::get_if<std::shared_ptr<platform::Image>>(&value)) {
        if (!*image)
            return QStringLiteral("image(nil)");
        const platform::Size size = (*image)->size();
        return QStringLiteral("image(%1 x %2)").arg(size.width).arg(size.height);
    }
    return QStringLiteral("data(%1 bytes)").arg(std::get<QByteArray>(value).size());
}

ImageProcessorPtr ImageProcessor::appendProcessor(ImageProcessorPtr another) const
{
    return iris::appendProcessor(shared_from_this(), std::move(another));
}

QString ImageProcessor::description() const
{
    return QStringLiteral("ImageProcessor(\"") + identifier() + QStringLiteral("\")");
}

ImageProcessorPtr appendProcessor(ImageProcessorPtr first, ImageProcessorPtr second)
{
    // A missing stage only decodes, as the default processor does: its empty identifier says just
    // that, so a chain with a gap must not fail where the chain its key names succeeds.
    if (!first)
        first = DefaultImageProcessor::shared();
    if (!second)
        second = DefaultImageProcessor::shared();
    QString identifier = first->identifier() + QStringLiteral("|>") + second->identifier();
    return std::make_shared<GeneralProcessor>(std::move(identifier),
        [first = std::move(first), second = std::move(second)](const ImageProcessItem& item,
            const IrisParsedOptionsInfo& options) -> std::shared_ptr<platform::Image> {
            std::shared_ptr<platform::Image> image = first->process(item, options);
            if (!image)
                return nullptr;
            return second->process(ImageProcessItem::image(std::move(image)), options);
        });
}

const std::shared_ptr<const DefaultImageProcessor>& DefaultImageProcessor::shared()
{
    static const std::shared_ptr<const DefaultImageProcessor> instance
        = std::make_shared<const DefaultImageProcessor>();
    return instance;
}

std::shared_ptr<platform::Image> DefaultImageProcessor::process(
    const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const
{
    if (item.isImage())
        return scaledImageForProcessing(item.imageValue(), options.scaleFactor);
    const QByteArray data = item.dataValue();
    if (detectImageFormat(data) == ImageFormat::GIF) {
        ImageCreatingOptions creating;
        creating.onlyFirstFrame = options.onlyLoadFirstFrame;
        return ImageWrapper::imageFromData(data, creating);
    }
    return ImageWrapper::decodeImage(data);
}

std::shared_ptr<platform::Image> scaledImageForProcessing(
    const std::shared_ptr<platform::Image>& image, double scaleFactor)
{
    if (scaleFactor == 1.0 || !image)
        return image;
    const platform::Bitmap* bitmap = image->bitmap();
    if (!bitmap)
        return image;
    return platform::Image::create(*bitmap);
}

std::shared_ptr<platform::Image> processDataThroughDefault(
    const ImageProcessor& processor, const ImageProcessItem& item, const IrisParsedOptionsInfo& options)
{
    if (item.isImage())
        return processor.process(item, options);
    std::shared_ptr<platform::Image> decoded = DefaultImageProcessor::shared()->process(item, options);
    if (!decoded)
        return nullptr;
    return processor.process(ImageProcessItem::image(std::move(decoded)), options);
}

} // namespace iris
