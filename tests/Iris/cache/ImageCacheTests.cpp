#include "Iris/IrisTestSupport.h"
#include "Iris/cache/ImageCache.h"
#include "Iris/image/Image.h"
#include "Iris/image/IrisImageTestData.h"

#include "platform/foundation/NotificationCenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <set>

using namespace iris;
using platform::Image;

namespace {

std::shared_ptr<Image> pictureImage(int width = 10, int height = 10)
{
    return Image::create(*platform::Bitmap::fromImage(
        testimages::pattern(width, height).convertToFormat(QImage::Format_ARGB32)));
}

QByteArray pngBytes(int width = 10, int height = 10)
{
    return testimages::encoded(testimages::pattern(width, height), "png");
}

// Records the disk-clean notifications posted while it lives.
class CleanRecorder {
public:
    explicit CleanRecorder(const ImageCache* sender)
    {
        m_token = platform::NotificationCenter::defaultCenter().addObserver(
            IrisDidCleanDiskCache(), sender, [this](const platform::Notification& notification) {
                names.push_back(notification.userInfo.value(cleanedHashUserInfoKey()).toStringList());
            });
    }
    ~CleanRecorder() { platform::NotificationCenter::defaultCenter().removeObserver(m_token); }

    std::vector<QStringList> names;

private:
    platform::NotificationCenter::Token m_token;
};

class ImageCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        static int counter = 0;
        cache = ImageCache::initNamed(
            QStringLiteral("test%1").arg(++counter), QUrl::fromLocalFile(m_dir.path()));
    }

    // Waits until the work queued on the cache's I/O queue so far has run.
    void drainIo()
    {
        cache->ioQueue()->sync([] {});
    }

    std::shared_ptr<ImageCache> cache;

private:
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ImageCacheTest, ProcessedKeysInBothLevels)
{
    EXPECT_EQ(ImageCache::processedCacheKey("a", ""), "a");
    EXPECT_EQ(ImageCache::processedCacheKey("a", "p"), "a@p");

    bool stored = false;
    cache->storeImageForIdentifier(pictureImage(), std::nullopt, "a", "p", DefaultCacheSerializer::shared(),
        true, CallbackQueue::untouch(), [&](CacheStoreResult result) {
            EXPECT_TRUE(result.diskCacheResult.isSuccess());
            stored = true;
        });
    EXPECT_EQ(cache->cacheTypeOfKey("a", "p"), CacheType::memory);
    EXPECT_EQ(cache->cacheTypeOfKey("a", ""), CacheType::none);
    EXPECT_TRUE(cache->memoryStorage()->containsValue("a@p"));
    drainIo();
    EXPECT_TRUE(stored);
    cache->clearMemoryCache();
    EXPECT_EQ(cache->cacheTypeOfKey("a", "p"), CacheType::disk);
    EXPECT_TRUE(cache->containsKey("a", "p"));
    EXPECT_FALSE(cache->containsKey("a"));
    EXPECT_EQ(cache->fileNameForKey("a", "p"), cache->diskStorage()->fileNameForKey("a@p"));
    EXPECT_TRUE(QFile::exists(cache->filePathForKey("a", "p")));
    EXPECT_FALSE(QFile::exists(cache->filePathForKey("a")));

    bool removed = false;
    cache->removeEntry("a", "p", true, true, CallbackQueue::untouch(), [&] { removed = true; });
    drainIo();
    EXPECT_TRUE(removed);
    EXPECT_EQ(cache->cacheTypeOfKey("a", "p"), CacheType::none);
}

