#include "../networking/DownloaderTestSupport.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/networking/ImagePrefetcher.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Image.h"

#include <QFile>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>
#include <random>

using namespace iris;
using namespace iristest;
using testsupport::waitUntil;

namespace {

// What the completion blocks received, and how often they ran.
struct Finish {
    int sourceCalls = 0;
    int resourceCalls = 0;
    SourceList skipped, failed, completed;
    ResourceList resourceSkipped, resourceFailed, resourceCompleted;
    int progressCalls = 0;

    std::size_t total() const { return skipped.size() + failed.size() + completed.size(); }
};

// The real downloader, counting the downloads it was asked to start.
class RecordingDownloader final : public ImageDownloader {
public:
    RecordingDownloader()
        : ImageDownloader(QStringLiteral("prefetch"))
    {
    }
    std::optional<DownloadTask> downloadImage(
        const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion) override
    {
        ++started;
        return ImageDownloader::downloadImage(url, options, std::move(completion));
    }
    std::atomic<int> started { 0 };
};

int occurrences(const SourceList& list, const Source& source)
{
    return int(std::count(list.begin(), list.end(), source));
}

class Prefetch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_caches.isValid());
        cache = ImageCache::initNamed(QStringLiteral("prefetch"), QUrl::fromLocalFile(m_caches.path()));
        server.addBody("/image", pngBody(), 200, "image/png");
        server.addBody("/sentinel", pngBody(), 200, "image/png");
    }

    IrisOptionsInfo options(IrisOptionsInfo extra = {}) const
    {
        IrisOptionsInfo items { IrisOptionsInfoItem::downloader(downloader),
            IrisOptionsInfoItem::targetCache(cache) };
        items.insert(items.end(), extra.begin(), extra.end());
        return items;
    }

    SourceList networkSources(const QString& path, int count, int run = 0) const
    {
        SourceList sources;
        for (int i = 0; i < count; ++i)
            sources.push_back(
                convertToSource(server.url(QStringLiteral("%1?run=%2&n=%3").arg(path).arg(run).arg(i))));
        return sources;
    }

    std::shared_ptr<ImagePrefetcher> make(
        SourceList sources, IrisOptionsInfo items, const std::shared_ptr<Finish>& finish)
    {
        return ImagePrefetcher::create(
            std::move(sources), items,
            [finish](SourceList, SourceList, SourceList) { ++finish->progressCalls; },
            [finish](SourceList skipped, SourceList failed, SourceList completed) {
                EXPECT_TRUE(testsupport::isMainThread());
                ++finish->sourceCalls;
                finish->skipped = std::move(skipped);
                finish->failed = std::move(failed);
                finish->completed = std::move(completed);
            });
    }

    void storeInMemory(const Source& source)
    {
        QImage pixels(4, 4, QImage::Format_ARGB32);
        pixels.fill(Qt::red);
        cache->storeImage(platform::Image::create(*platform::Bitmap::fromImage(pixels)), std::nullopt,
            source.cacheKey(), IrisParsedOptionsInfo(), false);
    }

    void storeOnDiskOnly(const Source& source)
    {
        cache->writeDataToDisk(QByteArray::fromStdString(pngBody()), source.cacheKey());
        cache->ioQueue()->sync([] {});
    }

    // After the completion, one more request through the same downloader: once it has been
    // answered, anything the prefetcher still had in the pipe would have reached the server.
    int requestsAfterSettling()
    {
        const int before = server.totalRequests();
        auto answers = std::make_shared<Answers>();
        downloader->downloadImage(
            server.url(QStringLiteral("/sentinel")), IrisParsedOptionsInfo(), answers->completion());
        EXPECT_TRUE(waitUntil([&] { return answers->count() == 1; }, 10000));
        return server.totalRequests() - before - 1;
    }

    // Lets go of the prefetcher and waits until all its queued work has run (the work holds it);
    // returns how many downloads started after `startedAtCompletion` was read.
    int downloadsAfterCompletion(std::shared_ptr<ImagePrefetcher>& prefetcher, int startedAtCompletion)
    {
        std::weak_ptr<ImagePrefetcher> weak = prefetcher;
        prefetcher.reset();
        EXPECT_TRUE(waitUntil([&] { return weak.expired(); }, 10000));
        return downloader->started - startedAtCompletion;
    }

    // Every source in exactly one list, and one completion.
    static void expectEachSourceOnce(const Finish& finish, const SourceList& sources)
    {
        EXPECT_EQ(finish.sourceCalls, 1);
        EXPECT_EQ(finish.total(), sources.size());
        for (const Source& source : sources)
            EXPECT_EQ(occurrences(finish.skipped, source) + occurrences(finish.failed, source)
                    + occurrences(finish.completed, source),
                1)
                << source.description().toStdString();
    }

    QTemporaryDir m_caches;
    testsupport::HttpTestServer server;
    std::shared_ptr<RecordingDownloader> downloader = std::make_shared<RecordingDownloader>();
    std::shared_ptr<ImageCache> cache;
};

} // namespace

