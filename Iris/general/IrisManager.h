#pragma once

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/RetrieveImageResult.h"
#include "Iris/general/RetrievingContext.h"
#include "Iris/general/RetryStrategy.h"
#include "Iris/networking/DownloadTask.h"
#include "Iris/networking/ImageDownloader.h"

#include "platform/foundation/DispatchQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace iris {

class ImageCache;
class RetrievalCancellation;
struct RetrievalState;

using DownloadProgressCallback = std::function<void(std::int64_t receivedSize, std::int64_t totalSize)>;
using DownloadTaskUpdatedCallback = std::function<void(std::optional<DownloadTask>)>;
using ProgressiveImageSetter = std::function<void(std::shared_ptr<platform::Image>)>;
using ReferenceTaskChecker = std::function<bool()>;

// The one road by which images are obtained: from the caches, or loaded from a data provider or
// the downloader, processed, stored and delivered on the options' callback queue. Every retrieval
// ends with exactly one completion (when one is given): success, failure or cancellation.
class IrisManager : public std::enable_shared_from_this<IrisManager> {
public:
    static std::shared_ptr<IrisManager> create(
        std::shared_ptr<ImageDownloader> downloader, std::shared_ptr<ImageCache> cache);
    // Over the shared downloader and the default cache, made once.
    static const std::shared_ptr<IrisManager>& sharedManager();

    virtual ~IrisManager() = default;

    std::shared_ptr<ImageCache> cache() const;
    void setCache(std::shared_ptr<ImageCache> cache);
    std::shared_ptr<ImageDownloader> downloader() const;
    void setDownloader(std::shared_ptr<ImageDownloader> downloader);
    // Put in front of every request's own items.
    IrisOptionsInfo defaultOptions() const;
    void setDefaultOptions(IrisOptionsInfo options);
    // Where loaded data and cached originals are processed unless the options name a queue.
    const std::shared_ptr<platform::DispatchQueue>& processingQueue() const { return m_processingQueue; }

    // Each returns the task of the download this call started, if any.
    virtual std::optional<DownloadTask> retrieveResource(const Resource& resource,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        DownloadTaskUpdatedCallback downloadTaskUpdated = {}, RetrieveImageCompletion completion = {});
    virtual std::optional<DownloadTask> retrieveSource(const Source& source,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        DownloadTaskUpdatedCallback downloadTaskUpdated = {}, RetrieveImageCompletion completion = {});
    virtual std::optional<DownloadTask> retrieveWithParsedOptions(const Source& source,
        IrisParsedOptionsInfo options, DownloadProgressCallback progress = {},
        DownloadTaskUpdatedCallback downloadTaskUpdated = {}, RetrieveImageCompletion completion = {},
        std::shared_ptr<RetrievalCancellation> cancellation = nullptr);
    // The core. The progressive image setter receives partial images once progressive loading gives
    // them; the checker gates every data-received side effect of the retrieval. Cancelling
    // `cancellation` (or any task handed out for the retrieval) ends it with `taskCancelled`, once,
    // whatever it is doing, and it starts nothing more; a retrieval made without one gets its own.
    virtual std::optional<DownloadTask> runRetrieval(const Source& source, IrisParsedOptionsInfo options,
        DownloadTaskUpdatedCallback downloadTaskUpdated = {},
        ProgressiveImageSetter progressiveImageSetter = {}, ReferenceTaskChecker referenceTaskChecker = {},
        RetrieveImageCompletion completion = {},
        std::shared_ptr<RetrievalCancellation> cancellation = nullptr);

    // Answers from the caches when it can, otherwise loads.
    virtual std::optional<DownloadTask> retrieveCacheFirst(const Source& source,
        const std::shared_ptr<RetrievingContext>& context, RetrieveImageCompletion completion);
    virtual void storeInCaches(const Source& source, const IrisParsedOptionsInfo& options,
        const std::shared_ptr<RetrievingContext>& context, ImageLoadingResultOrError result,
        RetrieveImageCompletion completion);
    virtual std::optional<DownloadTask::WrappedTask> loadAndStore(const Source& source,
        const std::shared_ptr<RetrievingContext>& context, RetrieveImageCompletion completion);
    // True when the cache step has taken the retrieval over and will complete it.
    virtual bool lookUpCaches(const Source& source, const std::shared_ptr<RetrievingContext>& context,
        RetrieveImageCompletion completion);

protected:
    IrisManager(std::shared_ptr<ImageDownloader> downloader, std::shared_ptr<ImageCache> cache);

private:
    std::shared_ptr<ImageCache> targetCache(const IrisParsedOptionsInfo& options) const;
    CallbackQueue processingQueueFor(const IrisParsedOptionsInfo& options) const;
    void finishTargetHit(const Source& source, const std::shared_ptr<RetrievingContext>& context,
        const IrisParsedOptionsInfo& options, CacheType cachedType, ImageCacheResultOrError lookUp,
        RetrieveImageCompletion completion);
    void finishCachedOriginal(const Source& source, const std::shared_ptr<RetrievingContext>& context,
        const IrisParsedOptionsInfo& options, ImageCacheResultOrError lookUp,
        RetrieveImageCompletion completion);

    void consultRetryStrategy(RetrieveImageResultOrError result, const Source& source,
        const std::shared_ptr<RetrievalState>& state);
    void applyRetryDecision(RetryDecision decision, const std::shared_ptr<RetrievalState>& state,
        const Source& source, IrisError error);
    void fallBackToNextSource(
        const Source& source, IrisError error, const std::shared_ptr<RetrievalState>& state);
    void startRetrievalAttempt(const Source& source, const std::shared_ptr<RetrievalState>& state);
    std::optional<DownloadTask> startAttempt(
        const Source& source, const std::shared_ptr<RetrievalState>& state);
    // Lets cancelling reach the attempt's task and records it as the retrieval's latest.
    void adoptTask(
        const std::shared_ptr<RetrievalState>& state, std::uint64_t stage, std::optional<DownloadTask> task);
    void reloadAfterUnusableEntry(const Source& source, const std::shared_ptr<RetrievingContext>& context,
        RetrieveImageCompletion completion);
    void deliver(const std::shared_ptr<RetrievalState>& state, RetrieveImageResultOrError result);
    void deliverCancelled(const std::shared_ptr<RetrievalState>& state);

    mutable std::mutex m_mutex;
    std::shared_ptr<ImageCache> m_cache;
    std::shared_ptr<ImageDownloader> m_downloader;
    IrisOptionsInfo m_defaultOptions;
    const std::shared_ptr<platform::DispatchQueue> m_processingQueue;
};

} // namespace iris