TEST_F(ImageCacheTest, DiskHitIsPutBackInMemoryAndTheNextLookUpIsAMemoryHit)
{
    cache->writeDataToDiskNow(pngBytes(), "k", "", CallbackQueue::untouch(), std::nullopt, {}, {});
    std::optional<ImageCacheResult> first;
    cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::mainCurrentOrAsync(),
        [&](platform::Result<ImageCacheResult, IrisError> result) {
            EXPECT_TRUE(testsupport::isMainThread());
            ASSERT_TRUE(result.isSuccess());
            // The memory copy exists before the completion runs.
            EXPECT_TRUE(cache->memoryStorage()->containsValue("k"));
            first = result.value();
        });
    ASSERT_TRUE(testsupport::waitUntil([&] { return first.has_value(); }));
    EXPECT_EQ(first->cacheType(), CacheType::disk);
    ASSERT_TRUE(first->image());
    EXPECT_EQ(first->image()->pixelSize(), (platform::Size { 10, 10 }));

    std::optional<ImageCacheResult> second;
    cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::mainCurrentOrAsync(),
        [&](platform::Result<ImageCacheResult, IrisError> result) { second = result.value(); });
    // A memory hit on the main thread is delivered at once.
    ASSERT_TRUE(second);
    EXPECT_EQ(second->cacheType(), CacheType::memory);
    EXPECT_EQ(second->image(), first->image());
    EXPECT_TRUE(fromCache(second->cacheType()));
    EXPECT_FALSE(fromCache(ImageCacheResult::none().cacheType()));
}

TEST_F(ImageCacheTest, FromMemoryCacheOrRefreshIgnoresTheDisk)
{
    cache->writeDataToDiskNow(pngBytes(), "k", "", CallbackQueue::untouch(), std::nullopt, {}, {});
    IrisParsedOptionsInfo options;
    options.fromMemoryCacheOrRefresh = true;
    std::optional<CacheType> type;
    cache->lookUpImage("k", options, CallbackQueue::untouch(),
        [&](platform::Result<ImageCacheResult, IrisError> result) { type = result.value().cacheType(); });
    ASSERT_TRUE(type);
    EXPECT_EQ(*type, CacheType::none);
    EXPECT_FALSE(cache->memoryStorage()->containsValue("k"));
}

TEST_F(ImageCacheTest, MemoryOnlyStoresTouchNoDisk)
{
    cache->storeImage(pictureImage(), std::nullopt, "m", IrisParsedOptionsInfo(), false);
    bool completed = false;
    IrisParsedOptionsInfo options;
    options.callbackQueue = CallbackQueue::untouch();
    cache->storeImage(pictureImage(), std::nullopt, "n", options, false, [&](CacheStoreResult result) {
        EXPECT_TRUE(result.diskCacheResult.isSuccess());
        completed = true;
    });
    EXPECT_TRUE(completed);
    drainIo();
    EXPECT_EQ(cache->cacheTypeOfKey("m"), CacheType::memory);
    cache->clearMemoryCache();
    EXPECT_EQ(cache->cacheTypeOfKey("m"), CacheType::none);
    EXPECT_EQ(cache->cacheTypeOfKey("n"), CacheType::none);
}

TEST_F(ImageCacheTest, AWriteQueuedBeforeAReadFinishesFirst)
{
    for (int i = 0; i < 20; ++i) {
        const QString key = QStringLiteral("ordered%1").arg(i);
        cache->storeImage(pictureImage(), std::nullopt, key, IrisParsedOptionsInfo(), true);
        cache->clearMemoryCache();
        std::atomic<bool> found { false }, done { false };
        cache->lookUpDisk(key, IrisParsedOptionsInfo(), CallbackQueue::untouch(),
            [&](platform::Result<std::shared_ptr<Image>, IrisError> result) {
                found = result.isSuccess() && result.value();
                done = true;
            });
        ASSERT_TRUE(testsupport::waitUntil([&] { return done.load(); }));
        EXPECT_TRUE(found) << i;
    }
}

TEST_F(ImageCacheTest, SynchronousDiskReadCompletesBeforeReturning)
{
    cache->writeDataToDiskNow(pngBytes(), "s", "", CallbackQueue::untouch(), std::nullopt, {}, {});
    IrisParsedOptionsInfo options;
    options.loadDiskFileSynchronously = true;
    options.backgroundDecode = true;
    options.scaleFactor = 2;
    std::shared_ptr<Image> image;
    cache->lookUpDisk("s", options, CallbackQueue::untouch(),
        [&](platform::Result<std::shared_ptr<Image>, IrisError> result) { image = result.value(); });
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (platform::Size { 5, 5 }));
}

