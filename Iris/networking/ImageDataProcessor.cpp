#include "Iris/networking/ImageDataProcessor.h"

#include "Iris/general/IrisNames.h"
#include "Iris/image/Image.h"
#include "Iris/image/ImageProcessor.h"
#include "Iris/networking/ImageProgressive.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"

#include <QImage>
#include <QPainter>

#include <map>

namespace iris {

ImageDataProcessor::ImageDataProcessor(QByteArray data, SessionDataTask::Callbacks callbacks,
    std::optional<CallbackQueue> processingQueue, std::shared_ptr<const SessionDataTask> source)
    : m_data(std::move(data))
    , m_callbacks(std::move(callbacks))
    , m_queue(processingQueue ? *processingQueue : CallbackQueue::dispatch(sharedProcessingQueue()))
    , m_source(std::move(source))
{
}

const std::shared_ptr<platform::DispatchQueue>& ImageDataProcessor::sharedProcessingQueue()
{
    static const std::shared_ptr<platform::DispatchQueue> queue = platform::DispatchQueue::makeSerial(
        irisName(QStringLiteral("ImageDownloader.Process")).toStdString());
    return queue;
}

void ImageDataProcessor::startProcessing()
{
    runCallback(m_queue, [self = shared_from_this()] { self->processData(); });
}

namespace {

// The progressive decoders that read the download as it arrived, one per request that showed it.
std::vector<std::shared_ptr<ImageProgressiveProvider>> progressiveProviders(
    const SessionDataTask::Callbacks& callbacks)
{
    std::vector<std::shared_ptr<ImageProgressiveProvider>> providers;
    for (const TaskCallback& callback : callbacks) {
        if (!callback.options.onDataReceived)
            continue;
        for (const std::shared_ptr<DataReceivingSideEffect>& effect : *callback.options.onDataReceived) {
            if (auto provider = std::dynamic_pointer_cast<ImageProgressiveProvider>(effect))
                providers.push_back(std::move(provider));
        }
    }
    return providers;
}

} // namespace

void ImageDataProcessor::processData()
{
    if (m_callbacks.empty())
        return;
    const std::vector<std::shared_ptr<ImageProgressiveProvider>> providers = m_source
        ? progressiveProviders(m_callbacks)
        : std::vector<std::shared_ptr<ImageProgressiveProvider>>();
    // What the default processor makes of a progressive JPEG whose scans a decoder has already read:
    // that decoder's last pass gives the same pixels without reading them all again. Other
    // processors are handed the data as always.
    auto finishedProgressiveImage = [&]() -> std::shared_ptr<platform::Image> {
        for (const std::shared_ptr<ImageProgressiveProvider>& provider : providers) {
            if (std::shared_ptr<platform::Image> image = provider->decoder().finishedImage(m_data, m_source))
                return image;
        }
        return nullptr;
    };
    std::map<QString, std::shared_ptr<platform::Image>> imagesByProcessor;
    // One decoded copy per image: requests joined on one download would otherwise each hold pixels
    // of their own. The key keeps its image alive, so an address is never reused within the run.
    std::map<std::shared_ptr<platform::Image>, std::shared_ptr<platform::Image>> decodedImages;
    const ImageProcessItem item = ImageProcessItem::data(m_data);
    for (const TaskCallback& callback : m_callbacks) {
        ImageProcessorPtr processor = callback.options.processor;
        if (!processor)
            processor = DefaultImageProcessor::shared();
        // Requests share an image only when they also agree on the first frame alone or the animation.
        QString identifier = processor->identifier();
        if (callback.options.onlyLoadFirstFrame)
            identifier += QStringLiteral("\nfirst frame");

        std::shared_ptr<platform::Image> image;
        if (auto found = imagesByProcessor.find(identifier); found != imagesByProcessor.end()) {
            image = found->second;
        } else {
            if (!providers.empty() && dynamic_cast<const DefaultImageProcessor*>(processor.get()))
                image = finishedProgressiveImage();
            // A processor is outside code running on a queue thread: whatever it throws means "no image".
            try {
                if (!image)
                    image = processor->process(item, callback.options);
            } catch (...) {
                image = nullptr;
            }
            if (image)
                imagesByProcessor[identifier] = image;
            else
                imagesByProcessor.erase(identifier);
        }

        if (!image) {
            auto failedItem = std::make_shared<const ImageProcessItem>(item);
            IrisError error = IrisError::processorError(
                IrisError::ProcessorErrorReason::processingFailed(ErrorObject<ImageProcessor>::of(processor),
                    ErrorObject<ImageProcessItem> { failedItem, failedItem->description() }));
            onImageProcessed({ ImageOrError::failure(std::move(error)), callback });
            continue;
        }
        std::shared_ptr<platform::Image> result = image;
        if (callback.options.backgroundDecode) {
            std::shared_ptr<platform::Image>& decoded = decodedImages[image];
            if (!decoded)
                decoded = decodedImage(image, 1.0);
            result = decoded;
        }
        onImageProcessed({ ImageOrError::success(std::move(result)), callback });
    }
    // The decoders that gave nothing hold the coefficients of a whole image.
    for (const std::shared_ptr<ImageProgressiveProvider>& provider : providers)
        provider->decoder().releaseDecoder();
}

std::shared_ptr<platform::Image> ImageDataProcessor::decodedImage(
    const std::shared_ptr<platform::Image>& image, double /*scale*/)
{
    if (!image || image->isAnimated() || ImageWrapper { image }.images())
        return image;
    const platform::Bitmap* bitmap = image->bitmap();
    if (!bitmap)
        return image;
    const QImage& source = bitmap->image();
    QImage target(source.size(), QImage::Format_ARGB32_Premultiplied);
    if (target.isNull())
        return image;
    target.fill(Qt::transparent);
    {
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, source);
    }
    std::optional<platform::Bitmap> redrawn = platform::Bitmap::fromImage(std::move(target));
    if (!redrawn)
        return image;
    std::shared_ptr<platform::Image> result
        = platform::Image::createWithPointSize({ *redrawn }, image->size());
    if (result)
        ir(result).setAnimationSourceOf(image);
    return result ? result : image;
}

} // namespace iris
