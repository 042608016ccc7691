#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/image/Image.h"
#include "Iris/networking/ImageModifier.h"
#include "RetrievalTestSupport.h"

#include "platform/graphics/TestImages.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <condition_variable>
#include <latch>
#include <mutex>

using namespace iris;
using namespace retrievaltest;
using Item = IrisOptionsInfoItem;

namespace {

// Decodes like the default processor and counts its runs.
class CountingProcessor final : public ImageProcessor {
public:
    explicit CountingProcessor(QString identifier, bool empty = false)
        : m_identifier(std::move(identifier))
        , m_empty(empty)
    {
    }
    QString identifier() const override { return m_identifier; }
    std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override
    {
        ++*runs;
        if (m_empty)
            return platform::Image::createEmpty(platform::Size { 10, 10 });
        return DefaultImageProcessor::shared()->process(item, options);
    }

    std::shared_ptr<std::atomic<int>> runs = std::make_shared<std::atomic<int>>(0);

private:
    QString m_identifier;
    bool m_empty;
};

// Shrinks every image to 4 x 4; while held, each run waits in the processor until released.
class HeldShrinkingProcessor final : public ImageProcessor {
public:
    QString identifier() const override { return QStringLiteral("shrink"); }
    std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override
    {
        {
            std::unique_lock lock(m_state->mutex);
            ++m_state->entered;
            m_state->released.wait(lock, [&] { return !m_state->held; });
        }
        std::shared_ptr<platform::Image> image = DefaultImageProcessor::shared()->process(item, options);
        if (!image || !image->bitmap())
            return nullptr;
        return platform::Image::create(*platform::Bitmap::fromImage(image->bitmap()->image().scaled(4, 4)));
    }

    void hold(bool held)
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->held = held;
        }
        m_state->released.notify_all();
    }
    int entered() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->entered;
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable released;
        bool held = false;
        int entered = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

class CacheStep : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_caches.isValid());
        cache = ImageCache::initNamed("step", QUrl::fromLocalFile(m_caches.path()));
        manager = IrisManager::create(std::make_shared<FakeDownloader>(), cache);
    }
    void TearDown() override
    {
        // The disk writes still queued would make the removed folder again.
        manager.reset();
        cache->ioQueue()->sync([] {});
        for (const auto& fresh : m_freshCaches)
            fresh->ioQueue()->sync([] {});
    }

    std::shared_ptr<Outcome> retrieve(const Source& source,
        std::optional<IrisOptionsInfo> options = std::nullopt,
        const std::shared_ptr<IrisManager>& through = {})
    {
        auto outcome = std::make_shared<Outcome>();
        (through ? through : manager)->retrieveSource(source, options, {}, {}, outcome->completion(outcome));
        EXPECT_TRUE(outcome->wait());
        return outcome;
    }

    std::shared_ptr<IrisManager> freshManager()
    {
        cache->ioQueue()->sync([] {});
        return IrisManager::create(std::make_shared<FakeDownloader>(), extraCache("step"));
    }
    // Another cache in the test's folder, its disk writes finished before the folder goes.
    std::shared_ptr<ImageCache> extraCache(const QString& name)
    {
        m_freshCaches.push_back(ImageCache::initNamed(name, QUrl::fromLocalFile(m_caches.path())));
        return m_freshCaches.back();
    }

    QTemporaryDir m_caches;
    std::shared_ptr<ImageCache> cache;
    std::shared_ptr<IrisManager> manager;
    std::vector<std::shared_ptr<ImageCache>> m_freshCaches;
};

} // namespace

TEST_F(CacheStep, ForceRefreshLoadsEvenWhenTheImageIsInMemory)
{
    auto [source, calls] = countingSource("k", jpegData());
    ASSERT_TRUE(retrieve(source)->succeeded());
    EXPECT_EQ(cache->cacheTypeOfKey("k"), CacheType::memory);
    auto refreshed = retrieve(source, IrisOptionsInfo { Item::forceRefresh() });
    ASSERT_TRUE(refreshed->succeeded());
    EXPECT_EQ(refreshed->value().cacheType, CacheType::none);
    EXPECT_EQ(*calls, 2);
}