TEST_F(ImageCacheTest, AnImageThatCannotBeSerializedStaysInMemory)
{
    std::optional<CacheStoreResult> result;
    IrisParsedOptionsInfo options;
    options.callbackQueue = CallbackQueue::untouch();
    cache->storeImage(Image::createEmpty({ 4, 4 }), std::nullopt, "e", options, true,
        [&](CacheStoreResult stored) { result = stored; });
    drainIo();
    ASSERT_TRUE(result);
    ASSERT_TRUE(result->diskCacheResult.isFailure());
    EXPECT_EQ(result->diskCacheResult.error().cacheReason()->kind,
        IrisError::CacheErrorReason::Kind::cannotSerializeImage);
    EXPECT_EQ(cache->cacheTypeOfKey("e"), CacheType::memory);
}

class ThrowingSerializer final : public CacheSerializer {
public:
    std::optional<QByteArray> dataForImage(
        const std::shared_ptr<Image>&, const std::optional<QByteArray>&) const override
    {
        throw std::runtime_error("cannot encode");
    }
    std::shared_ptr<Image> imageFromCacheData(const QByteArray&, const IrisParsedOptionsInfo&) const override
    {
        throw std::runtime_error("cannot decode");
    }
    bool usesOriginalData() const override { return false; }
    QString description() const override { return QStringLiteral("ThrowingSerializer"); }
};

// A serializer runs on the I/O queue: what it throws fails the store, reads as no image, and
// neither ends the program nor leaves a completion unanswered.
TEST_F(ImageCacheTest, ASerializerThatThrowsFailsTheStoreAndReadsAsNoImage)
{
    IrisParsedOptionsInfo options;
    options.callbackQueue = CallbackQueue::untouch();
    options.cacheSerializer = std::make_shared<ThrowingSerializer>();
    std::optional<CacheStoreResult> stored;
    cache->storeImage(
        pictureImage(), pngBytes(), "thrown", options, true, [&](auto result) { stored = result; });
    cache->writeDataToDisk(pngBytes(), "thrown");
    std::optional<platform::Result<std::shared_ptr<Image>, IrisError>> read;
    cache->lookUpDisk("thrown", options, CallbackQueue::untouch(), [&](auto result) { read = result; });
    drainIo();
    ASSERT_TRUE(stored && stored->diskCacheResult.isFailure());
    EXPECT_EQ(stored->diskCacheResult.error().cacheReason()->kind,
        IrisError::CacheErrorReason::Kind::cannotSerializeImage);
    ASSERT_TRUE(read && read->isSuccess());
    EXPECT_FALSE(read->value());
}

TEST(ImageCacheCost, PixelsTimesBytesPerPixelTimesFrames)
{
    EXPECT_EQ(imageMemoryCost(Image::createEmpty({ 10, 10 })), 0);
    const auto image = pictureImage(10, 10);
    EXPECT_EQ(imageMemoryCost(image), 400);
    ir(image).setImages(std::vector { pictureImage(), pictureImage(), pictureImage() });
    EXPECT_EQ(imageMemoryCost(image), 1200);
    const auto deep = Image::create(*platform::Bitmap::fromImage(QImage(10, 10, QImage::Format_RGBA64)));
    EXPECT_EQ(imageMemoryCost(deep), 800);
    // A decoded three-frame GIF is charged for its three frames.
    testimages::GifFrame frame { QRect(0, 0, 8, 8), 0 };
    const auto gif = ImageWrapper::decodeImage(testimages::writeGif(8, 8, { frame, frame, frame }));
    ASSERT_TRUE(gif);
    EXPECT_EQ(imageMemoryCost(gif), 8 * 8 * (gif->bitmap()->bitsPerPixel() / 8) * 3);
}

TEST(ImageCacheCost, OneBitImagesCountTheirBytes)
{
    // A black-and-white PNG decodes to one bit a pixel; whole bytes are charged for a part one.
    QImage page(1000, 1000, QImage::Format_Mono);
    page.fill(0);
    const auto decoded = ImageWrapper::decodeImage(testimages::encoded(page, "png"));
    ASSERT_TRUE(decoded && decoded->bitmap());
    ASSERT_EQ(decoded->bitmap()->bitsPerPixel(), 1);
    EXPECT_EQ(imageMemoryCost(decoded), 1000 * 1000 / 8);
    EXPECT_EQ(
        imageMemoryCost(Image::create(*platform::Bitmap::fromImage(QImage(3, 3, QImage::Format_Mono)))), 2);

    // So a memory tier with room for two pages keeps two, not all of them.
    auto memory = ImageCache::ImageStorage::make(MemoryStorage::Config(2 * 1000 * 1000 / 8, 0));
    for (int i = 0; i < 5; ++i)
        memory->storeValue(decoded, QString::number(i));
    EXPECT_EQ(memory->totalCost(), 2 * 1000 * 1000 / 8);
    EXPECT_FALSE(memory->containsValue(QStringLiteral("0")));
    EXPECT_TRUE(memory->containsValue(QStringLiteral("4")));
}

