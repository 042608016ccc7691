#include "Iris/general/IrisManager.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/CacheCallbackCoordinator.h"
#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/general/IrisNames.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/general/RetryStrategy.h"
#include "Iris/image/Image.h"
#include "Iris/networking/ImageModifier.h"
#include "Iris/networking/ImageProgressive.h"
#include "Iris/networking/RequestModifier.h"

#include "platform/graphics/DecodeAhead.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageSource.h"

#include <QUuid>

#include <atomic>

namespace iris {

// What the closures of one retrieval share: the caller's completion, the private options copy, the
// retry context slot, the first source and the context. Attempts follow one another, so only the
// delivery flag needs to be atomic.
struct RetrievalState {
    RetrieveImageCompletion completion;
    IrisParsedOptionsInfo options;
    std::shared_ptr<RetryContext> retryContext;
    std::optional<Source> firstSource;
    std::shared_ptr<RetrievingContext> context;
    DownloadTaskUpdatedCallback downloadTaskUpdated;
    std::shared_ptr<RetrievalCancellation> cancellation;
    std::atomic<bool> delivered { false };

    // The task of the attempt started last, by stage. A source that fails inside the call that
    // started it gives way to the next one there and then; the caller is handed the task of the
    // attempt that is still running, never the finished one's.
    std::optional<DownloadTask> latestTask() const
    {
        std::lock_guard lock(m_taskMutex);
        return m_task;
    }
    void recordTask(std::uint64_t stage, const std::optional<DownloadTask>& started)
    {
        std::lock_guard lock(m_taskMutex);
        if (stage < m_taskStage)
            return;
        m_taskStage = stage;
        m_task = started;
    }

private:
    mutable std::mutex m_taskMutex;
    std::uint64_t m_taskStage = 0;
    std::optional<DownloadTask> m_task;
};

namespace {

// An image with pixels; anything else is never handed to a caller as a success.
bool isUsable(const std::shared_ptr<platform::Image>& image)
{
    if (!image || !image->bitmap())
        return false;
    const platform::Size size = image->size();
    return size.width > 0 && size.height > 0;
}

// A processor's image, or null when it gave none, gave an empty one or threw.
std::shared_ptr<platform::Image> runProcessor(
    const ImageProcessor& processor, const ImageProcessItem& item, const IrisParsedOptionsInfo& options)
{
    try {
        std::shared_ptr<platform::Image> image = processor.process(item, options);
        return isUsable(image) ? image : nullptr;
    } catch (...) {
        return nullptr;
    }
}

std::shared_ptr<platform::Image> modified(
    const IrisParsedOptionsInfo& options, std::shared_ptr<platform::Image> image)
{
    if (!options.imageModifier)
        return image;
    std::shared_ptr<platform::Image> result;
    try {
        result = options.imageModifier->modifiedImage(image);
    } catch (...) {
    }
    return isUsable(result) ? result : image;
}

IrisError processingFailed(const IrisParsedOptionsInfo& options, ImageProcessItem item)
{
    return IrisError::processorError(
        IrisError::ProcessorErrorReason::processingFailed(ErrorObject<ImageProcessor>::of(options.processor),
            ErrorObject<ImageProcessItem>::of(std::make_shared<const ImageProcessItem>(std::move(item)))));
}

// What a retrieval called off ends with when no cancelled download of its own says so.
IrisError retrievalCancelled()
{
    return IrisError::requestError(
        IrisError::RequestErrorReason::taskCancelled(ErrorObject<SessionDataTask>::of(nullptr), 0));
}

bool isCancelled(const std::shared_ptr<RetrievingContext>& context)
{
    return context->cancellation && context->cancellation->isCancelled();
}

// Follows a download whose request modifier answers after the download call has returned, when
// the retrieval has moved on with no task to call off. A retrieval called off before the answer
// sends no request; a download a late answer starts is handed to the retrieval like any other, so
// that calling it off cancels the download.
class RetrievalRequestModifier final : public AsyncImageDownloadRequestModifier {
public:
    RetrievalRequestModifier(std::shared_ptr<const AsyncImageDownloadRequestModifier> inner,
        const std::shared_ptr<RetrievingContext>& context)
        : m_inner(std::move(inner))
        , m_context(context)
    {
    }

    void modifyRequest(
        const platform::UrlRequest& request, RequestModifierCompletion completion) const override
    {
        m_inner->modifyRequest(request,
            [weak = m_context, completion = std::move(completion)](
                std::optional<platform::UrlRequest> modified) {
                std::shared_ptr<RetrievingContext> context = weak.lock();
                completion(context && !isCancelled(context) ? std::move(modified) : std::nullopt);
            });
        *m_returned = true;
    }

