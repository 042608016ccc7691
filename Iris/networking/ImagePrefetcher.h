#pragma once

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/Source.h"
#include "Iris/networking/DownloadTask.h"

#include <QString>
#include <QUrl>

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
class DispatchQueue;
}

namespace iris {

class IrisManager;

using ResourceList = std::vector<std::shared_ptr<const Resource>>;
using SourceList = std::vector<Source>;
// (skipped, failed, completed)
using PrefetcherProgressBlock = std::function<void(ResourceList, ResourceList, ResourceList)>;
using PrefetcherCompletionHandler = PrefetcherProgressBlock;
using PrefetcherSourceProgressBlock = std::function<void(SourceList, SourceList, SourceList)>;
using PrefetcherSourceCompletionHandler = PrefetcherSourceProgressBlock;

// Warms the caches for a list of sources before they are shown: cache hits are skipped (a disk hit
// is brought into memory on request), everything else is downloaded and stored through a manager of
// its own, in at most `maxConcurrentDownloads` lanes. Progress and completion reach the main thread.
//
// Every source ends in exactly one of the three lists, and the completion runs exactly once. Once
// stopped, no new download starts: sources not yet started count as failed.
class ImagePrefetcher : public std::enable_shared_from_this<ImagePrefetcher> {
public:
    static std::shared_ptr<ImagePrefetcher> create(const std::vector<QUrl>& urls,
        const std::optional<IrisOptionsInfo>& options, PrefetcherProgressBlock progressBlock,
        PrefetcherCompletionHandler completionHandler);
    static std::shared_ptr<ImagePrefetcher> create(const std::vector<QUrl>& urls,
        const std::optional<IrisOptionsInfo>& options, PrefetcherCompletionHandler completionHandler);
    // A file URL becomes a data-provider source, anything else a network source.
    static std::shared_ptr<ImagePrefetcher> create(const ResourceList& resources,
        const std::optional<IrisOptionsInfo>& options, PrefetcherProgressBlock progressBlock,
        PrefetcherCompletionHandler completionHandler);
    static std::shared_ptr<ImagePrefetcher> create(const ResourceList& resources,
        const std::optional<IrisOptionsInfo>& options, PrefetcherCompletionHandler completionHandler);
    static std::shared_ptr<ImagePrefetcher> create(SourceList sources,
        const std::optional<IrisOptionsInfo>& options, PrefetcherSourceProgressBlock progressBlock,
        PrefetcherSourceCompletionHandler completionHandler);
    static std::shared_ptr<ImagePrefetcher> create(SourceList sources,
        const std::optional<IrisOptionsInfo>& options, PrefetcherSourceCompletionHandler completionHandler);

    ImagePrefetcher(const ImagePrefetcher&) = delete;
    ImagePrefetcher& operator=(const ImagePrefetcher&) = delete;

    // Read when the start step runs; later changes do not affect a running prefetcher.
    int maxConcurrentDownloads() const { return m_maxConcurrentDownloads.load(); }
    void setMaxConcurrentDownloads(int count) { m_maxConcurrentDownloads.store(count); }

    // Both only queue work and may be called from any thread.
    void start();
    void stop();

    const SourceList& prefetchSources() const { return m_prefetchSources; }
    const IrisParsedOptionsInfo& optionsInfo() const { return m_optionsInfo; }
    const std::shared_ptr<IrisManager>& manager() const { return m_manager; }

    // The object's address.
    QString description() const;

    // Shared by every prefetcher: calls into the manager are made one at a time.
    static const std::shared_ptr<platform::DispatchQueue>& requestingQueue();

private:
    ImagePrefetcher(SourceList sources, const std::optional<IrisOptionsInfo>& options);

    void startStep();
    void stopStep();
    void startPrefetching(std::size_t index);
    void downloadAndCache(std::size_t index);
    void downloadFinished(std::size_t index, bool succeeded);
    void appendCached(std::size_t index);
    void appendFailedWithoutWork(std::size_t index);
    void reportProgress();
    void reportCompletionOrStartNext();
    void handleComplete();
    bool allFinished() const;
    // Takes the front of the pending sources.
    std::optional<std::size_t> takePending();
    void sweepPendingIntoFailed();

    std::atomic<int> m_maxConcurrentDownloads { 5 };
    const SourceList m_prefetchSources;
    IrisParsedOptionsInfo m_optionsInfo;
    const std::shared_ptr<platform::DispatchQueue> m_prefetchQueue;
    std::shared_ptr<IrisManager> m_manager;

    // Set once, before `start`, by the constructions.
    PrefetcherProgressBlock m_progressBlock;
    PrefetcherCompletionHandler m_completionHandler;
    PrefetcherSourceProgressBlock m_progressSourceBlock;
    PrefetcherSourceCompletionHandler m_completionSourceHandler;

    // Everything below lives on the prefetch queue. Sources are named by their position in the work
    // list, so two sources with one cache key are tracked apart.
    std::map<std::size_t, DownloadTask::WrappedTask> m_tasks;
    std::size_t m_nextPending = 0;
    // The three lists only grow, on the prefetch queue; a report waiting for the main thread keeps
    // their lengths and copies them when it runs, so waiting reports hold no lists of their own.
    struct Outcomes {
        mutable std::mutex mutex; // taken by the queue to append, by a report to read
        SourceList skipped;
        SourceList failed;
        SourceList completed;
    };
    void record(SourceList Outcomes::*list, std::size_t index);
    const std::shared_ptr<Outcomes> m_outcomes = std::make_shared<Outcomes>();
    std::vector<bool> m_counted;
    bool m_stopped = false;
    bool m_completionReported = false;
};

} // namespace iris