// A miss fails with the cache's "not existing" error, loads nothing, and still answers on the queue
// the caller chose.
TEST_F(CacheStep, OnlyFromCacheMissFailsWithoutLoading)
{
    auto [source, calls] = countingSource("absent", jpegData());
    auto outcome = std::make_shared<Outcome>();
    std::optional<DownloadTask> task = manager->retrieveSource(
        source, IrisOptionsInfo { Item::onlyFromCache() }, {}, {}, outcome->completion(outcome));
    ASSERT_TRUE(outcome->wait());
    EXPECT_FALSE(task);
    ASSERT_FALSE(outcome->succeeded());
    ASSERT_TRUE(outcome->error().cacheReason());
    EXPECT_EQ(outcome->error().cacheReason()->kind, IrisError::CacheErrorReason::Kind::imageNotExisting);
    EXPECT_EQ(outcome->error().cacheReason()->key, "absent");
    EXPECT_EQ(*calls, 0);

    auto queue = platform::DispatchQueue::makeSerial("only-from-cache");
    auto onQueue = std::make_shared<Outcome>();
    onQueue->expectedQueue = queue;
    manager->retrieveSource(source,
        IrisOptionsInfo { Item::onlyFromCache(), Item::callbackQueue(CallbackQueue::dispatch(queue)) }, {},
        {}, onQueue->completion(onQueue));
    ASSERT_TRUE(onQueue->wait());
    EXPECT_TRUE(onQueue->onExpectedQueue);

    // Asked from that very queue, the completion still runs later, never inside the call.
    auto fromQueue = std::make_shared<Outcome>();
    fromQueue->expectedQueue = queue;
    int callsAtReturn = -1;
    queue->sync([&, source = source] {
        manager->retrieveSource(source,
            IrisOptionsInfo { Item::onlyFromCache(), Item::callbackQueue(CallbackQueue::dispatch(queue)) },
            {}, {}, fromQueue->completion(fromQueue));
        callsAtReturn = fromQueue->calls;
    });
    EXPECT_EQ(callsAtReturn, 0);
    ASSERT_TRUE(fromQueue->wait());
    EXPECT_TRUE(fromQueue->onExpectedQueue);
}

TEST_F(CacheStep, ProcessorIdentifierKeysTheProcessedImage)
{
    auto processor = std::make_shared<CountingProcessor>("p");
    auto [source, calls] = countingSource("k", jpegData());
    ASSERT_TRUE(
        retrieve(source, IrisOptionsInfo { Item::processor(processor), Item::waitForCache() })->succeeded());
    EXPECT_EQ(cache->cacheTypeOfKey("k", "p"), CacheType::memory);
    EXPECT_EQ(cache->cacheTypeOfKey("k"), CacheType::none);
    EXPECT_TRUE(QFile::exists(cache->filePathForKey("k", "p")));
    EXPECT_EQ(cache->filePathForKey("k", "p"), cache->filePathForKey("k@p"));
    EXPECT_FALSE(QFile::exists(cache->filePathForKey("k")));

    // The cached original is reprocessed for another processor instead of being loaded again.
    auto other = std::make_shared<CountingProcessor>("q");
    ASSERT_TRUE(retrieve(source,
        IrisOptionsInfo { Item::processor(processor), Item::cacheOriginalImage(), Item::waitForCache(),
            Item::forceRefresh() })
                    ->succeeded());
    EXPECT_EQ(*calls, 2);
    auto reprocessed = retrieve(source, IrisOptionsInfo { Item::processor(other), Item::waitForCache() });
    ASSERT_TRUE(reprocessed->succeeded());
    EXPECT_EQ(reprocessed->value().cacheType, CacheType::none);
    EXPECT_EQ(*calls, 2);
    EXPECT_EQ(*other->runs, 1);
    EXPECT_EQ(cache->cacheTypeOfKey("k", "q"), CacheType::memory);
}