    DownloadTaskStartedHandler taskStartedHandler() const override
    {
        return [inner = m_inner->taskStartedHandler(), returned = m_returned, weak = m_context](
                   std::optional<DownloadTask> task) {
            if (inner)
                inner(task);
            // A task started inside the call is the call's result, which the retrieval adopts.
            std::shared_ptr<RetrievingContext> context = weak.lock();
            if (!task || !*returned || !context || !context->cancellation || !context->reloadStarted)
                return;
            // A stage of its own, numbered now: the attempt's own stage, entered with no task once
            // the call returned, may come later and must not replace it, and a retry started meanwhile
            // keeps its later one. The caller hears of the task on its own queue.
            const std::uint64_t stage = context->cancellation->nextStage();
            runCallback(context->options.callbackQueue,
                [context, stage, task] { context->reloadStarted(stage, task); });
        };
    }

private:
    const std::shared_ptr<const AsyncImageDownloadRequestModifier> m_inner;
    const std::weak_ptr<RetrievingContext> m_context;
    const std::shared_ptr<std::atomic<bool>> m_returned = std::make_shared<std::atomic<bool>>(false);
};

IrisError imageNotExisting(const QString& key)
{
    return IrisError::cacheError(IrisError::CacheErrorReason::imageNotExisting(key));
}

// Removes the disk file of a look-up that gave no image when its bytes are no image at all. Bytes
// that still begin as an image this system reads are kept: their pixels may not have been had for
// want of memory, and the file may be the only copy there is. Runs on the cache's I/O queue, where
// the removal keeps its place before the store of a reload.
void removeIfUndecodable(const std::shared_ptr<ImageCache>& cache, const QString& computedKey)
{
    cache->ioQueue()->async([cache, computedKey] {
        auto read = cache->diskStorage()->readValue(
            computedKey, platform::Date::now(), true, ExpirationExtending::none());
        if (read.isFailure() || !read.value())
            return;
        try {
            auto source = platform::ImageSource::create(*read.value());
            if (source || source.error() == platform::DecodeError::tooLarge)
                return;
        } catch (const std::bad_alloc&) {
            return;
        }
        (void)cache->diskStorage()->removeFileForKey(computedKey);
    });
}

} // namespace

QString RetrieveImageResult::description() const
{
    static const char* const types[] = { "none", "memory", "disk" };
    return QStringLiteral("RetrieveImageResult(cacheType: ") + QLatin1String(types[int(cacheType)])
        + QStringLiteral(", source: ") + source.description() + QLatin1Char(')');
}

IrisManager::IrisManager(std::shared_ptr<ImageDownloader> downloader, std::shared_ptr<ImageCache> cache)
    : m_cache(std::move(cache))
    , m_downloader(std::move(downloader))
    , m_processingQueue(
          platform::DispatchQueue::makeSerial((irisName(QStringLiteral("IrisManager.processQueue."))
              + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())
                                                  .toStdString()))
{
}

std::shared_ptr<IrisManager> IrisManager::create(
    std::shared_ptr<ImageDownloader> downloader, std::shared_ptr<ImageCache> cache)
{
    return std::shared_ptr<IrisManager>(new IrisManager(std::move(downloader), std::move(cache)));
}

const std::shared_ptr<IrisManager>& IrisManager::sharedManager()
{
    static const std::shared_ptr<IrisManager> shared
        = create(ImageDownloader::sharedDownloader(), ImageCache::defaultCache());
    return shared;
}

std::shared_ptr<ImageCache> IrisManager::cache() const
{
    std::lock_guard lock(m_mutex);
    return m_cache;
}

void IrisManager::setCache(std::shared_ptr<ImageCache> cache)
{
    std::lock_guard lock(m_mutex);
    m_cache = std::move(cache);
}

std::shared_ptr<ImageDownloader> IrisManager::downloader() const
{
    std::lock_guard lock(m_mutex);
    return m_downloader;
}

void IrisManager::setDownloader(std::shared_ptr<ImageDownloader> downloader)
{
    std::lock_guard lock(m_mutex);
    m_downloader = std::move(downloader);
}

IrisOptionsInfo IrisManager::defaultOptions() const
{
    std::lock_guard lock(m_mutex);
    return m_defaultOptions;
}

void IrisManager::setDefaultOptions(IrisOptionsInfo options)
{
    std::lock_guard lock(m_mutex);
    m_defaultOptions = std::move(options);
}

std::shared_ptr<ImageCache> IrisManager::targetCache(const IrisParsedOptionsInfo& options) const
{
    return options.targetCache ? options.targetCache : cache();
}

CallbackQueue IrisManager::processingQueueFor(const IrisParsedOptionsInfo& options) const
{
    return options.processingQueue ? *options.processingQueue : CallbackQueue::dispatch(m_processingQueue);
}

std::optional<DownloadTask> IrisManager::retrieveResource(const Resource& resource,
    const std::optional<IrisOptionsInfo>& options, DownloadProgressCallback progress,
    DownloadTaskUpdatedCallback downloadTaskUpdated, RetrieveImageCompletion completion)
{
    return retrieveSource(convertToSource(resource), options, std::move(progress),
        std::move(downloadTaskUpdated), std::move(completion));
}

std::optional<DownloadTask> IrisManager::retrieveSource(const Source& source,
    const std::optional<IrisOptionsInfo>& options, DownloadProgressCallback progress,
    DownloadTaskUpdatedCallback downloadTaskUpdated, RetrieveImageCompletion completion)
{
    IrisOptionsInfo items { IrisOptionsInfoItem::downloader(downloader()),
        IrisOptionsInfoItem::targetCache(cache()) };
    const IrisOptionsInfo defaults = defaultOptions();
    items.insert(items.end(), defaults.begin(), defaults.end());
    if (options)
        items.insert(items.end(), options->begin(), options->end());
    return retrieveWithParsedOptions(source, IrisParsedOptionsInfo(items), std::move(progress),
        std::move(downloadTaskUpdated), std::move(completion));
}

std::optional<DownloadTask> IrisManager::retrieveWithParsedOptions(const Source& source,
    IrisParsedOptionsInfo options, DownloadProgressCallback progress,
    DownloadTaskUpdatedCallback downloadTaskUpdated, RetrieveImageCompletion completion,
    std::shared_ptr<RetrievalCancellation> cancellation)
{
    if (progress) {
        if (!options.onDataReceived)
            options.onDataReceived.emplace();
        options.onDataReceived->push_back(
            std::make_shared<ImageLoadingProgressSideEffect>(std::move(progress)));
    }
    return runRetrieval(source, std::move(options), std::move(downloadTaskUpdated), {}, {},
        std::move(completion), std::move(cancellation));
}

std::optional<DownloadTask> IrisManager::runRetrieval(const Source& source, IrisParsedOptionsInfo options,
    DownloadTaskUpdatedCallback downloadTaskUpdated, ProgressiveImageSetter progressiveImageSetter,
    ReferenceTaskChecker referenceTaskChecker, RetrieveImageCompletion completion,
    std::shared_ptr<RetrievalCancellation> cancellation)
{
    // Options built by hand may carry no processor or serializer; like the downloader and the cache,
    // the retrieval then uses the default one rather than reading a null one at every step.
    if (!options.processor)
        options.processor = DefaultImageProcessor::shared();
    if (!options.cacheSerializer)
        options.cacheSerializer = DefaultCacheSerializer::shared();
    if (!cancellation)
        cancellation = std::make_shared<RetrievalCancellation>();
    // Partial images of a progressive download go to the caller's setter, as the options' updating
    // strategy says. One still being decoded when the retrieval ends is dropped: after the final
    // image it would replace it, after a cancel nobody waits for it.
    auto refresh = [setter = std::move(progressiveImageSetter), progressive = options.progressiveJPEG,
                       ended = std::weak_ptr<const RetrievalCancellation>(cancellation)](
                       std::shared_ptr<platform::Image> image) {
        if (!setter)
            return;
        std::shared_ptr<const RetrievalCancellation> retrieval = ended.lock();
        if (!retrieval || retrieval->hasEnded())
            return;
        std::optional<UpdatingStrategy> strategy
            = progressive ? progressive->onImageUpdated()->call(image) : std::nullopt;
        if (!strategy || strategy->kind == UpdatingStrategy::Kind::defaultStrategy)
            setter(std::move(image));
        else if (strategy->kind == UpdatingStrategy::Kind::replace)
            setter(strategy->image);
    };
    if (std::shared_ptr<ImageProgressiveProvider> provider
        = ImageProgressiveProvider::create(options, std::move(refresh))) {
        if (!options.onDataReceived)
            options.onDataReceived.emplace();
        options.onDataReceived->push_back(std::move(provider));
    }
    if (referenceTaskChecker && options.onDataReceived) {
        for (const std::shared_ptr<DataReceivingSideEffect>& effect : *options.onDataReceived)
            effect->setOnShouldApply(referenceTaskChecker);
    }
    auto state = std::make_shared<RetrievalState>();
    state->completion = std::move(completion);
    state->options = options;
    state->firstSource = source;
    state->context = std::make_shared<RetrievingContext>(std::move(options), source);
    state->downloadTaskUpdated = std::move(downloadTaskUpdated);
    state->cancellation = std::move(cancellation);
    state->context->cancellation = state->cancellation;
    std::shared_ptr<IrisManager> self = shared_from_this();
    // Weak: the context belongs to the state. The state lives while a load of it runs.
    state->context->reloadStarted = [self, weak = std::weak_ptr<RetrievalState>(state)](
                                        std::uint64_t stage, std::optional<DownloadTask> task) {
        std::shared_ptr<RetrievalState> state = weak.lock();
        if (!state || !task)
            return;
        self->adoptTask(state, stage, std::move(task));
        if (state->downloadTaskUpdated)
            state->downloadTaskUpdated(state->latestTask());
    };
    if (state->cancellation->isCancelled()) {
        deliverCancelled(state);
        return std::nullopt;
    }
    return startAttempt(source, state);
}

std::optional<DownloadTask> IrisManager::startAttempt(
    const Source& source, const std::shared_ptr<RetrievalState>& state)
{
    // Numbered before it starts: an attempt that fails at once has moved the retrieval on by the time
    // this call returns, and what it leaves must not undo that.
    const std::uint64_t stage = state->cancellation->nextStage();
    std::shared_ptr<IrisManager> self = shared_from_this();
    std::optional<DownloadTask> task = retrieveCacheFirst(
        source, state->context, [self, state, source](RetrieveImageResultOrError result) {
            self->consultRetryStrategy(std::move(result), source, state);
        });
    adoptTask(state, stage, std::move(task));
    return state->latestTask();
}

void IrisManager::adoptTask(
    const std::shared_ptr<RetrievalState>& state, std::uint64_t stage, std::optional<DownloadTask> task)
{
    RetrievalCancellation& cancellation = *state->cancellation;
    if (!task) {
        // A cache look-up or a provider's read: nothing of its own to cancel, so a cancel ends the
        // retrieval at once; a read still waiting its turn then finds it cancelled and is skipped.
        std::shared_ptr<IrisManager> self = shared_from_this();
        if (!cancellation.enter(stage, [self, state] { self->deliverCancelled(state); }))
            deliverCancelled(state);
        state->recordTask(stage, std::nullopt);
        return;
    }
    const DownloadTask download = *task;
    if (!cancellation.enter(stage, [download] { download.cancel(); }))
        download.cancel();
    task->retrieval = state->cancellation;
    state->recordTask(stage, task);
}

std::optional<DownloadTask> IrisManager::retrieveCacheFirst(const Source& source,
    const std::shared_ptr<RetrievingContext>& context, RetrieveImageCompletion completion)
{
    const IrisParsedOptionsInfo& options = context->options;
    if (!options.forceRefresh) {
        if (lookUpCaches(source, context, completion))
            return std::nullopt;
        if (options.onlyFromCache) {
            if (completion)
                completion(RetrieveImageResultOrError::failure(imageNotExisting(source.cacheKey())));
            return std::nullopt;
        }
    }
    std::optional<DownloadTask::WrappedTask> task = loadAndStore(source, context, std::move(completion));
    return task ? task->value() : std::nullopt;
}

std::optional<DownloadTask::WrappedTask> IrisManager::loadAndStore(const Source& source,
    const std::shared_ptr<RetrievingContext>& context, RetrieveImageCompletion completion)
{
    const IrisParsedOptionsInfo options = context->options;
    std::shared_ptr<IrisManager> self = shared_from_this();
    if (source.kind() == Source::Kind::provider) {
        std::shared_ptr<const ImageDataProvider> provider = source.dataProvider();
        const CallbackQueue processingQueue = processingQueueFor(options);
        auto cancelled = [context] { return isCancelled(context); };
        auto handler = [self, source, context, options, completion, provider, processingQueue](
                           ProviderDataResult result) {
            // Nobody waits for the image any more: neither decode nor process it.
            if (isCancelled(context)) {
                runCallback(options.callbackQueue, [self, source, context, options, completion] {
                    self->storeInCaches(source, options, context,
                        ImageLoadingResultOrError::failure(retrievalCancelled()), completion);
                });
                return;
            }
            if (result.isFailure()) {
                IrisError error
                    = IrisError::imageSettingError(IrisError::ImageSettingErrorReason::dataProviderError(
                        ErrorObject<ImageDataProvider>::of(provider), result.error()));
                runCallback(options.callbackQueue, [self, source, context, options, completion, error] {
                    self->storeInCaches(
                        source, options, context, ImageLoadingResultOrError::failure(error), completion);
                });
                return;
            }
            std::shared_ptr<MemoryTierReservation> reservation
                = decodeAheadForProcessing(*provider, result.value(), options, *self->targetCache(options));
            runCallback(processingQueue,
                [self, source, context, options, completion, data = result.value(), reservation] {
                    ImageProcessItem item = ImageProcessItem::data(data);
                    const bool cancelled = isCancelled(context);
                    // Nobody takes what was decoded ahead for bytes that are not processed; left
                    // waiting, it would hold its memory outside the tier's limit.
                    if (cancelled)
                        platform::decodeAhead::take(data);
                    std::shared_ptr<platform::Image> image
                        = cancelled ? nullptr : runProcessor(*options.processor, item, options);
                    ImageLoadingResultOrError loaded = cancelled
                        ? ImageLoadingResultOrError::failure(retrievalCancelled())
                        : image
                        ? ImageLoadingResultOrError::success(ImageLoadingResult { image, std::nullopt, data })
                        : ImageLoadingResultOrError::failure(processingFailed(options, std::move(item)));
                    runCallback(options.callbackQueue,
                        [self, source, context, options, completion, loaded, reservation] {
                            // The room held for the image goes back just before the image goes in.
                            if (reservation)
                                reservation->release();
                            self->storeInCaches(source, options, context, loaded, completion);
                        });
                });
        };
        provider->dataUnlessCancelled(std::move(handler), std::move(cancelled));
        return DownloadTask::WrappedTask::dataProviding();
    }

    std::shared_ptr<ImageDownloader> loader = options.downloader ? options.downloader : downloader();
    IrisParsedOptionsInfo downloadOptions = options;
    if (options.requestModifier && context->cancellation)
        downloadOptions.requestModifier
            = std::make_shared<RetrievalRequestModifier>(options.requestModifier, context);
    std::optional<DownloadTask> task = loader->downloadImage(source.resource()->downloadURL(),
        downloadOptions, [self, source, context, options, completion](ImageLoadingResultOrError result) {
            self->storeInCaches(source, options, context, std::move(result), completion);
        });
    if (!task)
        return std::nullopt;
    return DownloadTask::WrappedTask::download(std::move(task));
}

bool IrisManager::lookUpCaches(const Source& source, const std::shared_ptr<RetrievingContext>& context,
    RetrieveImageCompletion completion)
{
    const IrisParsedOptionsInfo options = context->options;
    const std::shared_ptr<ImageCache> target = targetCache(options);
    const QString key = source.cacheKey();
    const QString identifier = options.processor->identifier();
    std::shared_ptr<IrisManager> self = shared_from_this();

    const CacheType targetType = target->cacheTypeOfKey(key, identifier);
    if (targetType != CacheType::none
        && (!options.fromMemoryCacheOrRefresh || targetType == CacheType::memory)) {
        target->lookUpImage(key, options, CallbackQueue::mainCurrentOrAsync(),
            [self, source, context, options, targetType, completion](ImageCacheResultOrError result) {
                self->finishTargetHit(source, context, options, targetType, std::move(result), completion);
            });
        return true;
    }

    const std::shared_ptr<ImageCache> original = options.originalCache ? options.originalCache : target;
    if (original == target && identifier.isEmpty())
        return false;
    const CacheType originalType = original->cacheTypeOfKey(key, QString());
    if (originalType == CacheType::memory
        || (originalType == CacheType::disk && !options.fromMemoryCacheOrRefresh)) {
        IrisParsedOptionsInfo originalOptions = options;
        originalOptions.processor = DefaultImageProcessor::shared();
        original->lookUpImage(key, originalOptions, CallbackQueue::mainCurrentOrAsync(),
            [self, source, context, options, completion](ImageCacheResultOrError result) {
                self->finishCachedOriginal(source, context, options, std::move(result), completion);
            });
        return true;
    }
    return false;
}

void IrisManager::reloadAfterUnusableEntry(const Source& source,
    const std::shared_ptr<RetrievingContext>& context, RetrieveImageCompletion completion)
{
    // Called off while the entry was read: nobody waits for the image, so nothing is loaded.
    if (isCancelled(context)) {
        if (completion)
            completion(RetrieveImageResultOrError::failure(retrievalCancelled()));
        return;
    }
    const std::uint64_t stage = context->cancellation ? context->cancellation->nextStage() : 0;
    std::optional<DownloadTask::WrappedTask> task = loadAndStore(source, context, std::move(completion));
    if (context->reloadStarted)
        context->reloadStarted(stage, task ? task->value() : std::nullopt);
}

void IrisManager::finishTargetHit(const Source& source, const std::shared_ptr<RetrievingContext>& context,
    const IrisParsedOptionsInfo& options, CacheType cachedType, ImageCacheResultOrError lookUp,
    RetrieveImageCompletion completion)
{
    if (!completion)
        return;
    const QString key = source.cacheKey();
    const std::shared_ptr<ImageCache> target = targetCache(options);
    std::shared_ptr<platform::Image> cached = lookUp.isSuccess() ? lookUp.value().image() : nullptr;
    if (!isUsable(cached)) {
        // The entry went away, or its file cannot be read or decoded: a file whose bytes are no
        // image never will be one, so it is removed, and the image is loaded again unless only the
        // cache may answer. A file that could not be opened or read (no descriptor left, a failing
        // disk) says nothing about its bytes and is kept: it may be the only copy there is.
        if (cachedType == CacheType::disk && lookUp.isSuccess())
            removeIfUndecodable(target, ImageCache::processedCacheKey(key, options.processor->identifier()));
        if (!options.onlyFromCache) {
            reloadAfterUnusableEntry(source, context, std::move(completion));
            return;
        }
        runCallback(options.callbackQueue,
            [completion, key] { completion(RetrieveImageResultOrError::failure(imageNotExisting(key))); });
        return;
    }
    const CacheType resultType = lookUp.value().cacheType();
    std::shared_ptr<IrisManager> self = shared_from_this();

    auto finish = [source, context, options, completion, resultType](std::shared_ptr<platform::Image> image) {
        // An animation is decoded again from its own data by this retrieval's processor; when that
        // gives nothing, the cached image still stands.
        ImageWrapper wrapped = ir(image);
        std::optional<std::int64_t> frameCount = wrapped.imageFrameCount();
        if (frameCount && *frameCount != 1) {
            if (std::optional<QByteArray> data = wrapped.animatedImageData()) {
                if (auto redecoded = runProcessor(*options.processor, ImageProcessItem::data(*data), options))
                    image = redecoded;
            }
        }
        std::shared_ptr<platform::Image> delivered = modified(options, image);
        CacheSerializerPtr serializer = options.cacheSerializer;
        completion(RetrieveImageResultOrError::success(
            RetrieveImageResult { delivered, resultType, source, context->originalSource,
                [serializer, delivered] { return serializer->dataForImage(delivered, std::nullopt); } }));
    };

    // A serializer that keeps original data gives back the unprocessed image from disk; it is
    // processed once here and the processed image replaces it in memory, so a later memory hit is
    // already processed and is never processed a second time.
    if (options.cacheSerializer->usesOriginalData() && resultType == CacheType::disk) {
        runCallback(processingQueueFor(options), [self, options, cached, key, target, completion, finish] {
            ImageProcessItem item = ImageProcessItem::image(cached);
            std::shared_ptr<platform::Image> processed = runProcessor(*options.processor, item, options);
            if (!processed) {
                runCallback(
                    options.callbackQueue, [completion, error = processingFailed(options, std::move(item))] {
                        completion(RetrieveImageResultOrError::failure(error));
                    });
                return;
            }
            IrisParsedOptionsInfo memoryOptions = options;
            memoryOptions.callbackQueue = CallbackQueue::untouch();
            target->storeImage(processed, std::nullopt, key, memoryOptions, false, {});
            runCallback(options.callbackQueue, [finish, processed] { finish(processed); });
        });
        return;
    }
    runCallback(options.callbackQueue, [finish, cached] { finish(cached); });
}

void IrisManager::finishCachedOriginal(const Source& source,
    const std::shared_ptr<RetrievingContext>& context, const IrisParsedOptionsInfo& options,
    ImageCacheResultOrError lookUp, RetrieveImageCompletion completion)
{
    // Without a completion the processed image is still made and stored: only the answer is dropped.
    const QString key = source.cacheKey();
    std::shared_ptr<platform::Image> original = lookUp.isSuccess() ? lookUp.value().image() : nullptr;
    if (!isUsable(original)) {
        if (!options.onlyFromCache) {
            reloadAfterUnusableEntry(source, context, std::move(completion));
            return;
        }
        if (completion)
            runCallback(options.callbackQueue, [completion, key] {
                completion(RetrieveImageResultOrError::failure(imageNotExisting(key)));
            });
        return;
    }
    std::shared_ptr<ImageCache> target = targetCache(options);
    runCallback(processingQueueFor(options), [source, context, options, original, key, target, completion] {
        ImageProcessItem item = ImageProcessItem::image(original);
        std::shared_ptr<platform::Image> processed = runProcessor(*options.processor, item, options);
        if (!processed) {
            if (completion)
                runCallback(
                    options.callbackQueue, [completion, error = processingFailed(options, std::move(item))] {
                        completion(RetrieveImageResultOrError::failure(error));
                    });
            return;
        }
        auto coordinator = std::make_shared<CacheCallbackCoordinator>(options.waitForCache, false);
        CacheSerializerPtr serializer = options.cacheSerializer;
        RetrieveImageResult result { modified(options, processed), CacheType::none, source,
            context->originalSource,
            [serializer, processed] { return serializer->dataForImage(processed, std::nullopt); } };
        auto trigger = [completion, result, queue = options.callbackQueue] {
            if (completion)
                runCallback(
                    queue, [completion, result] { completion(RetrieveImageResultOrError::success(result)); });
        };
        // A serializer that keeps the original bytes writes, under the processed key, what the image
        // was made from, and a disk hit processes it on reading. Given none, it would write the
        // processed image there, and every disk hit would process it once more; without them the
        // processed image is kept in memory only.
        bool toDisk = !options.cacheMemoryOnly;
        std::optional<QByteArray> originalBytes;
        if (toDisk && serializer->usesOriginalData()) {
            // Outside code on the processing queue: what it throws means no bytes.
            try {
                originalBytes = serializer->dataForImage(original, ir(original).animatedImageData());
            } catch (...) {
            }
            toDisk = originalBytes.has_value();
        }
        IrisParsedOptionsInfo storeOptions = options;
        storeOptions.callbackQueue = CallbackQueue::untouch();
        target->storeImage(
            processed, originalBytes, key, storeOptions, toDisk, [coordinator, trigger](CacheStoreResult) {
                coordinator->applyCacheAction(CacheCallbackCoordinator::Action::imageStored, trigger);
            });
        coordinator->applyCacheAction(CacheCallbackCoordinator::Action::storeStarted, trigger);
    });
}

void IrisManager::storeInCaches(const Source& source, const IrisParsedOptionsInfo& options,
    const std::shared_ptr<RetrievingContext>& context, ImageLoadingResultOrError result,
    RetrieveImageCompletion completion)
{
    if (result.isFailure()) {
        if (completion)
            completion(RetrieveImageResultOrError::failure(result.error()));
        return;
    }
    const ImageLoadingResult loaded = result.value();
    if (!isUsable(loaded.image)) {
        if (completion)
            completion(RetrieveImageResultOrError::failure(
                processingFailed(options, ImageProcessItem::data(loaded.originalData))));
        return;
    }
    const bool cacheOriginal = options.cacheOriginalImage && !options.processor->identifier().isEmpty();
    auto coordinator = std::make_shared<CacheCallbackCoordinator>(options.waitForCache, cacheOriginal);
    const QByteArray originalData = loaded.originalData;
    RetrieveImageResult delivered { modified(options, loaded.image), CacheType::none, source,
        context->originalSource, [originalData]() -> std::optional<QByteArray> { return originalData; } };
    auto trigger = [completion, delivered] {
        if (completion)
            completion(RetrieveImageResultOrError::success(delivered));
    };

    const std::shared_ptr<ImageCache> target = targetCache(options);
    const QString key = source.cacheKey();
    target->storeImage(loaded.image, originalData, key, options, !options.cacheMemoryOnly,
        [coordinator, trigger](CacheStoreResult) {
            coordinator->applyCacheAction(CacheCallbackCoordinator::Action::imageStored, trigger);
        });
    if (cacheOriginal) {
        const std::shared_ptr<ImageCache> original = options.originalCache ? options.originalCache : target;
        // Reported on the caller's queue, like the image's store: when this write is the last to
        // finish, the completion it lets run runs there too, not on the cache's I/O queue.
        original->writeDataToDisk(originalData, key, QString(), options.diskCacheExpiration,
            options.callbackQueue, [coordinator, trigger](CacheStoreResult) {
                coordinator->applyCacheAction(CacheCallbackCoordinator::Action::originalStored, trigger);
            });
    }
    coordinator->applyCacheAction(CacheCallbackCoordinator::Action::storeStarted, trigger);
}

void IrisManager::consultRetryStrategy(
    RetrieveImageResultOrError result, const Source& source, const std::shared_ptr<RetrievalState>& state)
{
    if (result.isSuccess()) {
        // A download whose transfer had ended has nothing left to cancel while its image is made:
        // a retrieval called off meanwhile still ends as cancelled, never with an image.
        if (state->cancellation->isCancelled())
            deliverCancelled(state);
        else
            deliver(state, std::move(result));
        return;
    }
    IrisError error = result.error();
    // A retrieval called off ends as cancelled, whatever its last attempt ran into, and starts
    // nothing more: no retry, no other source.
    if (state->cancellation->isCancelled()) {
        deliver(state,
            RetrieveImageResultOrError::failure(
                error.isCancelledTask() ? std::move(error) : retrievalCancelled()));
        return;
    }
    const std::shared_ptr<const RetryStrategy> strategy = state->options.retryStrategy;
    // A cancelled retrieval was stopped on purpose: retrying it would undo the cancel.
    if (!strategy || error.isCancelledTask()) {
        fallBackToNextSource(source, std::move(error), state);
        return;
    }
    if (!state->retryContext)
        state->retryContext = std::make_shared<RetryContext>(*state->firstSource, error);
    else
        state->retryContext->setRetriedCount(state->retryContext->retriedCount() + 1);

    // While the strategy decides (a delayed retry waits), a cancel ends the retrieval there and
    // then; the decision, when it comes, finds it cancelled and starts nothing.
    std::shared_ptr<IrisManager> self = shared_from_this();
    if (!state->cancellation->enter(
            state->cancellation->nextStage(), [self, state] { self->deliverCancelled(state); })) {
        deliverCancelled(state);
        return;
    }
    // A strategy that answers twice must not start two attempts.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    try {
        strategy->retry(state->retryContext, [self, state, source, error, answered](RetryDecision decision) {
            if (answered->exchange(true) || state->cancellation->isCancelled())
                return;
            self->applyRetryDecision(std::move(decision), state, source, error);
        });
    } catch (...) {
        // A strategy is outside code, often run on a queue thread: what it throws before answering
        // means "stop", so the retrieval still gets its one answer.
        if (!answered->exchange(true) && !state->cancellation->isCancelled())
            applyRetryDecision(RetryDecision::stop(), state, source, error);
    }
}

