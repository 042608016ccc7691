#include "Iris/cache/ImageCache.h"

#include "Iris/general/IrisNames.h"
#include "Iris/image/Image.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Print.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Uuid.h"

#include <QCoreApplication>
#include <QDir>

#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

namespace iris {

namespace {

using platform::DispatchQueue;
using platform::Image;

constexpr double memoryCleanIntervalSeconds = 120;

std::int64_t saturatingProduct(std::int64_t a, std::int64_t b)
{
    std::int64_t product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return std::numeric_limits<std::int64_t>::max();
    return product;
}

// The image made ready for drawing: an animation as it is; otherwise its bitmap at the given scale.
// Our bitmaps hold decoded pixels already, so no redraw is needed to decode them.
std::shared_ptr<Image> decodedForDrawing(const std::shared_ptr<Image>& image, double scale)
{
    if (ir(image).images())
        return image;
    const platform::Bitmap* bitmap = image->bitmap();
    if (!bitmap)
        return image;
    std::shared_ptr<Image> decoded = Image::create(*bitmap, scale);
    // The memory tier holds it for every later request of the key, the animation's too.
    ir(decoded).setAnimationSourceOf(image);
    return decoded;
}

MemoryStorage::Config namedMemoryConfig()
{
    const std::uint64_t quarter = platform::ProcessInfo::physicalMemory() / 4;
    const auto limit
        = std::int64_t(std::min<std::uint64_t>(quarter, std::numeric_limits<std::int64_t>::max()));
    return MemoryStorage::Config(limit, memoryCleanIntervalSeconds);
}

DiskStorage::Config namedDiskConfig(
    const QString& name, std::optional<QUrl> directory, DiskStorage::CachePathBlock cachePathBlock)
{
    DiskStorage::Config config(name, 0, CacheFileSystem::defaultFileSystem(), std::move(directory));
    config.cachePathBlock = cachePathBlock ? std::move(cachePathBlock) : DiskStorage::defaultCachePathBlock;
    return config;
}

void requireName(const QString& name)
{
    if (name.isEmpty())
        throw std::invalid_argument(
            "[Iris] You should specify a name for the cache. A cache with empty name is not permitted.");
}

// The removal generation a disk hit's put-back into memory must still see, set for the length of the
// synchronous `storeImage` call that makes it (an override that calls this class's own `storeImage`
// keeps the guard).
thread_local std::optional<std::uint64_t> putBackUnlessRemovedSince;

class PutBackGuard {
public:
    explicit PutBackGuard(std::uint64_t generation) { putBackUnlessRemovedSince = generation; }
    ~PutBackGuard() { putBackUnlessRemovedSince.reset(); }
    PutBackGuard(const PutBackGuard&) = delete;
    PutBackGuard& operator=(const PutBackGuard&) = delete;
};

// A serializer is outside code running on the I/O queue: whatever it throws means it gave nothing,
// so the store fails or the file reads as no image, and the queue goes on.
std::optional<QByteArray> serializedData(const CacheSerializer& serializer,
    const std::shared_ptr<Image>& image, const std::optional<QByteArray>& original)
{
    try {
        return serializer.dataForImage(image, original);
    } catch (...) {
        return std::nullopt;
    }
}

std::shared_ptr<Image> deserializedImage(
    const CacheSerializer& serializer, const QByteArray& data, const IrisParsedOptionsInfo& options)
{
    try {
        return serializer.imageFromCacheData(data, options);
    } catch (...) {
        return nullptr;
    }
}

QString describe(const DiskStorage::Error& error)
{
    if (const auto* iris = std::get_if<IrisError>(&error))
        return iris->localizedDescription();
    return std::get<platform::PlatformError>(error).description;
}

} // namespace

std::int64_t imageMemoryCost(const std::shared_ptr<Image>& image)
{
    if (!image)
        return 0;
    const platform::Size size = image->pixelSize();
    const std::int64_t pixels = saturatingProduct(std::int64_t(size.width), std::int64_t(size.height));
    const platform::Bitmap* bitmap = image->bitmap();
    if (!bitmap)
        return saturatingProduct(pixels, 4);
    // A 1-bit image (a scanned page, line art) holds an eighth of a byte per pixel: counted as
    // nothing, any number of them would sit in memory beyond the limit.
    const int bitsPerPixel = bitmap->bitsPerPixel();
    std::int64_t perImage = saturatingProduct(pixels, bitsPerPixel / 8);
    if (bitsPerPixel > 0 && bitsPerPixel < 8)
        perImage = pixels / 8 * bitsPerPixel + (pixels % 8 * bitsPerPixel + 7) / 8;
    if (const auto frames = ir(image).images())
        return saturatingProduct(perImage, std::int64_t(frames->size()));
    return perImage;
}

QString IrisDidCleanDiskCache()
{
    static const QString name = irisName(QStringLiteral("IrisDidCleanDiskCache"));
    return name;
}

QString cleanedHashUserInfoKey()
{
    static const QString key = irisName(QStringLiteral("cleanedHash"));
    return key;
}

QString ImageCache::processedCacheKey(const QString& key, const QString& identifier)
{
    return identifier.isEmpty() ? key : key + QLatin1Char('@') + identifier;
}

void ImageCache::PendingDiskRemovals::clearing()
{
    std::lock_guard lock(m_mutex);
    ++m_clears;
}

void ImageCache::PendingDiskRemovals::cleared()
{
    std::lock_guard lock(m_mutex);
    --m_clears;
}

void ImageCache::PendingDiskRemovals::removingKey(const QString& key)
{
    std::lock_guard lock(m_mutex);
    m_keys.insert(key);
}

void ImageCache::PendingDiskRemovals::removedKey(const QString& key)
{
    std::lock_guard lock(m_mutex);
    if (auto found = m_keys.find(key); found != m_keys.end())
        m_keys.erase(found);
}

bool ImageCache::PendingDiskRemovals::covers(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    return m_clears > 0 || m_keys.contains(key);
}

ImageCache::ImageCache(std::shared_ptr<ImageStorage> memoryStorage, std::shared_ptr<DataStorage> diskStorage)
    : m_memoryStorage(std::move(memoryStorage))
    , m_diskStorage(std::move(diskStorage))
    , m_ioQueue(DispatchQueue::makeSerial(
          irisName(QStringLiteral("ImageCache.ioQueue.") + platform::Uuid::random().uuidString())
              .toStdString()))
{
}

ImageCache::~ImageCache()
{
    if (m_resignActiveToken)
        platform::NotificationCenter::defaultCenter().removeObserver(m_resignActiveToken);
}

void ImageCache::startObservingResignActive()
{
    std::weak_ptr<ImageCache> weak = weak_from_this();
    m_resignActiveToken
        = platform::NotificationCenter::defaultCenter().addObserver(std::weak_ptr<const void>(weak),
            applicationWillResignActiveNotification, nullptr, [weak](const platform::Notification&) {
                if (std::shared_ptr<ImageCache> cache = weak.lock())
                    cache->cleanExpiredDiskCache();
            });
}

namespace {

std::mutex liveCachesMutex;
std::vector<std::weak_ptr<ImageCache>> liveCaches;

} // namespace

void ImageCache::stopDiskWorkAtExit()
{
    static std::once_flag once;
    std::call_once(once, [] { qAddPostRoutine(ImageCache::stopAllDiskWork); });
    std::lock_guard lock(liveCachesMutex);
    std::erase_if(liveCaches, [](const std::weak_ptr<ImageCache>& cache) { return cache.expired(); });
    liveCaches.push_back(weak_from_this());
}

void ImageCache::stopAllDiskWork()
{
    std::vector<std::shared_ptr<ImageCache>> caches;
    {
        std::lock_guard lock(liveCachesMutex);
        for (const std::weak_ptr<ImageCache>& weak : liveCaches) {
            if (std::shared_ptr<ImageCache> cache = weak.lock())
                caches.push_back(std::move(cache));
        }
    }
    for (const std::shared_ptr<ImageCache>& cache : caches)
        cache->m_diskWorkStopped = true;
    // Queued work now returns at once; waiting behind it waits only for what is running.
    for (const std::shared_ptr<ImageCache>& cache : caches)
        cache->m_ioQueue->sync([] {});
}

void ImageCache::onIoQueue(std::function<void()> work)
{
    m_ioQueue->async([self = shared_from_this(), work = std::move(work)] {
        if (!self->m_diskWorkStopped)
            work();
    });
}

std::shared_ptr<ImageCache> ImageCache::initNamed(
    const QString& name, std::optional<QUrl> directory, DiskStorage::CachePathBlock cachePathBlock)
{
    requireName(name);
    auto memory = ImageStorage::make(namedMemoryConfig());
    auto disk = std::make_shared<DataStorage>(
        namedDiskConfig(name, std::move(directory), std::move(cachePathBlock)));
    return create(std::move(memory), std::move(disk));
}

platform::Result<std::shared_ptr<ImageCache>, IrisError> ImageCache::initNamedThrowing(
    const QString& name, std::optional<QUrl> directory, DiskStorage::CachePathBlock cachePathBlock)
{
    using CacheResult = platform::Result<std::shared_ptr<ImageCache>, IrisError>;
    requireName(name);
    auto memory = ImageStorage::make(namedMemoryConfig());
    auto disk
        = DataStorage::initThrowing(namedDiskConfig(name, std::move(directory), std::move(cachePathBlock)));
    if (disk.isFailure())
        return CacheResult::failure(disk.error());
    return CacheResult::success(create(std::move(memory), std::move(disk).value()));
}

const std::shared_ptr<ImageCache>& ImageCache::defaultCache()
{
    static const std::shared_ptr<ImageCache> cache = initNamed(QStringLiteral("default"));
    return cache;
}

void ImageCache::storeImage(std::shared_ptr<Image> image, std::optional<QByteArray> original,
    const QString& key, const IrisParsedOptionsInfo& options, bool toDisk, StoreCompletion completion)
{
    const QString identifier = options.processor ? options.processor->identifier() : QString();
    const CallbackQueue callbackQueue = options.callbackQueue;
    std::optional<std::uint64_t> unlessRemovedSince = std::exchange(putBackUnlessRemovedSince, std::nullopt);
    m_memoryStorage->storeValue(
        image, processedCacheKey(key, identifier), options.memoryCacheExpiration, unlessRemovedSince);

    if (!toDisk) {
        if (completion)
            runCallback(
                callbackQueue, [completion = std::move(completion)] { completion(CacheStoreResult {}); });
        return;
    }
    onIoQueue([self = shared_from_this(), image = std::move(image), original = std::move(original), key,
                  identifier, options, completion = std::move(completion)] {
        const CacheSerializerPtr serializer
            = options.cacheSerializer ? options.cacheSerializer : DefaultCacheSerializer::shared();
        std::optional<QByteArray> data = serializedData(*serializer, image, original);
        if (data) {
            self->ImageCache::writeDataToDiskNow(*data, key, identifier, options.callbackQueue,
                options.diskCacheExpiration, options.diskStoreWriteOptions, completion);
            return;
        }
        if (!completion)
            return;
        const QString imageText = image ? QStringLiteral("image of %1 x %2 pixels")
                                              .arg(image->pixelSize().width)
                                              .arg(image->pixelSize().height)
                                        : QStringLiteral("nil");
        IrisError error = IrisError::cacheError(IrisError::CacheErrorReason::cannotSerializeImage(
            ErrorObject<Image> { image, imageText }, original, ErrorObject<CacheSerializer>::of(serializer)));
        CacheStoreResult result;
        result.diskCacheResult = platform::Result<platform::Success, IrisError>::failure(std::move(error));
        runCallback(options.callbackQueue, [completion, result] { completion(result); });
    });
}

void ImageCache::storeImageForIdentifier(std::shared_ptr<Image> image, std::optional<QByteArray> original,
    const QString& key, const QString& processorIdentifier, CacheSerializerPtr serializer, bool toDisk,
    CallbackQueue callbackQueue, StoreCompletion completion)
{
    const IrisParsedOptionsInfo options(IrisOptionsInfo {
        IrisOptionsInfoItem::processor(std::make_shared<const TempProcessor>(processorIdentifier)),
        IrisOptionsInfoItem::cacheSerializer(std::move(serializer)),
        IrisOptionsInfoItem::callbackQueue(std::move(callbackQueue)),
    });
    storeImage(std::move(image), std::move(original), key, options, toDisk, std::move(completion));
}

void ImageCache::writeDataToDisk(QByteArray data, const QString& key, const QString& processorIdentifier,
    std::optional<StorageExpiration> expiration, CallbackQueue callbackQueue, StoreCompletion completion)
{
    onIoQueue([self = shared_from_this(), data = std::move(data), key, processorIdentifier, expiration,
                  callbackQueue = std::move(callbackQueue), completion = std::move(completion)] {
        self->ImageCache::writeDataToDiskNow(
            data, key, processorIdentifier, callbackQueue, expiration, DataWritingOptions {}, completion);
    });
}

void ImageCache::writeDataToDiskNow(const QByteArray& data, const QString& key,
    const QString& processorIdentifier, CallbackQueue callbackQueue,
    std::optional<StorageExpiration> expiration, DataWritingOptions writeOptions, StoreCompletion completion)
{
    auto stored = m_diskStorage->storeValue(
        data, processedCacheKey(key, processorIdentifier), expiration, writeOptions);
    if (!completion)
        return;
    CacheStoreResult result;
    result.diskCacheResult = std::move(stored);
    runCallback(callbackQueue, [completion = std::move(completion), result] { completion(result); });
}

void ImageCache::removeEntry(const QString& key, const QString& processorIdentifier, bool fromMemory,
    bool fromDisk, CallbackQueue callbackQueue, std::function<void()> completion)
{
    const QString computedKey = processedCacheKey(key, processorIdentifier);
    if (fromMemory)
        m_memoryStorage->removeValue(computedKey);
    if (!fromDisk) {
        if (completion)
            runCallback(callbackQueue, std::move(completion));
        return;
    }
    const auto pending = m_pendingDiskRemovals;
    pending->removingKey(computedKey);
    onIoQueue([self = shared_from_this(), computedKey, callbackQueue = std::move(callbackQueue),
                  completion = std::move(completion)] {
        // A file that cannot be removed is left; the completion runs either way.
        (void)self->m_diskStorage->removeFileForKey(computedKey);
        if (completion)
            runCallback(callbackQueue, completion);
    });
    // Queued apart from the work, so that it runs even when disk work has been stopped.
    m_ioQueue->async([pending, computedKey] { pending->removedKey(computedKey); });
}

void ImageCache::lookUpImage(const QString& key, const IrisParsedOptionsInfo& options,
    CallbackQueue callbackQueue, LookUpCompletion completion)
{
    using LookUpResult = platform::Result<ImageCacheResult, IrisError>;
    if (!completion)
        return;
    // Taken before the memory read: a removal from then on keeps a disk hit out of memory.
    const std::uint64_t removalGeneration = m_memoryStorage->removalGeneration();
    if (std::shared_ptr<Image> image = lookUpMemory(key, options)) {
        runCallback(callbackQueue, [completion = std::move(completion), image = std::move(image)] {
            completion(LookUpResult::success(ImageCacheResult::memory(image)));
        });
        return;
    }
    if (options.fromMemoryCacheOrRefresh) {
        runCallback(callbackQueue, [completion = std::move(completion)] {
            completion(LookUpResult::success(ImageCacheResult::none()));
        });
        return;
    }
    ImageCache::lookUpDisk(key, options, callbackQueue,
        [self = shared_from_this(), key, options, callbackQueue, removalGeneration,
            completion = std::move(completion)](platform::Result<std::shared_ptr<Image>, IrisError> result) {
            if (result.isFailure()) {
                runCallback(callbackQueue,
                    [completion, error = result.error()] { completion(LookUpResult::failure(error)); });
                return;
            }
            std::shared_ptr<Image> image = result.value();
            if (!image) {
                runCallback(callbackQueue,
                    [completion] { completion(LookUpResult::success(ImageCacheResult::none())); });
                return;
            }
            // A serializer that keeps the original data gives back the image as it was before the
            // processor ran: it must never sit in memory under the processed key, where the next
            // look-up would take it for the processed image. Whoever processes it stores the result.
            const QString identifier = options.processor ? options.processor->identifier() : QString();
            const CacheSerializerPtr serializer
                = options.cacheSerializer ? options.cacheSerializer : DefaultCacheSerializer::shared();
            if (!identifier.isEmpty() && serializer->usesOriginalData()) {
                runCallback(callbackQueue, [completion, image] {
                    completion(LookUpResult::success(ImageCacheResult::disk(image)));
                });
                return;
            }
            // Back into memory before the completion runs, and not written to disk again; but not
            // when the entry was removed or the memory emptied after this look-up began, or a
            // look-up started after that removal had been done would still find the image; nor over
            // an image stored since, which may come from a reload and be newer than this file.
            IrisParsedOptionsInfo memoryOptions = options;
            memoryOptions.callbackQueue = CallbackQueue::untouch();
            PutBackGuard guard(removalGeneration);
            self->storeImage(image, std::nullopt, key, memoryOptions, false,
                [callbackQueue, completion, image](CacheStoreResult) {
                    runCallback(callbackQueue, [completion, image] {
                        completion(LookUpResult::success(ImageCacheResult::disk(image)));
                    });
                });
        });
}

void ImageCache::lookUpImageWithItems(const QString& key, const std::optional<IrisOptionsInfo>& items,
    CallbackQueue callbackQueue, LookUpCompletion completion)
{
    lookUpImage(key, IrisParsedOptionsInfo(items), std::move(callbackQueue), std::move(completion));
}

std::shared_ptr<Image> ImageCache::lookUpMemoryWithItems(
    const QString& key, const std::optional<IrisOptionsInfo>& items)
{
    return lookUpMemory(key, IrisParsedOptionsInfo(items));
}

void ImageCache::lookUpDiskWithItems(const QString& key, const std::optional<IrisOptionsInfo>& items,
    CallbackQueue callbackQueue, DiskLookUpCompletion completion)
{
    ImageCache::lookUpDisk(
        key, IrisParsedOptionsInfo(items), std::move(callbackQueue), std::move(completion));
}

std::shared_ptr<Image> ImageCache::lookUpMemory(const QString& key, const IrisParsedOptionsInfo& options)
{
    const QString identifier = options.processor ? options.processor->identifier() : QString();
    return m_memoryStorage
        ->readValue(processedCacheKey(key, identifier), options.memoryCacheAccessExtendingExpiration)
        .value_or(nullptr);
}

namespace {

using DiskResult = platform::Result<std::shared_ptr<Image>, IrisError>;

// Reads and decodes the file of `computedKey` on the calling thread, and hands the result to
// `completion` where `callbackQueue` says.
void readFromDisk(DiskStorage::Backend<QByteArray>& storage, const QString& computedKey,
    const IrisParsedOptionsInfo& options, const CallbackQueue& callbackQueue,
    const ImageCache::DiskLookUpCompletion& completion)
{
    auto read = storage.readValue(
        computedKey, platform::Date::now(), true, options.diskCacheAccessExtendingExpiration);
    if (read.isFailure()) {
        if (completion)
            runCallback(callbackQueue,
                [completion, error = read.error()] { completion(DiskResult::failure(error)); });
        return;
    }
    std::shared_ptr<Image> image;
    if (const std::optional<QByteArray>& data = read.value()) {
        const CacheSerializerPtr serializer
            = options.cacheSerializer ? options.cacheSerializer : DefaultCacheSerializer::shared();
        image = deserializedImage(*serializer, *data, options);
    }
    if (options.backgroundDecode && image)
        image = decodedForDrawing(image, options.scaleFactor);
    if (!completion)
        return;
    // A completion that runs here and now takes the result without another hop.
    if (callbackQueue.kind() == CallbackQueue::Kind::untouch)
        completion(DiskResult::success(std::move(image)));
    else
        runCallback(callbackQueue, [completion, image] { completion(DiskResult::success(image)); });
}

} // namespace

void ImageCache::lookUpDisk(const QString& key, const IrisParsedOptionsInfo& options,
    CallbackQueue callbackQueue, DiskLookUpCompletion completion)
{
    const QString identifier = options.processor ? options.processor->identifier() : QString();
    // A synchronous read copies nothing it is given.
    if (options.loadDiskFileSynchronously) {
        const QString computedKey = processedCacheKey(key, identifier);
        // It would overtake a removal already asked for and still waiting on the I/O queue.
        if (m_pendingDiskRemovals->covers(computedKey)) {
            if (completion)
                runCallback(callbackQueue, [completion] { completion(DiskResult::success(nullptr)); });
            return;
        }
        readFromDisk(*m_diskStorage, computedKey, options, callbackQueue, completion);
        return;
    }
    onIoQueue([self = shared_from_this(), computedKey = processedCacheKey(key, identifier), options,
                  callbackQueue = std::move(callbackQueue), completion = std::move(completion)] {
        readFromDisk(*self->m_diskStorage, computedKey, options, callbackQueue, completion);
    });
}

void ImageCache::clearAll(std::function<void()> completion)
{
    clearMemoryCache();
    clearDisk(std::move(completion));
}

void ImageCache::clearMemoryCache()
{
    m_memoryStorage->removeAll();
}

void ImageCache::clearDisk(std::function<void()> completion)
{
    const auto pending = m_pendingDiskRemovals;
    pending->clearing();
    // Queued apart from the work (below), so that it runs even when disk work has been stopped.
    const auto cleared = [pending] { pending->cleared(); };
    onIoQueue([self = shared_from_this(), completion = std::move(completion)] {
        // A folder that cannot be emptied is left; the completion runs either way.
        auto removed = self->m_diskStorage->removeAllFiles();
        if (removed.isFailure())
            platform::printError(
                QStringLiteral("Image cache: clearing the disk cache failed: ") + describe(removed.error()));
        if (completion)
            DispatchQueue::main()->async(completion);
    });
    m_ioQueue->async(cleared);
}

void ImageCache::purgeExpired(std::function<void()> completion)
{
    purgeExpiredMemory();
    purgeExpiredDisk(std::move(completion));
}

void ImageCache::purgeExpiredMemory()
{
    m_memoryStorage->removeExpired();
}

void ImageCache::cleanExpiredDiskCache()
{
    // A clean that has not started yet will see all this one would: switching away from the window
    // again and again walks the cache folder once, not once a switch.
    if (m_diskCleanQueued.exchange(true))
        return;
    onIoQueue([self = shared_from_this()] { self->m_diskCleanQueued = false; });
    purgeExpiredDisk({});
}

void ImageCache::purgeExpiredDisk(std::function<void()> completion)
{
    onIoQueue([self = shared_from_this(), completion = std::move(completion)] {
        // One walk of the folder serves both steps.
        DiskStorage::BackendBase::CleanedFiles cleaned
            = self->m_diskStorage->removeExpiredFilesAndTrim(platform::Date::now());
        QStringList removedNames;
        for (const auto* urls : { &cleaned.expired, &cleaned.trimmed }) {
            for (const QUrl& url : *urls)
                removedNames.append(url.fileName());
        }
        if (cleaned.error)
            platform::printError(
                QStringLiteral("Image cache: cleaning the disk cache failed: ") + describe(*cleaned.error));
        if (!removedNames.isEmpty()) {
            DispatchQueue::main()->async([self, removedNames] {
                platform::NotificationCenter::defaultCenter().post(
                    IrisDidCleanDiskCache(), self.get(), { { cleanedHashUserInfoKey(), removedNames } });
            });
        }
        if (completion)
            DispatchQueue::main()->async(completion);
    });
}

CacheType ImageCache::cacheTypeOfKey(const QString& key, const QString& processorIdentifier)
{
    const QString computedKey = processedCacheKey(key, processorIdentifier);
    if (m_memoryStorage->containsValue(computedKey))
        return CacheType::memory;
    if (m_pendingDiskRemovals->covers(computedKey))
        return CacheType::none;
    if (m_diskStorage->containsValue(computedKey, platform::Date::now()))
        return CacheType::disk;
    return CacheType::none;
}

bool ImageCache::containsKey(const QString& key, const QString& processorIdentifier)
{
    return cacheTypeOfKey(key, processorIdentifier) != CacheType::none;
}

QString ImageCache::fileNameForKey(const QString& key, const QString& processorIdentifier)
{
    return m_diskStorage->fileNameForKey(processedCacheKey(key, processorIdentifier));
}

void ImageCache::measureDiskUsage(SizeCompletion completion)
{
    onIoQueue([self = shared_from_this(), completion = std::move(completion)] {
        auto size = self->m_diskStorage->totalFileSize();
        if (completion)
            DispatchQueue::main()->async([completion, size] { completion(size); });
    });
}

void ImageCache::diskStorageSize(SizeCompletion completion)
{
    measureDiskUsage(std::move(completion));
}

QString ImageCache::filePathForKey(const QString& key, const QString& processorIdentifier)
{
    return QDir(m_diskStorage->directoryURL().toLocalFile())
        .filePath(m_diskStorage->fileNameForKey(processedCacheKey(key, processorIdentifier)));
}

} // namespace iris