TEST_F(CacheStep, CacheOriginalImageWritesTheOriginalOnlyForARealProcessor)
{
    const QByteArray original = jpegData();
    auto processor = std::make_shared<CountingProcessor>("p");
    auto [source, calls] = countingSource("orig", original);
    ASSERT_TRUE(retrieve(source,
        IrisOptionsInfo { Item::processor(processor), Item::cacheOriginalImage(), Item::waitForCache(),
            Item::cacheMemoryOnly() })
                    ->succeeded());
    // Memory only for the processed image, yet the original goes to disk, unchanged, and only there.
    EXPECT_EQ(cache->cacheTypeOfKey("orig", "p"), CacheType::memory);
    EXPECT_FALSE(QFile::exists(cache->filePathForKey("orig", "p")));
    QFile file(cache->filePathForKey("orig"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), original);
    EXPECT_FALSE(cache->memoryStorage()->containsValue("orig"));

    auto [plain, plainCalls] = countingSource("plain", original);
    ASSERT_TRUE(
        retrieve(plain, IrisOptionsInfo { Item::cacheOriginalImage(), Item::waitForCache() })->succeeded());
    EXPECT_TRUE(QFile::exists(cache->filePathForKey("plain")));
}

// A request's own target cache, downloader and processor win over the manager's cache and
// downloader and over its default options.
TEST_F(CacheStep, ARequestsOwnItemsWinOverTheManagersAndItsDefaults)
{
    auto byDefault = std::make_shared<CountingProcessor>("default-p");
    auto requested = std::make_shared<CountingProcessor>("request-p");
    manager->setDefaultOptions(IrisOptionsInfo { Item::processor(byDefault) });
    auto other = extraCache("other");
    auto [source, calls] = countingSource("own", jpegData());
    ASSERT_TRUE(retrieve(source, IrisOptionsInfo { Item::processor(requested), Item::targetCache(other) })
                    ->succeeded());
    EXPECT_EQ(*requested->runs, 1);
    EXPECT_EQ(*byDefault->runs, 0);
    EXPECT_EQ(other->cacheTypeOfKey("own", "request-p"), CacheType::memory);
    EXPECT_EQ(cache->cacheTypeOfKey("own", "request-p"), CacheType::none);

    auto managers = std::static_pointer_cast<FakeDownloader>(manager->downloader());
    auto own = std::make_shared<FakeDownloader>();
    auto outcome = std::make_shared<Outcome>();
    manager->retrieveSource(convertToSource(QUrl("https://example.invalid/a.jpg")),
        IrisOptionsInfo { Item::downloader(own) }, {}, {}, outcome->completion(outcome));
    EXPECT_EQ(own->pendingCount(), 1);
    EXPECT_EQ(managers->pendingCount(), 0);
    own->succeed(0, jpegData());
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->succeeded());
}

// With the default processor, a separate original cache is still asked before anything is loaded;
// its image is delivered and stored in the target cache.
TEST_F(CacheStep, ASeparateOriginalCacheIsConsultedWithTheDefaultProcessor)
{
    auto originals = extraCache("originals");
    auto [source, calls] = countingSource("kept", jpegData(32, 24));
    ASSERT_TRUE(retrieve(source, IrisOptionsInfo { Item::targetCache(originals), Item::waitForCache() })
                    ->succeeded());
    ASSERT_EQ(*calls, 1);

    auto outcome = retrieve(source, IrisOptionsInfo { Item::originalCache(originals), Item::waitForCache() });
    ASSERT_TRUE(outcome->succeeded());
    EXPECT_EQ(outcome->value().image->pixelSize(), (platform::Size { 32, 24 }));
    EXPECT_EQ(*calls, 1) << "nothing was loaded";
    EXPECT_EQ(cache->cacheTypeOfKey("kept"), CacheType::memory);
}