TEST(ImageCacheConstruction, NamesAndQueues)
{
    QTemporaryDir dir;
    try {
        ImageCache::initNamed("");
        FAIL();
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(),
            "[Iris] You should specify a name for the cache. A cache with empty name is not permitted.");
    }
    const auto one = ImageCache::initNamed("same", QUrl::fromLocalFile(dir.path()));
    const auto two = ImageCache::initNamed("same", QUrl::fromLocalFile(dir.path()));
    EXPECT_NE(one->ioQueue()->label(), two->ioQueue()->label());
    EXPECT_TRUE(
        QString::fromStdString(one->ioQueue()->label()).startsWith("org.tindrel.Iris.ImageCache.ioQueue."));
    EXPECT_EQ(ImageCache::defaultCache(), ImageCache::defaultCache());
    EXPECT_EQ(ImageCache::defaultCache()->diskStorage()->config().name, "default");
    const MemoryStorage::Config memory = one->memoryStorage()->config();
    EXPECT_EQ(memory.expiration, StorageExpiration::seconds(300));
    EXPECT_EQ(memory.cleanInterval, 120);
    EXPECT_EQ(one->diskStorage()->config().expiration, StorageExpiration::days(7));
    EXPECT_EQ(one->diskStorage()->config().sizeLimit, 0u);

    // A regular file where the folder should be: the throwing form fails.
    QFile blocker(dir.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_TRUE(ImageCache::initNamedThrowing("x", QUrl::fromLocalFile(dir.filePath("blocked"))).isFailure());
    EXPECT_TRUE(ImageCache::initNamedThrowing("x", QUrl::fromLocalFile(dir.path())).isSuccess());
}

TEST(ImageCacheLifetime, QueuedWorkKeepsTheCacheAliveUntilItHasRun)
{
    QTemporaryDir dir;
    std::weak_ptr<ImageCache> weak;
    bool stored = false, measured = false;
    QString path;
    {
        auto cache = ImageCache::initNamed("lifetime", QUrl::fromLocalFile(dir.path()));
        weak = cache;
        path = cache->filePathForKey("k");
        IrisParsedOptionsInfo options;
        options.callbackQueue = CallbackQueue::mainAsync();
        cache->storeImage(
            pictureImage(), std::nullopt, "k", options, true, [&](CacheStoreResult) { stored = true; });
        cache->measureDiskUsage([&](platform::Result<std::uint64_t, IrisError> size) {
            EXPECT_GT(size.value(), 0u);
            measured = true;
        });
        cache->purgeExpiredDisk();
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return stored && measured; }));
    EXPECT_TRUE(QFile::exists(path));
    // Once its work has run, nothing holds the cache: no cycle through queues or observers.
    ASSERT_TRUE(testsupport::waitUntil([&] { return weak.expired(); }));
    platform::NotificationCenter::defaultCenter().post(applicationWillResignActiveNotification);
}