TEST_F(Prefetch, NothingToDoCompletesAtOnceWithEmptyLists)
{
    server.start();
    struct Case {
        int sources;
        int lanes;
    };
    for (const Case& c : { Case { 0, 5 }, Case { 3, 0 }, Case { 3, -2 } }) {
        auto finish = std::make_shared<Finish>();
        auto prefetcher = make(networkSources(QStringLiteral("/image"), c.sources), options(), finish);
        prefetcher->setMaxConcurrentDownloads(c.lanes);
        prefetcher->start();
        ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }));
        EXPECT_EQ(finish->total(), 0u) << c.sources << " sources, " << c.lanes << " lanes";
    }
    EXPECT_EQ(server.totalRequests(), 0);
}

TEST_F(Prefetch, NeverMoreDownloadsInFlightThanLanes)
{
    auto gate = server.addCountingGate("/gated", pngBody());
    server.start();
    const SourceList sources = networkSources(QStringLiteral("/gated"), 7);
    auto finish = std::make_shared<Finish>();
    auto prefetcher = make(sources, options(), finish);
    prefetcher->start();

    ASSERT_TRUE(waitUntil([&] { return gate->current() == 5; }, 10000));
    EXPECT_EQ(server.totalRequests(), 5);
    gate->release();
    ASSERT_TRUE(waitUntil([&] { return server.totalRequests() == 6; }, 10000));
    gate->release();
    ASSERT_TRUE(waitUntil([&] { return server.totalRequests() == 7; }, 10000));
    gate->openAll();
    ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000));

    EXPECT_EQ(gate->most(), 5);
    expectEachSourceOnce(*finish, sources);
    EXPECT_EQ(finish->completed.size(), 7u);
    for (const Source& source : sources)
        EXPECT_NE(cache->cacheTypeOfKey(source.cacheKey()), CacheType::none);
}

TEST_F(Prefetch, CacheHitsAreSkippedWithoutARequestAndDiskHitsCanBePromoted)
{
    server.start();
    const SourceList memoryHits = networkSources(QStringLiteral("/image"), 3, 1);
    const SourceList diskHits = networkSources(QStringLiteral("/image"), 2, 2);
    for (const Source& source : memoryHits)
        storeInMemory(source);
    for (const Source& source : diskHits)
        storeOnDiskOnly(source);
    SourceList all = memoryHits;
    all.insert(all.end(), diskHits.begin(), diskHits.end());

    for (bool promote : { false, true }) {
        auto finish = std::make_shared<Finish>();
        auto prefetcher = make(all,
            options(promote ? IrisOptionsInfo { IrisOptionsInfoItem::alsoPrefetchToMemory() }
                            : IrisOptionsInfo {}),
            finish);
        prefetcher->start();
        ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }));
        expectEachSourceOnce(*finish, all);
        EXPECT_EQ(finish->skipped.size(), all.size());
        for (const Source& source : diskHits)
            EXPECT_EQ(
                cache->cacheTypeOfKey(source.cacheKey()), promote ? CacheType::memory : CacheType::disk);
    }
    EXPECT_EQ(server.totalRequests(), 0);
}

TEST_F(Prefetch, ForceRefreshDownloadsEverySource)
{
    server.start();
    const SourceList sources = networkSources(QStringLiteral("/image"), 4);
    for (const Source& source : sources)
        storeInMemory(source);
    auto finish = std::make_shared<Finish>();
    make(sources, options({ IrisOptionsInfoItem::forceRefresh() }), finish)->start();
    ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000));
    expectEachSourceOnce(*finish, sources);
    EXPECT_EQ(finish->completed.size(), 4u);
    EXPECT_EQ(server.requestCount("/image"), 4);
}