TEST_F(CacheStep, WaitForCacheCompletesOnlyAfterTheDiskWrite)
{
    // Holds the I/O queue so that no disk write can finish until the test lets it.
    auto release = std::make_shared<std::atomic<bool>>(false);
    // Whatever happens below, the queue is let go before the cache goes away.
    struct Releaser {
        std::shared_ptr<std::atomic<bool>> release;
        ~Releaser() { *release = true; }
    } releaser { release };
    auto holdDisk = [&] {
        *release = false;
        cache->ioQueue()->async([release] {
            while (!*release)
                std::this_thread::yield();
        });
    };

    auto [source, calls] = countingSource("waited", jpegData());
    const QString path = cache->filePathForKey("waited");
    holdDisk();
    auto outcome = std::make_shared<Outcome>();
    manager->retrieveSource(
        source, IrisOptionsInfo { Item::waitForCache() }, {}, {}, outcome->completion(outcome));
    // The memory store and the decision to wait happen in one step on the main thread.
    ASSERT_TRUE(testsupport::waitUntil([&] { return cache->memoryStorage()->containsValue("waited"); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome->calls, 0);
    EXPECT_FALSE(QFile::exists(path));
    *release = true;
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(outcome->onMainThread);

    auto [unwaited, unwaitedCalls] = countingSource("unwaited", jpegData());
    holdDisk();
    auto early = std::make_shared<Outcome>();
    manager->retrieveSource(unwaited, std::nullopt, {}, {}, early->completion(early));
    EXPECT_TRUE(early->wait());
    EXPECT_FALSE(QFile::exists(cache->filePathForKey("unwaited")));
    *release = true;
    cache->ioQueue()->sync([] {});
    EXPECT_TRUE(QFile::exists(cache->filePathForKey("unwaited")));
}

// A load made outside a retrieval (as the prefetcher makes one) hears of its store on its own
// callback queue also when the original's disk write is the last to finish.
TEST_F(CacheStep, AStoreAwaitingTheOriginalsWriteCompletesOnTheCallbackQueue)
{
    auto release = std::make_shared<std::latch>(1);
    cache->ioQueue()->async([release] { release->wait(); });

    auto queue = platform::DispatchQueue::makeSerial("prefetching");
    auto [source, calls] = countingSource("original-last", jpegData());
    IrisParsedOptionsInfo options(IrisOptionsInfo { Item::targetCache(cache),
        Item::processor(std::make_shared<CountingProcessor>("p")), Item::cacheOriginalImage(),
        Item::waitForCache(), Item::cacheMemoryOnly(), Item::callbackQueue(CallbackQueue::dispatch(queue)) });
    auto outcome = std::make_shared<Outcome>();
    outcome->expectedQueue = queue;
    manager->loadAndStore(
        source, std::make_shared<RetrievingContext>(options, source), outcome->completion(outcome));
    // The image is stored in memory and reported on the queue; only then can the original be written.
    manager->processingQueue()->sync([] {});
    queue->sync([] {});
    queue->sync([] {});
    EXPECT_EQ(outcome->calls, 0);
    release->count_down();
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->succeeded());
    EXPECT_TRUE(outcome->onExpectedQueue);
}

// With a serializer that keeps the original bytes, a disk hit is processed once and the processed
// image replaces the decoded original in memory; memory hits are never processed again.
TEST_F(CacheStep, AnImageIsNeverProcessedTwiceByTheSameProcessor)
{
    auto processor = std::make_shared<CountingProcessor>("p");
    auto serializer = std::make_shared<DefaultCacheSerializer>();
    serializer->preferCacheOriginalData = true;
    const IrisOptionsInfo options { Item::processor(processor), Item::cacheSerializer(serializer),
        Item::waitForCache() };
    auto [source, calls] = countingSource("twice", jpegData());
    ASSERT_TRUE(retrieve(source, options)->succeeded());
    EXPECT_EQ(*processor->runs, 1);
    auto memoryHit = retrieve(source, options);
    ASSERT_TRUE(memoryHit->succeeded());
    EXPECT_EQ(memoryHit->value().cacheType, CacheType::memory);
    EXPECT_EQ(*processor->runs, 1);

    auto fresh = freshManager();
    auto diskHit = retrieve(source, options, fresh);
    ASSERT_TRUE(diskHit->succeeded());
    EXPECT_EQ(diskHit->value().cacheType, CacheType::disk);
    EXPECT_EQ(*processor->runs, 2);
    auto againInMemory = retrieve(source, options, fresh);
    ASSERT_TRUE(againInMemory->succeeded());
    EXPECT_EQ(againInMemory->value().cacheType, CacheType::memory);
    EXPECT_EQ(*processor->runs, 2);
    EXPECT_EQ(*calls, 1);
}

// With a serializer that keeps the original bytes, the disk holds the unprocessed image under the
// processed key. A second request arriving while the first is still processing it must not be
// handed that unprocessed image from memory.
TEST_F(CacheStep, AProcessedKeyNeverServesAnUnprocessedImage)
{
    auto processor = std::make_shared<HeldShrinkingProcessor>();
    auto serializer = std::make_shared<DefaultCacheSerializer>();
    serializer->preferCacheOriginalData = true;
    const IrisOptionsInfo options { Item::processor(processor), Item::cacheSerializer(serializer),
        Item::waitForCache() };
    auto [source, calls] = countingSource("original", jpegData(64, 48));
    ASSERT_TRUE(retrieve(source, options)->succeeded());

    auto fresh = freshManager();
    processor->hold(true);
    auto first = std::make_shared<Outcome>();
    fresh->retrieveSource(source, options, {}, {}, first->completion(first));
    ASSERT_TRUE(testsupport::waitUntil([&] { return processor->entered() == 2; }));
    auto second = std::make_shared<Outcome>();
    fresh->retrieveSource(source, options, {}, {}, second->completion(second));
    processor->hold(false);
    ASSERT_TRUE(first->wait());
    ASSERT_TRUE(second->wait());
    for (const auto& outcome : { first, second }) {
        ASSERT_TRUE(outcome->succeeded());
        EXPECT_EQ(outcome->value().image->pixelSize(), (platform::Size { 4, 4 }));
    }
    auto inMemory = fresh->cache()->lookUpMemory("original", IrisParsedOptionsInfo(options));
    ASSERT_TRUE(inMemory);
    EXPECT_EQ(inMemory->pixelSize(), (platform::Size { 4, 4 }));
}

TEST_F(CacheStep, AnEmptyImageIsNeverDeliveredAsSuccess)
{
    auto empty = std::make_shared<CountingProcessor>("empty", true);
    auto [source, calls] = countingSource("e", jpegData());
    auto outcome = retrieve(source, IrisOptionsInfo { Item::processor(empty) });
    ASSERT_FALSE(outcome->succeeded());
    EXPECT_EQ(outcome->error().errorCode(), 4001);
    EXPECT_EQ(cache->cacheTypeOfKey("e", "empty"), CacheType::none);
}

TEST_F(CacheStep, FromMemoryCacheOrRefreshIgnoresDiskEntries)
{
    auto [source, calls] = countingSource("m", jpegData());
    ASSERT_TRUE(retrieve(source, IrisOptionsInfo { Item::waitForCache() })->succeeded());
    auto fresh = freshManager();
    auto outcome = retrieve(source, IrisOptionsInfo { Item::fromMemoryCacheOrRefresh() }, fresh);
    ASSERT_TRUE(outcome->succeeded());
    EXPECT_EQ(outcome->value().cacheType, CacheType::none);
    EXPECT_EQ(*calls, 2);
}

namespace {

// Hands callers a 4 x 4 copy of every image.
class ShrinkingModifier final : public ImageModifier {
public:
    std::shared_ptr<platform::Image> modifiedImage(std::shared_ptr<platform::Image> image) const override
    {
        QImage small = image->bitmap()->image().scaled(4, 4);
        return platform::Image::create(*platform::Bitmap::fromImage(small));
    }
};

} // namespace

TEST_F(CacheStep, TheModifierChangesOnlyWhatTheCallerGets)
{
    auto [source, calls] = countingSource("mod", jpegData(64, 48));
    const IrisOptionsInfo options { Item::imageModifier(std::make_shared<ShrinkingModifier>()),
        Item::waitForCache() };
    auto loaded = retrieve(source, options);
    ASSERT_TRUE(loaded->succeeded());
    EXPECT_EQ(loaded->value().image->size(), (platform::Size { 4, 4 }));
    EXPECT_EQ(loaded->value().data(), std::optional<QByteArray>(jpegData(64, 48)));
    auto hit = retrieve(source, options);
    ASSERT_TRUE(hit->succeeded());
    EXPECT_EQ(hit->value().cacheType, CacheType::memory);
    EXPECT_EQ(hit->value().image->size(), (platform::Size { 4, 4 }));
    // A hit's bytes are those of the image the caller got.
    EXPECT_EQ(QImage::fromData(*hit->value().data()).size(), QSize(4, 4));
    IrisParsedOptionsInfo plain;
    EXPECT_EQ(cache->lookUpMemory("mod", plain)->size(), (platform::Size { 64, 48 }));
}

TEST_F(CacheStep, WithoutACompletionTheImageIsStillLoadedAndStored)
{
    auto [source, calls] = countingSource("silent", jpegData());
    EXPECT_FALSE(manager->retrieveSource(source));
    ASSERT_TRUE(testsupport::waitUntil([&] { return cache->cacheTypeOfKey("silent") == CacheType::memory; }));
    cache->ioQueue()->sync([] {});
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFile::exists(cache->filePathForKey("silent")); }));
    EXPECT_EQ(*calls, 1);

    // A cache step asked without a completion still makes the processed image from the original.
    auto processor = std::make_shared<CountingProcessor>("p");
    auto context = std::make_shared<RetrievingContext>(
        IrisParsedOptionsInfo(IrisOptionsInfo { Item::targetCache(cache), Item::processor(processor) }),
        source);
    ASSERT_TRUE(manager->lookUpCaches(source, context, {}));
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return cache->cacheTypeOfKey("silent", "p") == CacheType::memory; }));
    EXPECT_EQ(*processor->runs, 1);
    EXPECT_EQ(*calls, 1);
}