TEST_F(ImageCacheTest, ClearingAndMeasuring)
{
    std::optional<std::uint64_t> size;
    cache->measureDiskUsage([&](platform::Result<std::uint64_t, IrisError> result) {
        EXPECT_TRUE(testsupport::isMainThread());
        size = result.value();
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return size.has_value(); }));
    EXPECT_EQ(*size, 0u);

    cache->writeDataToDiskNow(QByteArray(100, 'a'), "a", "", CallbackQueue::untouch(), std::nullopt, {}, {});
    cache->writeDataToDiskNow(QByteArray(50, 'b'), "b", "", CallbackQueue::untouch(), std::nullopt, {}, {});
    size.reset();
    cache->diskStorageSize([&](platform::Result<std::uint64_t, IrisError> result) { size = result.value(); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return size.has_value(); }));
    EXPECT_EQ(*size, 150u);

    cache->storeImage(pictureImage(), std::nullopt, "m", IrisParsedOptionsInfo(), false);
    bool cleared = false;
    cache->clearAll([&] {
        EXPECT_TRUE(testsupport::isMainThread());
        cleared = true;
    });
    // Memory is empty at once; the disk afterwards, on the I/O queue.
    EXPECT_EQ(cache->cacheTypeOfKey("m"), CacheType::none);
    ASSERT_TRUE(testsupport::waitUntil([&] { return cleared; }));
    EXPECT_EQ(cache->cacheTypeOfKey("a"), CacheType::none);
    EXPECT_TRUE(QDir(cache->diskStorage()->directoryURL().toLocalFile()).exists());
}

TEST_F(ImageCacheTest, CleaningPostsTheRemovedNamesExpiredFirst)
{
    iristest::ManualClock clock(platform::Date::now());
    const auto write = [&](const QString& key, int bytes, std::optional<StorageExpiration> expiration) {
        cache->writeDataToDiskNow(
            QByteArray(bytes, 'x'), key, "", CallbackQueue::untouch(), expiration, {}, {});
    };
    write("expiredA", 10, StorageExpiration::seconds(10));
    write("expiredB", 10, StorageExpiration::seconds(10));
    write("big", 1000, std::nullopt);
    clock.advance(5);
    write("small", 10, std::nullopt);
    clock.advance(100);
    cache->diskStorage()->setConfig([&] {
        DiskStorage::Config config = cache->diskStorage()->config();
        config.sizeLimit = 600;
        return config;
    }());

    CleanRecorder recorder(cache.get());
    bool completed = false;
    cache->purgeExpiredDisk([&] {
        // Observers have seen the notification before the completion runs.
        EXPECT_EQ(recorder.names.size(), 1u);
        EXPECT_TRUE(testsupport::isMainThread());
        completed = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return completed; }));
    ASSERT_EQ(recorder.names.size(), 1u);
    const QStringList names = recorder.names.front();
    ASSERT_EQ(names.size(), 3);
    EXPECT_EQ((std::set<QString> { names[0], names[1] }),
        (std::set<QString> { cache->fileNameForKey("expiredA"), cache->fileNameForKey("expiredB") }));
    EXPECT_EQ(names[2], cache->fileNameForKey("big"));
    EXPECT_EQ(cache->cacheTypeOfKey("small"), CacheType::disk);

    // Nothing left to remove: no notification, but the completion still runs.
    completed = false;
    cache->purgeExpired([&] { completed = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return completed; }));
    EXPECT_EQ(recorder.names.size(), 1u);
}

TEST_F(ImageCacheTest, ResignActiveCleansTheDisk)
{
    iristest::ManualClock clock(platform::Date::now());
    cache->writeDataToDiskNow(
        QByteArray(10, 'x'), "old", "", CallbackQueue::untouch(), StorageExpiration::seconds(1), {}, {});
    clock.advance(10);
    CleanRecorder recorder(cache.get());
    platform::NotificationCenter::defaultCenter().post(applicationWillResignActiveNotification);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !recorder.names.empty(); }));
    EXPECT_EQ(recorder.names.front(), QStringList { cache->fileNameForKey("old") });
}

namespace {

// Counts the walks of the cache folder.
class WalkCountingFileSystem final : public CacheFileSystem {
public:
    Result<Listing> enumerate(const QString& directory) override
    {
        ++walks;
        return CacheFileSystem::enumerate(directory);
    }
    std::atomic<int> walks { 0 };
};

} // namespace