TEST_F(Prefetch, StopBeforeStartDuringDownloadsAndAfterFinishing)
{
    auto gate = server.addCountingGate("/gated", pngBody());
    server.start();

    // Before start: nothing is fetched, everything counts as failed.
    {
        const SourceList sources = networkSources(QStringLiteral("/image"), 3, 1);
        auto finish = std::make_shared<Finish>();
        auto prefetcher = make(sources, options(), finish);
        prefetcher->stop();
        prefetcher->start();
        prefetcher->start();
        ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }));
        expectEachSourceOnce(*finish, sources);
        EXPECT_EQ(finish->failed.size(), 3u);
        EXPECT_EQ(requestsAfterSettling(), 0);
    }
    // During downloads: the running ones are cancelled, the pending ones never start.
    {
        const SourceList sources = networkSources(QStringLiteral("/gated"), 8, 2);
        auto finish = std::make_shared<Finish>();
        auto prefetcher = make(sources, options(), finish);
        prefetcher->setMaxConcurrentDownloads(3);
        prefetcher->start();
        ASSERT_TRUE(waitUntil([&] { return gate->current() == 3; }, 10000));
        prefetcher->stop();
        ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000));
        gate->openAll();
        expectEachSourceOnce(*finish, sources);
        EXPECT_EQ(finish->failed.size(), 8u);
        const int started = downloader->started;
        EXPECT_EQ(downloadsAfterCompletion(prefetcher, started), 0);
        EXPECT_EQ(started, 3 + 1); // the three in flight, and the sentinel of the block before
    }
    // After finishing: nothing changes and no second completion.
    {
        const SourceList sources = networkSources(QStringLiteral("/image"), 2, 3);
        auto finish = std::make_shared<Finish>();
        auto prefetcher = make(sources, options(), finish);
        prefetcher->start();
        ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000));
        prefetcher->stop();
        prefetcher->start();
        EXPECT_EQ(requestsAfterSettling(), 0);
        expectEachSourceOnce(*finish, sources);
        EXPECT_EQ(finish->completed.size(), 2u);
    }
}

// After the completion nothing more is reported: a stop after a start that opened no lanes does
// not report the sources it never started as failed.
TEST_F(Prefetch, NothingIsReportedAfterTheCompletion)
{
    server.start();
    auto finish = std::make_shared<Finish>();
    auto prefetcher = make(networkSources(QStringLiteral("/image"), 2), options(), finish);
    prefetcher->setMaxConcurrentDownloads(0);
    prefetcher->start();
    ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls == 1; }));
    prefetcher->stop();
    // Once the stop step has run, whatever it reported is queued for the main thread before this.
    prefetcher->optionsInfo().callbackQueue.queue()->sync([] {});
    bool drained = false;
    platform::DispatchQueue::main()->async([&] { drained = true; });
    ASSERT_TRUE(waitUntil([&] { return drained; }));
    EXPECT_EQ(finish->progressCalls, 0);
    EXPECT_EQ(finish->sourceCalls, 1);
    EXPECT_EQ(finish->total(), 0u);
}

// Mixed hits and misses, stopped at a random moment: one completion, each source once, and nothing
// reaches the server once the completion has run.
TEST_F(Prefetch, RandomStopPointsKeepEveryPromise)
{
    server.start();
    std::mt19937 random(20261206);
    for (int run = 0; run < 200; ++run) {
        SourceList sources = networkSources(QStringLiteral("/image"), 8, 100 + run);
        for (std::size_t i = 0; i < sources.size(); i += 2)
            storeInMemory(sources[i]);
        auto finish = std::make_shared<Finish>();
        auto weak = std::make_shared<std::weak_ptr<ImagePrefetcher>>();
        const int stopAfter = std::uniform_int_distribution<int>(-1, 8)(random);
        auto prefetcher = ImagePrefetcher::create(
            sources, options(),
            [finish, weak, stopAfter](SourceList, SourceList, SourceList) {
                if (++finish->progressCalls == stopAfter)
                    if (auto strong = weak->lock())
                        strong->stop();
            },
            [finish](SourceList skipped, SourceList failed, SourceList completed) {
                ++finish->sourceCalls;
                finish->skipped = std::move(skipped);
                finish->failed = std::move(failed);
                finish->completed = std::move(completed);
            });
        *weak = prefetcher;
        prefetcher->setMaxConcurrentDownloads(std::uniform_int_distribution<int>(1, 4)(random));
        prefetcher->start();
        if (stopAfter == -1)
            prefetcher->stop();
        ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000)) << "run " << run;
        const int startedBefore = downloader->started;
        EXPECT_EQ(downloadsAfterCompletion(prefetcher, startedBefore), 0) << "run " << run;
        expectEachSourceOnce(*finish, sources);
        EXPECT_EQ(finish->sourceCalls, 1) << "run " << run;
        if (HasFailure())
            break;
    }
}

// Two sources under one cache key are both tracked: a stop cancels both, and the prefetcher
// finishes once, after both have come back.
TEST_F(Prefetch, TwoSourcesWithOneKeyAreBothCancelled)
{
    auto gate = server.addCountingGate("/gated", pngBody());
    server.start();
    const QString key = QStringLiteral("shared-key");
    const SourceList sources { Source::network(std::make_shared<ImageResource>(server.url("/gated/a"), key)),
        Source::network(std::make_shared<ImageResource>(server.url("/gated/b"), key)) };
    auto finish = std::make_shared<Finish>();
    auto prefetcher = make(sources, options(), finish);
    prefetcher->start();
    ASSERT_TRUE(waitUntil([&] { return gate->current() == 2; }, 10000));
    prefetcher->stop();
    ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000));
    EXPECT_EQ(finish->failed.size(), 2u);
    gate->openAll();
    EXPECT_EQ(requestsAfterSettling(), 0);
    EXPECT_EQ(finish->sourceCalls, 1);
}