// Options built by hand with no processor or serializer load, store and hit the cache (the second
// round) as with the default ones.
TEST_F(CacheStep, HandBuiltOptionsWithoutAProcessorOrSerializerUseTheDefaultOnes)
{
    auto [source, calls] = countingSource("bare", jpegData());
    IrisParsedOptionsInfo options;
    options.processor = nullptr;
    options.cacheSerializer = nullptr;
    options.waitForCache = true;
    for (int round = 0; round < 2; ++round) {
        auto outcome = std::make_shared<Outcome>();
        manager->retrieveWithParsedOptions(source, options, {}, {}, outcome->completion(outcome));
        ASSERT_TRUE(outcome->wait());
        ASSERT_TRUE(outcome->succeeded()) << "round " << round;
    }
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(cache->cacheTypeOfKey("bare"), CacheType::memory);
}

// A serializer that keeps the original bytes takes what it finds under a processed key for the
// original, to be processed on reading; so must an image made from a cached original be written, or
// a disk hit processes it twice.
TEST_F(CacheStep, AnImageMadeFromACachedOriginalIsProcessedOnceWhenReadFromDisk)
{
    auto halving = std::make_shared<GeneralProcessor>("half", [](const auto& item, const auto& options) {
        const QImage pixels = DefaultImageProcessor::shared()->process(item, options)->bitmap()->image();
        return platform::Image::create(*platform::Bitmap::fromImage(pixels.scaled(pixels.size() / 2)));
    });
    auto serializer = std::make_shared<DefaultCacheSerializer>();
    serializer->preferCacheOriginalData = true;
    const IrisOptionsInfo halved { Item::processor(halving), Item::cacheSerializer(serializer),
        Item::waitForCache() };
    auto [source, calls] = countingSource("from-original", jpegData(64, 48));
    ASSERT_TRUE(retrieve(source, IrisOptionsInfo { Item::waitForCache() })->succeeded());
    ASSERT_TRUE(retrieve(source, halved)->succeeded());
    auto diskHit = retrieve(source, halved, freshManager());
    ASSERT_TRUE(diskHit->succeeded());
    EXPECT_EQ(diskHit->value().cacheType, CacheType::disk);
    EXPECT_EQ(diskHit->value().image->pixelSize(), (platform::Size { 32, 24 }));
}

// A GIF's first frame read from disk and made ready for drawing still carries the animation's data,
// so that a request for the animation that finds it in memory gets the animation.
TEST_F(CacheStep, AFirstFrameReadFromDiskStillGivesTheAnimationToTheNextRequest)
{
    const QByteArray gif = testimages::writeGif(8, 8, { { QRect(0, 0, 8, 8), 0 }, { QRect(0, 0, 8, 8), 1 } });
    auto [source, calls] = countingSource("animated", gif);
    cache->writeDataToDiskNow(gif, "animated", {}, CallbackQueue::untouch(), std::nullopt, {}, {});
    ASSERT_TRUE(retrieve(source, IrisOptionsInfo { Item::onlyLoadFirstFrame(), Item::backgroundDecode() })
                    ->succeeded());
    auto animation = retrieve(source);
    ASSERT_TRUE(animation->succeeded());
    EXPECT_EQ(animation->value().cacheType, CacheType::memory);
    EXPECT_EQ(ir(animation->value().image)
                  .images()
                  .value_or(std::vector<std::shared_ptr<platform::Image>> {})
                  .size(),
        2u);
}
