#pragma once

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/ImageFrameSource.h"
#include "Iris/networking/SessionDataTask.h"
#include "Iris/utility/CallbackQueue.h"
#include "Iris/utility/Delegate.h"

#include <QByteArray>
#include <QByteArrayView>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {
class DispatchQueue;
class Image;
class ProgressiveJpegDecoder;
} // namespace platform

namespace iris {

// How a caller wants an intermediate image of a progressive download shown.
struct UpdatingStrategy {
    enum class Kind {
        replace, // show `image` (which may be none) instead
        defaultStrategy, // show the intermediate image
        keepCurrent, // leave the shown image
    };
    Kind kind = Kind::defaultStrategy;
    std::shared_ptr<platform::Image> image;

    static UpdatingStrategy replace(std::shared_ptr<platform::Image> image)
    {
        return { Kind::replace, std::move(image) };
    }
    static UpdatingStrategy defaultStrategy() { return { Kind::defaultStrategy, nullptr }; }
    static UpdatingStrategy keepCurrent() { return { Kind::keepCurrent, nullptr }; }
};

// The settings of progressive JPEG loading. Copies share one `onImageUpdated` delegate.
class ImageProgressive {
public:
    using UpdatingStrategy = iris::UpdatingStrategy;
    using ImageUpdatedDelegate = Delegate<std::shared_ptr<platform::Image>, UpdatingStrategy>;

    // Blur on, fastest scan on, no spacing.
    ImageProgressive();
    ImageProgressive(bool isBlur, bool isFastestScan, double scanInterval);
    static const ImageProgressive& standard();

    // Blur partial images while fewer than 6 scans have been counted.
    bool isBlur() const { return m_isBlur; }
    // Only the newest complete prefix of each update, or one prefix per new scan.
    bool isFastestScan() const { return m_isFastestScan; }
    // Least time between two update steps of one download, in seconds.
    double scanInterval() const { return m_scanInterval; }
    const std::shared_ptr<ImageUpdatedDelegate>& onImageUpdated() const { return m_onImageUpdated; }

private:
    bool m_isBlur;
    bool m_isFastestScan;
    double m_scanInterval;
    std::shared_ptr<ImageUpdatedDelegate> m_onImageUpdated;
};

// Runs one update at a time, consecutive updates at least an interval apart. Its bookkeeping and the
// work run on its own serial queue. Time is read from a monotonic clock (injectable, in seconds), and
// delays go through a scheduler (injectable too).
class ImageProgressiveSerialQueue : public std::enable_shared_from_this<ImageProgressiveSerialQueue> {
public:
    using Clock = std::function<double()>;
    using Scheduler = std::function<void(double delaySeconds, std::function<void()> work)>;
    // The work calls its completion when done; further calls are ignored.
    using Work = std::function<void(std::function<void()> completion)>;

    static std::shared_ptr<ImageProgressiveSerialQueue> create(Clock clock = {}, Scheduler scheduler = {});

    void add(double interval, Work work);
    void finishCurrent(double interval);
    // Drops every item that has not started.
    void clean();

    const std::shared_ptr<platform::DispatchQueue>& queue() const { return m_queue; }
    // Read on the queue.
    std::size_t itemCount() const { return m_items.size(); }
    std::optional<double> lastTime() const { return m_lastTime; }

private:
    struct Item;
    ImageProgressiveSerialQueue(Clock clock, Scheduler scheduler);
    void schedule(const std::shared_ptr<Item>& item, double delay, double interval);

    const std::shared_ptr<platform::DispatchQueue> m_queue;
    Clock m_clock;
    Scheduler m_scheduler;
    std::list<std::shared_ptr<Item>> m_items;
    std::optional<double> m_lastTime;
};

// Finds the scans in the bytes of one download and turns prefixes into images. Its counters
// describe that one download and never go back.
class ImageProgressiveDecoder {
public:
    ImageProgressiveDecoder(
        ImageProgressive option, CallbackQueue processingQueue, ImageCreatingOptions creatingOptions);
    ~ImageProgressiveDecoder();