// Resource lists leave data-provider sources out; after the completion the resource blocks are let
// go, and only the source blocks would run again.
TEST_F(Prefetch, ResourceListsLeaveOutProviderSources)
{
    server.start();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("local.png"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromStdString(pngBody()));
    }
    const ResourceList resources { std::make_shared<ImageResource>(QUrl::fromLocalFile(path)),
        std::make_shared<ImageResource>(server.url(QStringLiteral("/image"))) };
    auto finish = std::make_shared<Finish>();
    auto prefetcher = ImagePrefetcher::create(
        resources, options(), [finish](ResourceList, ResourceList, ResourceList) { ++finish->progressCalls; },
        [finish](ResourceList skipped, ResourceList failed, ResourceList completed) {
            ++finish->resourceCalls;
            finish->resourceSkipped = std::move(skipped);
            finish->resourceFailed = std::move(failed);
            finish->resourceCompleted = std::move(completed);
        });
    ASSERT_EQ(prefetcher->prefetchSources().size(), 2u);
    EXPECT_EQ(prefetcher->prefetchSources()[0].kind(), Source::Kind::provider);
    EXPECT_TRUE(prefetcher->description().startsWith(QStringLiteral("0x")));
    prefetcher->start();
    ASSERT_TRUE(waitUntil([&] { return finish->resourceCalls > 0; }, 10000));
    ASSERT_EQ(finish->resourceCompleted.size(), 1u);
    EXPECT_EQ(finish->resourceCompleted[0]->downloadURL(), server.url(QStringLiteral("/image")));
    EXPECT_GE(finish->progressCalls, 1);
    EXPECT_TRUE(cache->cacheTypeOfKey(localFileCacheKey(QUrl::fromLocalFile(path))) != CacheType::none);
}

// A provider whose key look-up off the main thread tells the test that the prefetcher got to it.
class KeySignallingProvider final : public ImageDataProvider {
public:
    QString cacheKey() const override
    {
        if (!testsupport::isMainThread()) {
            std::lock_guard lock(mutex);
            asked = true;
            changed.notify_all();
        }
        return QStringLiteral("key-signalling");
    }
    void data(ProviderDataHandler handler) const override
    {
        handler(ProviderDataResult::success(QByteArray::fromStdString(pngBody())));
    }
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    mutable bool asked = false;
};

// Reports waiting for the main thread hold no copies of the lists, so many cache hits reported
// faster than the main thread takes them cost memory in proportion to the sources, not to their
// square; each report still shows the lists as they stood when it was made.
TEST_F(Prefetch, WaitingProgressReportsHoldNoCopiesOfTheLists)
{
    server.start();
    constexpr int hitCount = 100;
    SourceList sources = networkSources(QStringLiteral("/image"), hitCount, 4);
    for (const Source& source : sources)
        storeInMemory(source);
    auto last = std::make_shared<KeySignallingProvider>();
    sources.push_back(Source::provider(last));
    const std::shared_ptr<const Resource> firstResource = sources.front().resource();

    auto finish = std::make_shared<Finish>();
    std::vector<std::size_t> reportedTotals;
    auto prefetcher = ImagePrefetcher::create(
        sources, options(),
        [&](SourceList skipped, SourceList failed, SourceList completed) {
            reportedTotals.push_back(skipped.size() + failed.size() + completed.size());
            if (reportedTotals.size() == 1) {
                EXPECT_EQ(skipped.front(), sources.front());
            }
        },
        [finish](SourceList skipped, SourceList, SourceList completed) {
            ++finish->sourceCalls;
            finish->skipped = std::move(skipped);
            finish->completed = std::move(completed);
        });
    prefetcher->start();
    // The main thread takes no report until the prefetcher has reached its last source.
    {
        std::unique_lock lock(last->mutex);
        ASSERT_TRUE(last->changed.wait_for(lock, std::chrono::seconds(10), [&] { return last->asked; }));
    }
    EXPECT_LT(firstResource.use_count(), 10);

    ASSERT_TRUE(waitUntil([&] { return finish->sourceCalls > 0; }, 10000));
    EXPECT_EQ(finish->skipped.size(), std::size_t(hitCount));
    EXPECT_EQ(finish->completed.size(), 1u);
    ASSERT_EQ(reportedTotals.size(), sources.size());
    for (std::size_t call = 0; call < reportedTotals.size(); ++call)
        EXPECT_EQ(reportedTotals[call], call + 1);
}
