#include "Iris/networking/ImageProgressive.h"

#include "Iris/general/IrisNames.h"
#include "Iris/image/ImageDrawing.h"
#include "Iris/image/ImageFormat.h"
#include "Iris/image/ImageProcessor.h"
#include "Iris/networking/ImageDataProcessor.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ProgressiveJpegDecoder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>

namespace iris {

ImageProgressive::ImageProgressive()
    : ImageProgressive(true, true, 0)
{
}

ImageProgressive::ImageProgressive(bool isBlur, bool isFastestScan, double scanInterval)
    : m_isBlur(isBlur)
    , m_isFastestScan(isFastestScan)
    , m_scanInterval(scanInterval)
    , m_onImageUpdated(std::make_shared<ImageUpdatedDelegate>())
{
}

const ImageProgressive& ImageProgressive::standard()
{
    static const ImageProgressive value;
    return value;
}

// The serial queue.

struct ImageProgressiveSerialQueue::Item {
    Work work;
    bool cancelled = false;
};

ImageProgressiveSerialQueue::ImageProgressiveSerialQueue(Clock clock, Scheduler scheduler)
    : m_queue(platform::DispatchQueue::makeSerial(
        irisName(QStringLiteral("ImageProgressive.SerialQueue")).toStdString()))
    , m_clock(std::move(clock))
    , m_scheduler(std::move(scheduler))
{
    if (!m_clock) {
        m_clock = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    }
}

std::shared_ptr<ImageProgressiveSerialQueue> ImageProgressiveSerialQueue::create(
    Clock clock, Scheduler scheduler)
{
    std::shared_ptr<ImageProgressiveSerialQueue> queue(
        new ImageProgressiveSerialQueue(std::move(clock), std::move(scheduler)));
    if (!queue->m_scheduler) {
        std::weak_ptr<platform::DispatchQueue> weakQueue = queue->m_queue;
        queue->m_scheduler = [weakQueue](double delay, std::function<void()> work) {
            if (std::shared_ptr<platform::DispatchQueue> target = weakQueue.lock())
                target->asyncAfterSeconds(std::max(0.0, delay), std::move(work));
        };
    }
    return queue;
}

void ImageProgressiveSerialQueue::schedule(const std::shared_ptr<Item>& item, double delay, double interval)
{
    std::weak_ptr<ImageProgressiveSerialQueue> weak = weak_from_this();
    m_scheduler(delay, [weak, item, interval] {
        std::shared_ptr<ImageProgressiveSerialQueue> self = weak.lock();
        if (!self || item->cancelled)
            return;
        // An item finishes once, however often its work reports back.
        auto finished = std::make_shared<std::atomic<bool>>(false);
        std::weak_ptr<ImageProgressiveSerialQueue> weakSelf = self;
        item->work([weakSelf, finished, interval] {
            if (finished->exchange(true))
                return;
            if (std::shared_ptr<ImageProgressiveSerialQueue> strong = weakSelf.lock())
                strong->finishCurrent(interval);
        });
    });
}

void ImageProgressiveSerialQueue::add(double interval, Work work)
{
    std::weak_ptr<ImageProgressiveSerialQueue> weak = weak_from_this();
    m_queue->async([weak, interval, work = std::move(work)] {
        std::shared_ptr<ImageProgressiveSerialQueue> self = weak.lock();
        if (!self)
            return;
        auto item = std::make_shared<Item>(Item { work });
        if (self->m_items.empty()) {
            const double since = self->m_clock() - self->m_lastTime.value_or(-1e300);
            self->schedule(item, since < interval ? interval - since : 0.0, interval);
        }
        self->m_items.push_back(std::move(item));
    });
}

void ImageProgressiveSerialQueue::finishCurrent(double interval)
{
    std::weak_ptr<ImageProgressiveSerialQueue> weak = weak_from_this();
    m_queue->async([weak, interval] {
        std::shared_ptr<ImageProgressiveSerialQueue> self = weak.lock();
        if (!self || self->m_items.empty())
            return;
        self->m_items.pop_front();
        if (!self->m_items.empty())
            self->schedule(self->m_items.front(), interval, interval);
        else
            self->m_lastTime = self->m_clock();
    });
}

void ImageProgressiveSerialQueue::clean()
{
    std::weak_ptr<ImageProgressiveSerialQueue> weak = weak_from_this();
    m_queue->async([weak] {
        std::shared_ptr<ImageProgressiveSerialQueue> self = weak.lock();
        if (!self)
            return;
        for (const std::shared_ptr<Item>& item : self->m_items)
            item->cancelled = true;
        self->m_items.clear();
    });
}

// The decoder.

namespace {

// Partial images need no more pixels than a large screen shows; larger pictures are rendered
// reduced, which also bounds the memory of each step.
constexpr qint64 maxPartialPixels = 3840 * 2160;

} // namespace

ImageProgressiveDecoder::ImageProgressiveDecoder(
    ImageProgressive option, CallbackQueue processingQueue, ImageCreatingOptions creatingOptions)
    : m_option(std::move(option))
    , m_processingQueue(std::move(processingQueue))
    , m_creatingOptions(creatingOptions)
    , m_jpeg(std::make_unique<platform::ProgressiveJpegDecoder>(platform::DecodingLimits(), maxPartialPixels))
{
}

ImageProgressiveDecoder::~ImageProgressiveDecoder() = default;

bool ImageProgressiveDecoder::isProgressiveJPEG(QByteArrayView data)
{
    if (m_progressive)
        return true;
    if (detectImageFormat(data) != ImageFormat::JPEG)
        return false;
    // The last byte seen may be the first of a marker the next chunk completes.
    const qsizetype from = std::max<qsizetype>(0, std::min(m_progressiveSearchedTo, data.size()) - 1);
    const auto [first, second] = JPEGMarker::SOF2().bytes();
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const uchar* end = bytes + data.size();
    for (const uchar* at = bytes + from; at + 1 < end && !m_progressive;) {
        const auto* found = static_cast<const uchar*>(std::memchr(at, first, std::size_t(end - at - 1)));
        if (!found)
            break;
        m_progressive = found[1] == second;
        at = found + 1;
    }
    m_progressiveSearchedTo = data.size();
    return m_progressive;
}

std::int64_t ImageProgressiveDecoder::scanMarkers(
    QByteArrayView data, std::int64_t& last, std::vector<qsizetype>* prefixes)
{
    std::int64_t count = m_scannedCount;
    last = 0;
    const std::int64_t index = m_scannedIndex + 1;
    const std::int64_t length = data.size();
    // The last byte is never taken as a marker's first: a marker split between two updates is found
    // by the next one.
    if (index >= length - 1)
        return count;
    const auto* bytes = reinterpret_cast<const uchar*>(data.data());
    const uchar* stop = bytes + length - 1;
    for (const uchar* at = bytes + index; at < stop;) {
        const auto* found = static_cast<const uchar*>(std::memchr(at, 0xFF, std::size_t(stop - at)));
        if (!found)
            break;
        if (found[1] == 0xDA) {
            last = found - bytes;
            if (prefixes && count > 0)
                prefixes->push_back(qsizetype(last));
            ++count;
        }
        at = found + 1;
    }
    m_scannedIndex = length - 2;
    return count;
}

std::optional<qsizetype> ImageProgressiveDecoder::scanLatestLength(QByteArrayView data)
{
    if (!isProgressiveJPEG(data) || m_scannedIndex + 1 >= data.size())
        return std::nullopt;
    std::int64_t last = 0;
    const std::int64_t count = scanMarkers(data, last, nullptr);
    if (count <= m_scannedCount)
        return std::nullopt;
    m_scannedCount = count;
    if (count < 2 || last < 1)
        return std::nullopt;
    return qsizetype(last);
}

std::vector<qsizetype> ImageProgressiveDecoder::scanEveryLengths(QByteArrayView data)
{
    if (!isProgressiveJPEG(data) || m_scannedIndex + 1 >= data.size())
        return {};
    std::vector<qsizetype> prefixes;
    std::int64_t last = 0;
    const std::int64_t count = scanMarkers(data, last, &prefixes);
    if (count <= m_scannedCount)
        return {};
    m_scannedCount = count;
    if (count < 2)
        return {};
    return prefixes;
}

std::optional<QByteArray> ImageProgressiveDecoder::scanLatest(const QByteArray& data)
{
    if (std::optional<qsizetype> length = scanLatestLength(data))
        return data.first(*length);
    return std::nullopt;
}

std::vector<QByteArray> ImageProgressiveDecoder::scanEvery(const QByteArray& data)
{
    std::vector<QByteArray> prefixes;
    for (qsizetype length : scanEveryLengths(data))
        prefixes.push_back(data.first(length));
    return prefixes;
}

qint64 ImageProgressiveDecoder::fedLength() const
{
    std::lock_guard lock(m_mutex);
    return m_fed;
}

void ImageProgressiveDecoder::releaseDecoder()
{
    std::lock_guard lock(m_mutex);
    m_jpeg->release();
}

void ImageProgressiveDecoder::downloadFinished()
{
    m_downloadFinished = true;
}

void ImageProgressiveDecoder::noteSource(const std::shared_ptr<SessionDataTask>& task)
{
    std::lock_guard lock(m_mutex);
    if (!task || (m_sources != Sources::none && m_source.lock() != task)) {
        m_sources = Sources::several;
        return;
    }
    if (m_sources == Sources::none) {
        m_sources = Sources::one;
        m_source = task;
    }
}

std::shared_ptr<platform::Image> ImageProgressiveDecoder::finishedImage(
    const QByteArray& data, const std::shared_ptr<const SessionDataTask>& source)
{
    // Taken before the decoder's lock: reading the download's bytes holds the download's lock while
    // it asks for the decoder's.
    const QByteArray received = source ? source->mutableData() : QByteArray();
    std::lock_guard lock(m_mutex);
    // The weak reference keeps its owner's identity after the task has gone.
    const bool readFromSource = source && m_sources == Sources::one && !m_source.owner_before(source)
        && !source.owner_before(m_source);
    // Nothing read yet would make this a whole decode of the file, which the usual path does as
    // well. Bytes a delegate changed, or a copy of them, are not known to be the ones read.
    if (!readFromSource || m_fed <= 0 || m_fed > data.size() || received.constData() != data.constData()
        || received.size() != data.size()) {
        m_jpeg->release();
        return nullptr;
    }
    m_jpeg->append(QByteArrayView(data).sliced(m_fed));
    m_fed = data.size();
    m_jpeg->finish();
    std::optional<QImage> pixels = m_jpeg->finishedImage();
    if (!pixels)
        return nullptr;
    std::optional<platform::Bitmap> bitmap = platform::Bitmap::fromImage(std::move(*pixels));
    std::shared_ptr<platform::Image> image = bitmap ? platform::Image::create(std::move(*bitmap)) : nullptr;
    if (image)
        ++m_statistics.finishedImages;
    return image;
}

ImageProgressiveDecoder::Statistics ImageProgressiveDecoder::statistics() const
{
    std::lock_guard lock(m_mutex);
    return m_statistics;
}

std::vector<std::shared_ptr<platform::Image>> ImageProgressiveDecoder::decode(const QByteArray& tail,
    qint64 tailOffset, qsizetype prefixLength, std::int64_t scannedCountAtScan,
    const SessionDataTask::Callbacks& callbacks)
{
    std::shared_ptr<platform::Image> image;
    {
        std::lock_guard lock(m_mutex);
        // The decoder is kept for the finished image.
        if (m_downloadFinished)
            return std::vector<std::shared_ptr<platform::Image>>(callbacks.size());
        // The decoder keeps its state between prefixes; it is given the marker that ends the prefix
        // too, so that it knows the scan before it has ended.
        const qint64 end = std::min<qint64>(prefixLength + 2, tailOffset + tail.size());
        if (end > m_fed && m_fed >= tailOffset) {
            m_jpeg->append(QByteArrayView(tail).sliced(m_fed - tailOffset, end - m_fed));
            m_fed = end;
        }
        // The download may have ended while the bytes were read: the scans are kept for the
        // finished image, but a partial image would only come after it.
        if (m_downloadFinished)
            return std::vector<std::shared_ptr<platform::Image>>(callbacks.size());
        double reduction = 1;
        if (std::optional<QImage> pixels = m_jpeg->render()) {
            const QSize full = m_jpeg->size().value_or(pixels->size());
            reduction = double(full.width()) / std::max(1, pixels->width());
            const double scale = m_creatingOptions.scale > 0 ? m_creatingOptions.scale : 1.0;
            // A reduced rendering keeps the full image's size in points.
            if (std::optional<platform::Bitmap> bitmap = platform::Bitmap::fromImage(std::move(*pixels)))
                image = platform::Image::createWithPointSize(
                    { *bitmap }, platform::Size { full.width() / scale, full.height() / scale });
        }
        if (image)
            ++m_statistics.images;
        if (image && blurs(m_option.isBlur(), scannedCountAtScan)) {
            const double radius = blurRadius(scannedCountAtScan);
            m_statistics.blurRadii.push_back(radius);
            if (ImagePtr blurred = boxBlur(image, std::max(1.0, radius / reduction)))
                image = blurred;
        }
    }
    std::vector<std::shared_ptr<platform::Image>> results;
    results.reserve(callbacks.size());
    std::map<QString, std::shared_ptr<platform::Image>> byProcessor;
    for (const TaskCallback& callback : callbacks) {
        if (!image) {
            results.push_back(nullptr);
            continue;
        }
        ImageProcessorPtr processor
            = callback.options.processor ? callback.options.processor : DefaultImageProcessor::shared();
        const QString identifier = processor->identifier();
        std::shared_ptr<platform::Image> processed;
        if (auto found = byProcessor.find(identifier); found != byProcessor.end()) {
            processed = found->second;
        } else {
            try {
                processed = processor->process(ImageProcessItem::image(image), callback.options);
            } catch (...) {
                processed = nullptr;
            }
            if (processed)
                byProcessor[identifier] = processed;
        }
        if (processed && callback.options.backgroundDecode)
            processed = ImageDataProcessor::decodedImage(processed, 1.0);
        results.push_back(processed);
    }
    return results;
}

// The provider.

const std::shared_ptr<platform::DispatchQueue>& ImageProgressiveProvider::progressiveProcessingQueue()
{
    static const std::shared_ptr<platform::DispatchQueue> queue = platform::DispatchQueue::makeSerial(
        irisName(QStringLiteral("ImageDownloader.Process")).toStdString());
    return queue;
}

ImageProgressiveProvider::ImageProgressiveProvider(const IrisParsedOptionsInfo& options, Refresh refresh,
    ImageProgressiveSerialQueue::Clock clock, ImageProgressiveSerialQueue::Scheduler scheduler)
    : m_onShouldApply([] { return true; })
    , m_option(*options.progressiveJPEG)
    , m_refresh(std::move(refresh))
    , m_decoder(m_option,
          options.processingQueue ? *options.processingQueue
                                  : CallbackQueue::dispatch(progressiveProcessingQueue()),
          ImageCreatingOptions {
              options.scaleFactor, 0.0, options.preloadAllAnimationData, options.onlyLoadFirstFrame })
    , m_queue(ImageProgressiveSerialQueue::create(std::move(clock), std::move(scheduler)))
{
}

std::shared_ptr<ImageProgressiveProvider> ImageProgressiveProvider::create(
    const IrisParsedOptionsInfo& options, Refresh refresh, ImageProgressiveSerialQueue::Clock clock,
    ImageProgressiveSerialQueue::Scheduler scheduler)
{
    if (!options.progressiveJPEG)
        return nullptr;
    return std::shared_ptr<ImageProgressiveProvider>(
        new ImageProgressiveProvider(options, std::move(refresh), std::move(clock), std::move(scheduler)));
}

std::function<bool()> ImageProgressiveProvider::onShouldApply() const
{
    std::lock_guard lock(m_mutex);
    return m_onShouldApply;
}

void ImageProgressiveProvider::setOnShouldApply(std::function<bool()> gate)
{
    std::lock_guard lock(m_mutex);
    m_onShouldApply = std::move(gate);
}

bool ImageProgressiveProvider::shouldApply() const
{
    std::function<bool()> gate = onShouldApply();
    return !gate || gate();
}

void ImageProgressiveProvider::reportReceivedData(platform::UrlSession*,
    const std::shared_ptr<SessionDataTask>& task, const QByteArray&, std::int64_t,
    std::int64_t expectedContentLength)
{
    platform::DispatchQueue::main()->async([self = shared_from_this(), task, expectedContentLength] {
        if (!self->shouldApply())
            return;
        // Only the requests this provider was made for: another request sharing the download has its
        // own processor and its own view.
        SessionDataTask::Callbacks own;
        for (TaskCallback& callback : task->callbacks()) {
            const auto& effects = callback.options.onDataReceived;
            if (effects && std::find(effects->begin(), effects->end(), self) != effects->end())
                own.push_back(std::move(callback));
        }
        self->update(std::weak_ptr<SessionDataTask>(task), std::move(own), expectedContentLength);
    });
}

void ImageProgressiveProvider::update(
    QByteArray data, SessionDataTask::Callbacks callbacks, std::int64_t expectedLength)
{
    if (data.isEmpty())
        return;
    enqueue(Pending { std::move(data), {}, std::move(callbacks), expectedLength });
}

void ImageProgressiveProvider::update(
    std::weak_ptr<SessionDataTask> task, SessionDataTask::Callbacks callbacks, std::int64_t expectedLength)
{
    enqueue(Pending { {}, std::move(task), std::move(callbacks), expectedLength });
}

void ImageProgressiveProvider::enqueue(Pending pending)
{
    bool itemWaiting;
    {
        std::lock_guard lock(m_mutex);
        itemWaiting = m_pending.has_value();
        m_pending = std::move(pending);
    }
    if (itemWaiting)
        return;
    m_queue->add(m_option.scanInterval(), [self = shared_from_this()](std::function<void()> completion) {
        self->applyUpdate(std::move(completion));
    });
}

void ImageProgressiveProvider::applyUpdate(std::function<void()> completion)
{
    // The gate is asked on the main queue; the item continues from there instead of blocking this
    // queue's thread until the main queue answers.
    platform::DispatchQueue::main()->async([self = shared_from_this(), completion] {
        if (!self->shouldApply()) {
            {
                std::lock_guard lock(self->m_mutex);
                self->m_pending.reset();
            }
            self->m_queue->clean();
            completion();
            return;
        }
        self->m_queue->queue()->async([self, completion] { self->runPending(completion); });
    });
}

ImageProgressiveProvider::Step ImageProgressiveProvider::takeStep(
    QByteArrayView data, std::int64_t expectedLength)
{
    Step step;
    if (data.isEmpty() || (expectedLength >= 0 && data.size() >= expectedLength)) {
        step.whole = true;
        return step;
    }
    if (m_option.isFastestScan()) {
        if (std::optional<qsizetype> prefix = m_decoder.scanLatestLength(data))
            step.prefixes.push_back(*prefix);
    } else {
        step.prefixes = m_decoder.scanEveryLengths(data);
    }
    if (step.prefixes.empty())
        return step;
    step.fed = m_decoder.fedLength();
    const qint64 end = std::min<qint64>(step.prefixes.back() + 2, data.size());
    if (end > step.fed)
        step.tail = data.sliced(step.fed, end - step.fed).toByteArray();
    return step;
}

void ImageProgressiveProvider::runPending(std::function<void()> completion)
{
    std::optional<Pending> pending;
    {
        std::lock_guard lock(m_mutex);
        pending = std::exchange(m_pending, std::nullopt);
    }
    // With no request waiting nothing can be shown: the item ends at once.
    if (!pending || pending->callbacks.empty()) {
        completion();
        return;
    }
    // The bytes are read in place, now, and only those the decoder has not been given travel on:
    // no share of the download outlives the read, so the next chunk is appended without a copy of
    // the bytes before it, and no copy of them waits in a queue.
    Step step;
    auto take = [&](QByteArrayView data) { step = takeStep(data, pending->expectedLength); };
    std::shared_ptr<SessionDataTask> task = pending->task.lock();
    if (task)
        task->readReceivedData(take);
    else
        take(pending->data);
    if (!step.tail.isEmpty())
        m_decoder.noteSource(task);
    // The whole file is in: the download's own completion shows it at once, made from what the
    // decoder has read so far, so a partial image of it would only be decoded beside the final one.
    if (step.whole || step.prefixes.empty()) {
        completion();
        return;
    }
    const std::int64_t count = m_decoder.scannedCount();
    runCallback(m_decoder.processingQueue(),
        [self = shared_from_this(), tail = std::move(step.tail), callbacks = std::move(pending->callbacks),
            prefixes = std::move(step.prefixes), count, fed = step.fed, completion] {
            for (qsizetype prefix : prefixes) {
                std::vector<std::shared_ptr<platform::Image>> images
                    = self->m_decoder.decode(tail, fed, prefix, count, callbacks);
                for (std::shared_ptr<platform::Image>& image : images) {
                    if (!image)
                        continue;
                    runCallback(CallbackQueue::mainCurrentOrAsync(), [self, image] {
                        if (self->shouldApply() && self->m_refresh)
                            self->m_refresh(image);
                    });
                }
            }
            // After the refreshes, which are queued on the main queue before it.
            runCallback(CallbackQueue::mainCurrentOrAsync(), completion);
        });
}

} // namespace iris