    // The prefix before the newest start-of-scan marker found since the last call; nothing when no
    // new marker was found or fewer than two were counted.
    std::optional<QByteArray> scanLatest(const QByteArray& data);
    // One prefix per new marker after the first of the download, in order.
    std::vector<QByteArray> scanEvery(const QByteArray& data);
    // The same, as prefix lengths, so that no prefix is copied. Each call examines only the bytes
    // after `scannedIndex`, in place.
    std::optional<qsizetype> scanLatestLength(QByteArrayView data);
    std::vector<qsizetype> scanEveryLengths(QByteArrayView data);

    std::int64_t scannedCount() const { return m_scannedCount; }
    std::int64_t scannedIndex() const { return m_scannedIndex; }
    const CallbackQueue& processingQueue() const { return m_processingQueue; }

    // Whether a prefix of `scannedCount` markers is blurred, and by how much.
    static bool blurs(bool isBlur, std::int64_t scannedCount) { return isBlur && scannedCount < 6; }
    static double blurRadius(std::int64_t scannedCount)
    {
        return std::max(2.0, 14.0 - 4.0 * double(scannedCount));
    }

    // The bytes the decoder has been given so far; a prefix's new bytes start here.
    qint64 fedLength() const;
    // The image of the scans complete in the prefix of `prefixLength` bytes, blurred when few scans
    // are in, and processed for each request: one image per request, in order (null where a
    // processor gave none). `tail` holds the download's bytes from `tailOffset` (at most
    // `fedLength()`) on, at least to the prefix's end. Runs on the calling thread.
    std::vector<std::shared_ptr<platform::Image>> decode(const QByteArray& tail, qint64 tailOffset,
        qsizetype prefixLength, std::int64_t scannedCountAtScan, const SessionDataTask::Callbacks& callbacks);

    // Once the whole file is in, the download's completion shows it, so later decodes make
    // nothing; the decoder is kept for `finishedImage` until `releaseDecoder`. `downloadFinished`
    // may be called on any thread and never waits.
    void releaseDecoder();
    void downloadFinished();

    // The download the bytes given to `decode` come from (null: bytes handed over directly). The
    // finished image is made only when every byte came from one download.
    void noteSource(const std::shared_ptr<SessionDataTask>& task);
    // The image of `data`, the bytes download `source` ended with, made from the scans the decoder
    // has already read rather than by decoding the file again: only when the decoder read from that
    // download alone, `data` is its very buffer (not bytes a delegate changed), and the decoder can
    // give exactly the image the one-shot decode would. Null otherwise; the decoder's memory goes
    // either way.
    std::shared_ptr<platform::Image> finishedImage(
        const QByteArray& data, const std::shared_ptr<const SessionDataTask>& source);

    // Counts the decodes that found an image, the blur radii used, and the finished images made
    // (tests read them).
    struct Statistics {
        int images = 0;
        std::vector<double> blurRadii;
        int finishedImages = 0;
    };
    Statistics statistics() const;

private:
    // Whether the download so far is a progressive JPEG. Searches only the bytes it has not seen,
    // so a baseline JPEG arriving in many chunks is not scanned whole at each one.
    bool isProgressiveJPEG(QByteArrayView data);
    // Counts the start-of-scan markers after `scannedIndex` and moves it to the last byte that can
    // start one. Gives the count they bring `scannedCount` to (which it leaves alone) and the last
    // marker's position (0: none); each marker that has one before it adds its position to
    // `prefixes`, when given.
    std::int64_t scanMarkers(QByteArrayView data, std::int64_t& last, std::vector<qsizetype>* prefixes);

    const ImageProgressive m_option;
    const CallbackQueue m_processingQueue;
    const ImageCreatingOptions m_creatingOptions;
    std::int64_t m_scannedCount = 0;
    std::int64_t m_scannedIndex = -1;
    bool m_progressive = false;
    qsizetype m_progressiveSearchedTo = 0;