// Switching away from the window while a clean still waits on the I/O queue asks for no more walks
// of the folder: the waiting clean sees everything a later one would.
TEST(ImageCacheCleaning, SwitchesAwayWhileACleanWaitsWalkTheFolderOnce)
{
    QTemporaryDir dir;
    auto files = std::make_shared<WalkCountingFileSystem>();
    auto disk = std::make_shared<ImageCache::DataStorage>(
        DiskStorage::Config("walks", 0, files, QUrl::fromLocalFile(dir.path())));
    auto cache
        = ImageCache::create(ImageCache::ImageStorage::make(MemoryStorage::Config(1 << 20, 120)), disk);
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    cache->ioQueue()->async([&] {
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return open; });
    });
    for (int i = 0; i < 5; ++i)
        platform::NotificationCenter::defaultCenter().post(applicationWillResignActiveNotification);
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    released.notify_all();
    cache->ioQueue()->sync([] {});
    EXPECT_EQ(files->walks, 1);

    // Once that clean has started, the next switch cleans again.
    platform::NotificationCenter::defaultCenter().post(applicationWillResignActiveNotification);
    cache->ioQueue()->sync([] {});
    EXPECT_EQ(files->walks, 2);
}

namespace {

// A file system whose folder listing always fails.
class UnlistableFileSystem final : public CacheFileSystem {
public:
    Result<Listing> enumerate(const QString& directory) override
    {
        return Result<Listing>::failure(platform::PlatformError::fromErrno(EIO, directory));
    }
};

} // namespace

TEST(ImageCacheFailures, AFailedCleanStillCompletes)
{
    QTemporaryDir dir;
    auto disk = std::make_shared<ImageCache::DataStorage>(DiskStorage::Config(
        "unlistable", 0, std::make_shared<UnlistableFileSystem>(), QUrl::fromLocalFile(dir.path())));
    auto cache
        = ImageCache::create(ImageCache::ImageStorage::make(MemoryStorage::Config(1 << 20, 120)), disk);
    CleanRecorder recorder(cache.get());
    bool cleaned = false, measured = false;
    cache->purgeExpiredDisk([&] { cleaned = true; });
    cache->measureDiskUsage([&](platform::Result<std::uint64_t, IrisError> result) {
        EXPECT_TRUE(result.isFailure());
        measured = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return cleaned && measured; }));
    EXPECT_TRUE(recorder.names.empty());
}

namespace {

// Counts the calls that reach its overrides.
class SpyCache final : public ImageCache {
public:
    using ImageCache::ImageCache;

    std::shared_ptr<Image> lookUpMemory(const QString& key, const IrisParsedOptionsInfo& options) override
    {
        ++memoryReads;
        return ImageCache::lookUpMemory(key, options);
    }
    void lookUpDisk(const QString& key, const IrisParsedOptionsInfo& options, CallbackQueue callbackQueue,
        DiskLookUpCompletion completion) override
    {
        ++diskReads;
        ImageCache::lookUpDisk(key, options, std::move(callbackQueue), std::move(completion));
    }

    int memoryReads = 0;
    int diskReads = 0;
};

} // namespace

TEST(ImageCacheOverrides, ItemFormsAndWhichCallsGoThroughOverrides)
{
    QTemporaryDir dir;
    auto cache
        = ImageCache::create<SpyCache>(ImageCache::ImageStorage::make(MemoryStorage::Config(1 << 24, 120)),
            std::make_shared<ImageCache::DataStorage>(DiskStorage::Config(
                "spy", 0, CacheFileSystem::defaultFileSystem(), QUrl::fromLocalFile(dir.path()))));
    cache->writeDataToDiskNow(pngBytes(), "k", "id", CallbackQueue::untouch(), std::nullopt, {}, {});

    // Without a completion nothing is read at all.
    cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::untouch(), {});
    EXPECT_EQ(cache->memoryReads, 0);

    const IrisOptionsInfo items {
        IrisOptionsInfoItem::processor(std::make_shared<GeneralProcessor>("id",
            [](const ImageProcessItem&, const IrisParsedOptionsInfo&) { return std::shared_ptr<Image>(); })),
        IrisOptionsInfoItem::loadDiskFileSynchronously()
    };
    std::optional<CacheType> type;
    cache->lookUpImageWithItems("k", items, CallbackQueue::untouch(),
        [&](platform::Result<ImageCacheResult, IrisError> result) { type = result.value().cacheType(); });
    ASSERT_TRUE(type);
    EXPECT_EQ(*type, CacheType::disk);
    // The memory read goes through the override; the disk read is this class's own.
    EXPECT_EQ(cache->memoryReads, 1);
    EXPECT_EQ(cache->diskReads, 0);

    EXPECT_TRUE(cache->lookUpMemoryWithItems("k", items));
    EXPECT_FALSE(cache->lookUpMemoryWithItems("k", std::nullopt));
    EXPECT_EQ(cache->memoryReads, 3);

    std::shared_ptr<Image> fromDisk;
    cache->lookUpDiskWithItems("k", items, CallbackQueue::untouch(),
        [&](platform::Result<std::shared_ptr<Image>, IrisError> result) { fromDisk = result.value(); });
    EXPECT_TRUE(fromDisk);
    EXPECT_EQ(cache->diskReads, 0);
}