void IrisManager::applyRetryDecision(RetryDecision decision, const std::shared_ptr<RetrievalState>& state,
    const Source& source, IrisError error)
{
    if (decision.kind == RetryDecision::Kind::retry) {
        state->retryContext->setUserInfo(std::move(decision.userInfo));
        // The next attempt starts from a queue, never from inside the failure that led to it: a
        // strategy that answers at once and a load that fails at once would otherwise nest one
        // attempt in the last until the stack runs out. It keeps to the caller's queue where it can.
        const CallbackQueue& callbacks = state->options.callbackQueue;
        const CallbackQueue queue = callbacks.kind() == CallbackQueue::Kind::dispatch ? callbacks
            : callbacks.kind() == CallbackQueue::Kind::untouch ? CallbackQueue::dispatch(m_processingQueue)
                                                               : CallbackQueue::mainAsync();
        std::shared_ptr<IrisManager> self = shared_from_this();
        runCallback(queue, [self, state] { self->startRetrievalAttempt(*state->firstSource, state); });
        return;
    }
    fallBackToNextSource(source, std::move(error), state);
}

void IrisManager::fallBackToNextSource(
    const Source& source, IrisError error, const std::shared_ptr<RetrievalState>& state)
{
    RetrievingContext& context = *state->context;
    if (error.isCancelledTask()) {
        deliver(state, RetrieveImageResultOrError::failure(std::move(error)));
        return;
    }
    if (error.isLowDataConstrained()) {
        if (!context.options.lowDataModeSource) {
            deliver(state, RetrieveImageResultOrError::failure(std::move(error)));
            return;
        }
        Source lowData = *context.options.lowDataModeSource;
        context.options.lowDataModeSource.reset();
        startRetrievalAttempt(lowData, state);
        return;
    }
    auto record = [&] {
        context.propagationErrors.push_back(
            PropagationError { ErrorObject<Source>::of(std::make_shared<const Source>(source)), error });
    };
    if (std::optional<Source> next = context.popAlternativeSource()) {
        record();
        startRetrievalAttempt(*next, state);
        return;
    }
    if (context.propagationErrors.empty()) {
        deliver(state, RetrieveImageResultOrError::failure(std::move(error)));
        return;
    }
    record();
    deliver(state,
        RetrieveImageResultOrError::failure(IrisError::imageSettingError(
            IrisError::ImageSettingErrorReason::alternativeSourcesExhausted(context.propagationErrors))));
}

void IrisManager::startRetrievalAttempt(const Source& source, const std::shared_ptr<RetrievalState>& state)
{
    if (state->cancellation->isCancelled()) {
        deliverCancelled(state);
        return;
    }
    std::optional<DownloadTask> task = startAttempt(source, state);
    if (state->downloadTaskUpdated)
        state->downloadTaskUpdated(std::move(task));
}

void IrisManager::deliverCancelled(const std::shared_ptr<RetrievalState>& state)
{
    deliver(state, RetrieveImageResultOrError::failure(retrievalCancelled()));
}

void IrisManager::deliver(const std::shared_ptr<RetrievalState>& state, RetrieveImageResultOrError result)
{
    if (state->delivered.exchange(true))
        return;
    // Nothing is left to call off; what the last stage held (the state itself) is let go.
    state->cancellation->finish();
    if (!state->completion)
        return;
    // Every ending, failures after a retry or a cache miss included, reaches the caller on the queue
    // it chose; on a dispatch queue always later, never inside the caller's own call.
    runCallback(state->options.callbackQueue,
        [completion = state->completion, result = std::move(result)] { completion(result); });
}

} // namespace iris