    mutable std::mutex m_mutex;
    std::unique_ptr<platform::ProgressiveJpegDecoder> m_jpeg;
    qint64 m_fed = 0;
    enum class Sources { none, one, several };
    Sources m_sources = Sources::none;
    std::weak_ptr<SessionDataTask> m_source;
    Statistics m_statistics;
    std::atomic<bool> m_downloadFinished { false };
};

// Shows a progressive JPEG while it downloads: told of each received chunk, it finds newly completed
// scans and hands an image of them, processed as the request asked, to `refresh` on the main queue.
// It only ever uses the requests it was made for (those whose options list it), so a view never shows
// an image processed for someone else's request.
class ImageProgressiveProvider final : public DataReceivingSideEffect,
                                       public std::enable_shared_from_this<ImageProgressiveProvider> {
public:
    using Refresh = std::function<void(std::shared_ptr<platform::Image>)>;

    // Nothing when the options ask for no progressive loading.
    static std::shared_ptr<ImageProgressiveProvider> create(const IrisParsedOptionsInfo& options,
        Refresh refresh, ImageProgressiveSerialQueue::Clock clock = {},
        ImageProgressiveSerialQueue::Scheduler scheduler = {});

    std::function<bool()> onShouldApply() const override;
    void setOnShouldApply(std::function<bool()> gate) override;

    void reportReceivedData(platform::UrlSession* session, const std::shared_ptr<SessionDataTask>& task,
        const QByteArray& chunk, std::int64_t accumulatedLength, std::int64_t expectedContentLength) override;
    // Partial images decoded from here on would only come after the final one: none is decoded.
    void reportDownloadFinished() override { m_decoder.downloadFinished(); }

    // On the main queue: the task's bytes and this provider's requests at this moment. Updates that
    // arrive while one waits replace it, so at most one snapshot waits.
    void update(QByteArray data, SessionDataTask::Callbacks callbacks, std::int64_t expectedLength = -1);
    // The same, reading the task's bytes only when the update runs: no copy of them waits.
    void update(std::weak_ptr<SessionDataTask> task, SessionDataTask::Callbacks callbacks,
        std::int64_t expectedLength);

    const ImageProgressive& option() const { return m_option; }
    ImageProgressiveDecoder& decoder() { return m_decoder; }
    const std::shared_ptr<ImageProgressiveSerialQueue>& queue() const { return m_queue; }

    // The progressive processing queue used when the options name none: serial, shared by all
    // providers, labelled like the downloader's processing queue but a queue of its own.
    static const std::shared_ptr<platform::DispatchQueue>& progressiveProcessingQueue();

private:
    ImageProgressiveProvider(const IrisParsedOptionsInfo& options, Refresh refresh,
        ImageProgressiveSerialQueue::Clock clock, ImageProgressiveSerialQueue::Scheduler scheduler);

    struct Pending {
        QByteArray data;
        std::weak_ptr<SessionDataTask> task;
        SessionDataTask::Callbacks callbacks;
        // The length the response declared (-1: unknown).
        std::int64_t expectedLength = -1;
    };
    // What one update does: let the decoder go (the whole file is in), nothing, or decode
    // `prefixes` from `tail`, the bytes from `fed` on that the decoder has not been given.
    struct Step {
        bool whole = false;
        std::vector<qsizetype> prefixes;
        QByteArray tail;
        qint64 fed = 0;
    };
    // Scans the bytes `data` has gained and copies out the ones the decoder needs; costs what those
    // bytes cost, whatever came before them. Runs on the serial queue.
    Step takeStep(QByteArrayView data, std::int64_t expectedLength);
    bool shouldApply() const;
    void applyUpdate(std::function<void()> completion);
    void enqueue(Pending pending);
    void runPending(std::function<void()> completion);

    mutable std::mutex m_mutex;
    std::function<bool()> m_onShouldApply;
    std::optional<Pending> m_pending;

    const ImageProgressive m_option;
    const Refresh m_refresh;
    ImageProgressiveDecoder m_decoder;
    const std::shared_ptr<ImageProgressiveSerialQueue> m_queue;
};

} // namespace iris