namespace {

// Holds the I/O queue of a cache until opened, so that work queued behind it waits. The state is
// shared with the held work, which may still be waking when the gate goes.
class IoGate {
public:
    explicit IoGate(ImageCache& cache)
    {
        cache.ioQueue()->async([state = m_state] {
            std::unique_lock lock(state->mutex);
            state->released.wait(lock, [&] { return state->open; });
        });
    }
    ~IoGate() { open(); }

    void open()
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->open = true;
        }
        m_state->released.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable released;
        bool open = false;
    };
    const std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace

// A look-up that began before a removal may still deliver what it read, but must not put it back
// into memory once the removal is done: a later look-up would find an image that was cleared.
TEST_F(ImageCacheTest, ADiskHitIsNotPutBackAfterARemovalThatFollowedIt)
{
    using Removal = std::function<void(ImageCache&)>;
    const std::vector<std::pair<const char*, Removal>> removals {
        { "clearMemoryCache", [](ImageCache& cache) { cache.clearMemoryCache(); } },
        { "removeEntry from memory", [](ImageCache& cache) { cache.removeEntry("k", "", true, false); } },
    };
    for (const auto& [name, remove] : removals) {
        SCOPED_TRACE(name);
        cache->clearMemoryCache();
        cache->writeDataToDiskNow(pngBytes(), "k", "", CallbackQueue::untouch(), std::nullopt, {}, {});
        std::optional<CacheType> delivered;
        {
            IoGate gate(*cache);
            cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::untouch(),
                [&](platform::Result<ImageCacheResult, IrisError> result) {
                    delivered = result.value().cacheType();
                });
            remove(*cache);
        }
        drainIo();
        // Started first, so it delivers the disk copy, but memory stays empty.
        ASSERT_TRUE(delivered);
        EXPECT_EQ(*delivered, CacheType::disk);
        EXPECT_FALSE(cache->lookUpMemory("k", IrisParsedOptionsInfo()));
    }

    // Without a removal in between the disk hit is put back, as ever.
    cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::untouch(),
        [](platform::Result<ImageCacheResult, IrisError>) {});
    drainIo();
    EXPECT_TRUE(cache->lookUpMemory("k", IrisParsedOptionsInfo()));
}

// A look-up that reads the old file must not, once it puts its image back into memory, replace a new
// image stored for the key in the meantime (a reload that was forced): later memory hits would show
// the old picture while the disk holds the new one.
TEST_F(ImageCacheTest, ADiskHitNeverReplacesAnImageStoredAfterItsLookUpBegan)
{
    cache->writeDataToDiskNow(pngBytes(8, 8), "k", "", CallbackQueue::untouch(), std::nullopt, {}, {});
    const std::shared_ptr<Image> reloaded = pictureImage(12, 12);
    std::optional<CacheType> delivered;
    {
        IoGate gate(*cache);
        cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::untouch(),
            [&](platform::Result<ImageCacheResult, IrisError> result) {
                delivered = result.value().cacheType();
            });
        cache->storeImage(reloaded, std::nullopt, "k", IrisParsedOptionsInfo(), false);
    }
    drainIo();
    ASSERT_TRUE(delivered);
    EXPECT_EQ(*delivered, CacheType::disk);
    EXPECT_EQ(cache->lookUpMemory("k", IrisParsedOptionsInfo()).get(), reloaded.get());

    // An entry that has expired is no newer image: the disk hit takes its place.
    iristest::ManualClock clock(platform::Date::now());
    cache->clearMemoryCache();
    IrisParsedOptionsInfo shortLived;
    shortLived.memoryCacheExpiration = StorageExpiration::seconds(10);
    cache->storeImage(pictureImage(4, 4), std::nullopt, "k", shortLived, false);
    clock.advance(20);
    cache->lookUpImage("k", IrisParsedOptionsInfo(), CallbackQueue::untouch(),
        [](platform::Result<ImageCacheResult, IrisError>) {});
    drainIo();
    const std::shared_ptr<Image> putBack = cache->lookUpMemory("k", IrisParsedOptionsInfo());
    ASSERT_TRUE(putBack);
    EXPECT_EQ(putBack->pixelSize().width, 8);
}

