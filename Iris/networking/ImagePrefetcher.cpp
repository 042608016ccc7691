#include "Iris/networking/ImagePrefetcher.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/IrisNames.h"
#include "Iris/general/RetrievingContext.h"
#include "Iris/networking/ImageDownloader.h"

#include "platform/foundation/DispatchQueue.h"

#include <algorithm>
#include <array>

namespace iris {

namespace {

ResourceList resourcesOf(const SourceList& sources)
{
    ResourceList resources;
    for (const Source& source : sources) {
        if (source.kind() == Source::Kind::network && source.resource())
            resources.push_back(source.resource());
    }
    return resources;
}

SourceList sourcesOf(const std::vector<QUrl>& urls)
{
    SourceList sources;
    sources.reserve(urls.size());
    for (const QUrl& url : urls)
        sources.push_back(convertToSource(ImageResource(url)));
    return sources;
}

SourceList sourcesOf(const ResourceList& resources)
{
    SourceList sources;
    sources.reserve(resources.size());
    for (const std::shared_ptr<const Resource>& resource : resources) {
        if (resource)
            sources.push_back(convertToSource(*resource));
    }
    return sources;
}

} // namespace

ImagePrefetcher::ImagePrefetcher(SourceList sources, const std::optional<IrisOptionsInfo>& options)
    : m_prefetchSources(std::move(sources))
    , m_optionsInfo(options)
    , m_prefetchQueue(platform::DispatchQueue::makeSerial(
          irisName(QStringLiteral("ImagePrefetcher.prefetchQueue")).toStdString()))
    , m_counted(m_prefetchSources.size(), false)
{
    // Every completion from the manager comes back to the queue that owns the state.
    m_optionsInfo.callbackQueue = CallbackQueue::dispatch(m_prefetchQueue);
    m_manager = IrisManager::create(
        m_optionsInfo.downloader ? m_optionsInfo.downloader : ImageDownloader::sharedDownloader(),
        m_optionsInfo.targetCache ? m_optionsInfo.targetCache : ImageCache::defaultCache());
}

std::shared_ptr<ImagePrefetcher> ImagePrefetcher::create(const std::vector<QUrl>& urls,
    const std::optional<IrisOptionsInfo>& options, PrefetcherProgressBlock progressBlock,
    PrefetcherCompletionHandler completionHandler)
{
    std::shared_ptr<ImagePrefetcher> prefetcher(new ImagePrefetcher(sourcesOf(urls), options));
    prefetcher->m_progressBlock = std::move(progressBlock);
    prefetcher->m_completionHandler = std::move(completionHandler);
    return prefetcher;
}

std::shared_ptr<ImagePrefetcher> ImagePrefetcher::create(const std::vector<QUrl>& urls,
    const std::optional<IrisOptionsInfo>& options, PrefetcherCompletionHandler completionHandler)
{
    return create(urls, options, PrefetcherProgressBlock(), std::move(completionHandler));
}

std::shared_ptr<ImagePrefetcher> ImagePrefetcher::create(const ResourceList& resources,
    const std::optional<IrisOptionsInfo>& options, PrefetcherProgressBlock progressBlock,
    PrefetcherCompletionHandler completionHandler)
{
    std::shared_ptr<ImagePrefetcher> prefetcher(new ImagePrefetcher(sourcesOf(resources), options));
    prefetcher->m_progressBlock = std::move(progressBlock);
    prefetcher->m_completionHandler = std::move(completionHandler);
    return prefetcher;
}

std::shared_ptr<ImagePrefetcher> ImagePrefetcher::create(const ResourceList& resources,
    const std::optional<IrisOptionsInfo>& options, PrefetcherCompletionHandler completionHandler)
{
    return create(resources, options, PrefetcherProgressBlock(), std::move(completionHandler));
}

std::shared_ptr<ImagePrefetcher> ImagePrefetcher::create(SourceList sources,
    const std::optional<IrisOptionsInfo>& options, PrefetcherSourceProgressBlock progressBlock,
    PrefetcherSourceCompletionHandler completionHandler)
{
    std::shared_ptr<ImagePrefetcher> prefetcher(new ImagePrefetcher(std::move(sources), options));
    prefetcher->m_progressSourceBlock = std::move(progressBlock);
    prefetcher->m_completionSourceHandler = std::move(completionHandler);
    return prefetcher;
}

std::shared_ptr<ImagePrefetcher> ImagePrefetcher::create(SourceList sources,
    const std::optional<IrisOptionsInfo>& options, PrefetcherSourceCompletionHandler completionHandler)
{
    return create(std::move(sources), options, PrefetcherSourceProgressBlock(), std::move(completionHandler));
}

const std::shared_ptr<platform::DispatchQueue>& ImagePrefetcher::requestingQueue()
{
    static const std::shared_ptr<platform::DispatchQueue> queue = platform::DispatchQueue::makeSerial(
        irisName(QStringLiteral("ImagePrefetcher.requestingQueue")).toStdString());
    return queue;
}

QString ImagePrefetcher::description() const
{
    return QStringLiteral("0x%1").arg(reinterpret_cast<quintptr>(this), 0, 16);
}

void ImagePrefetcher::start()
{
    m_prefetchQueue->async([self = shared_from_this()] { self->startStep(); });
}

void ImagePrefetcher::stop()
{
    m_prefetchQueue->async([self = shared_from_this()] { self->stopStep(); });
}

void ImagePrefetcher::startStep()
{
    if (m_stopped) {
        // Nothing was started, and nothing will be: what is still pending has failed.
        sweepPendingIntoFailed();
        if (m_tasks.empty())
            handleComplete();
        return;
    }
    const int lanes = maxConcurrentDownloads();
    if (lanes < 1 || m_prefetchSources.empty()) {
        handleComplete();
        return;
    }
    const std::size_t count = std::min<std::size_t>(std::size_t(lanes), m_prefetchSources.size());
    for (std::size_t lane = 0; lane < count; ++lane) {
        if (std::optional<std::size_t> index = takePending())
            startPrefetching(*index);
    }
}

void ImagePrefetcher::stopStep()
{
    if (allFinished())
        return;
    m_stopped = true;
    sweepPendingIntoFailed();
    // Cancelled downloads come back as failures through their completions; the last of them
    // finishes the prefetcher.
    const std::map<std::size_t, DownloadTask::WrappedTask> running = m_tasks;
    for (const auto& [index, task] : running)
        task.cancel();
    reportProgress();
    if (m_tasks.empty() && allFinished())
        handleComplete();
}

std::optional<std::size_t> ImagePrefetcher::takePending()
{
    if (m_nextPending >= m_prefetchSources.size())
        return std::nullopt;
    return m_nextPending++;
}

void ImagePrefetcher::sweepPendingIntoFailed()
{
    while (std::optional<std::size_t> index = takePending()) {
        m_counted[*index] = true;
        record(&Outcomes::failed, *index);
    }
}

void ImagePrefetcher::startPrefetching(std::size_t index)
{
    if (m_stopped) {
        appendFailedWithoutWork(index);
        return;
    }
    const Source& source = m_prefetchSources[index];
    if (m_optionsInfo.forceRefresh) {
        downloadAndCache(index);
        return;
    }
    const CacheType type
        = m_manager->cache()->cacheTypeOfKey(source.cacheKey(), m_optionsInfo.processor->identifier());
    switch (type) {
    case CacheType::memory:
        appendCached(index);
        return;
    case CacheType::disk:
        if (m_optionsInfo.alsoPrefetchToMemory) {
            auto context = std::make_shared<RetrievingContext>(m_optionsInfo, source);
            std::shared_ptr<ImagePrefetcher> self = shared_from_this();
            const bool taken = m_manager->lookUpCaches(
                source, context, [self, index](auto) { self->appendCached(index); });
            // The entry went away since the check: fetch it like any miss, so the cache ends up warm.
            if (!taken)
                downloadAndCache(index);
            return;
        }
        appendCached(index);
        return;
    case CacheType::none:
        downloadAndCache(index);
        return;
    }
}

void ImagePrefetcher::downloadAndCache(std::size_t index)
{
    const Source source = m_prefetchSources[index];
    std::shared_ptr<ImagePrefetcher> self = shared_from_this();
    std::optional<DownloadTask::WrappedTask> task;
    requestingQueue()->sync([&] {
        auto context = std::make_shared<RetrievingContext>(m_optionsInfo, source);
        task = m_manager->loadAndStore(source, context, [self, index](RetrieveImageResultOrError result) {
            self->downloadFinished(index, result.isSuccess());
        });
    });
    // A completion that already ran has counted the source; keep no task for it.
    if (task && !m_counted[index])
        m_tasks.emplace(index, std::move(*task));
}

void ImagePrefetcher::downloadFinished(std::size_t index, bool succeeded)
{
    m_tasks.erase(index);
    if (m_counted[index])
        return;
    m_counted[index] = true;
    record(succeeded ? &Outcomes::completed : &Outcomes::failed, index);
    reportProgress();
    if (!m_stopped) {
        reportCompletionOrStartNext();
        return;
    }
    if (m_tasks.empty()) {
        sweepPendingIntoFailed();
        if (allFinished())
            handleComplete();
    }
}

void ImagePrefetcher::appendCached(std::size_t index)
{
    if (m_counted[index])
        return;
    m_counted[index] = true;
    record(&Outcomes::skipped, index);
    reportProgress();
    reportCompletionOrStartNext();
}

void ImagePrefetcher::appendFailedWithoutWork(std::size_t index)
{
    if (m_counted[index])
        return;
    m_counted[index] = true;
    record(&Outcomes::failed, index);
    reportProgress();
    reportCompletionOrStartNext();
}

void ImagePrefetcher::reportCompletionOrStartNext()
{
    if (std::optional<std::size_t> index = takePending()) {
        m_prefetchQueue->async(
            [self = shared_from_this(), index = *index] { self->startPrefetching(index); });
        return;
    }
    if (allFinished())
        handleComplete();
}

void ImagePrefetcher::record(SourceList Outcomes::*list, std::size_t index)
{
    std::lock_guard lock(m_outcomes->mutex);
    (m_outcomes.get()->*list).push_back(m_prefetchSources[index]);
}

void ImagePrefetcher::reportProgress()
{
    // Nothing follows the completion: a stop after a start that opened no lanes must not report as
    // failed the sources the completion did not list.
    if (m_completionReported || (!m_progressBlock && !m_progressSourceBlock))
        return;
    // Only the queue appends, so it reads the lengths without the lock.
    runCallback(CallbackQueue::mainCurrentOrAsync(),
        [resourceBlock = m_progressBlock, sourceBlock = m_progressSourceBlock, outcomes = m_outcomes,
            lengths = std::array {
                m_outcomes->skipped.size(), m_outcomes->failed.size(), m_outcomes->completed.size() }] {
            SourceList skipped, failed, completed;
            {
                std::lock_guard lock(outcomes->mutex);
                skipped.assign(outcomes->skipped.begin(), outcomes->skipped.begin() + lengths[0]);
                failed.assign(outcomes->failed.begin(), outcomes->failed.begin() + lengths[1]);
                completed.assign(outcomes->completed.begin(), outcomes->completed.begin() + lengths[2]);
            }
            if (sourceBlock)
                sourceBlock(skipped, failed, completed);
            if (resourceBlock)
                resourceBlock(resourcesOf(skipped), resourcesOf(failed), resourcesOf(completed));
        });
}

void ImagePrefetcher::handleComplete()
{
    if (m_completionReported)
        return;
    m_completionReported = true;
    // The lists and handlers are taken here, on the queue that owns them, and only copies reach the
    // main thread.
    PrefetcherCompletionHandler resourceHandler = std::exchange(m_completionHandler, {});
    m_progressBlock = {};
    if (!resourceHandler && !m_completionSourceHandler)
        return;
    runCallback(CallbackQueue::mainCurrentOrAsync(),
        [resourceHandler, sourceHandler = m_completionSourceHandler, skipped = m_outcomes->skipped,
            failed = m_outcomes->failed, completed = m_outcomes->completed] {
            if (sourceHandler)
                sourceHandler(skipped, failed, completed);
            if (resourceHandler)
                resourceHandler(resourcesOf(skipped), resourcesOf(failed), resourcesOf(completed));
        });
}

bool ImagePrefetcher::allFinished() const
{
    return m_outcomes->skipped.size() + m_outcomes->failed.size() + m_outcomes->completed.size()
        == m_prefetchSources.size()
        && m_tasks.empty();
}

} // namespace iris