// Reads that skip the I/O queue (a synchronous load, the cached-type check) must not overtake a
// disk removal that was asked for before them and still waits on that queue.
TEST_F(ImageCacheTest, ReadsOnTheCallingThreadDoNotOvertakeAPendingRemoval)
{
    using Removal = std::function<void(ImageCache&)>;
    const std::vector<std::pair<const char*, Removal>> removals {
        { "clearAll", [](ImageCache& cache) { cache.clearAll(); } },
        { "clearDisk", [](ImageCache& cache) { cache.clearDisk(); } },
        { "removeEntry", [](ImageCache& cache) { cache.removeEntry("k"); } },
    };
    IrisParsedOptionsInfo synchronous;
    synchronous.loadDiskFileSynchronously = true;
    for (const auto& [name, remove] : removals) {
        SCOPED_TRACE(name);
        cache->clearMemoryCache();
        cache->writeDataToDiskNow(pngBytes(), "k", "", CallbackQueue::untouch(), std::nullopt, {}, {});
        cache->writeDataToDiskNow(pngBytes(), "other", "", CallbackQueue::untouch(), std::nullopt, {}, {});
        {
            IoGate gate(*cache);
            remove(*cache);
            EXPECT_EQ(cache->cacheTypeOfKey("k"), CacheType::none);
            std::optional<CacheType> found;
            cache->lookUpImage("k", synchronous, CallbackQueue::untouch(),
                [&](platform::Result<ImageCacheResult, IrisError> result) {
                    found = result.value().cacheType();
                });
            ASSERT_TRUE(found);
            EXPECT_EQ(*found, CacheType::none);
            EXPECT_FALSE(cache->lookUpMemory("k", IrisParsedOptionsInfo()));
        }
        drainIo();
        // Once the removal has run, other keys read as before.
        EXPECT_EQ(cache->cacheTypeOfKey("k"), CacheType::none);
        if (std::string(name) == "removeEntry") {
            EXPECT_EQ(cache->cacheTypeOfKey("other"), CacheType::disk);
        }
    }
}

// A clean over the size limit reads the folder once: expired files and the trim come from the same
// walk.
TEST(ImageCacheCleaning, ACleanOverTheSizeLimitWalksTheFolderOnce)
{
    QTemporaryDir dir;
    iristest::ManualClock clock(platform::Date::now());
    auto files = std::make_shared<WalkCountingFileSystem>();
    auto disk = std::make_shared<ImageCache::DataStorage>(
        DiskStorage::Config("walks", 100, files, QUrl::fromLocalFile(dir.path())));
    auto cache
        = ImageCache::create(ImageCache::ImageStorage::make(MemoryStorage::Config(1 << 20, 120)), disk);
    cache->writeDataToDiskNow(
        QByteArray(10, 'x'), "expired", "", CallbackQueue::untouch(), StorageExpiration::seconds(1), {}, {});
    for (int i = 0; i < 4; ++i) {
        clock.advance(1);
        cache->writeDataToDiskNow(
            QByteArray(30, 'x'), QString::number(i), "", CallbackQueue::untouch(), std::nullopt, {}, {});
    }
    clock.advance(10);
    CleanRecorder recorder(cache.get());
    bool cleaned = false;
    cache->purgeExpiredDisk([&] { cleaned = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return cleaned; }));
    EXPECT_EQ(files->walks, 1);
    // 120 bytes live over a limit of 100: the two least recently used go, down to 50.
    ASSERT_EQ(recorder.names.size(), 1u);
    EXPECT_EQ(recorder.names.front(),
        (QStringList { cache->fileNameForKey("expired"), cache->fileNameForKey("0"),
            cache->fileNameForKey("1"), cache->fileNameForKey("2") }));
}
