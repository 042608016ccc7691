#pragma once

#include "Iris/cache/CacheCostCalculable.h"
#include "Iris/cache/CacheSerializer.h"
#include "Iris/cache/DiskStorage.h"
#include "Iris/cache/MemoryStorage.h"
#include "Iris/general/IrisError.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/utility/CallbackQueue.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"
#include "platform/ui/ApplicationNotifications.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

namespace iris {

// What an image costs in the memory cache, in bytes: its decoded pixels (the largest width times
// the largest height over its representations) times the bytes per pixel of its bitmap (4 without
// one), times the number of frames of an animation. Saturates at the largest 64-bit value.
std::int64_t imageMemoryCost(const std::shared_ptr<platform::Image>& image);

template<> struct CacheCostCalculable<std::shared_ptr<platform::Image>> {
    static std::int64_t cacheCost(const std::shared_ptr<platform::Image>& image)
    {
        return imageMemoryCost(image);
    }
};

// Posted when the application stops being the active one; every image cache then cleans its disk
// level.
using platform::applicationWillResignActiveNotification;

// Posted on the main queue after a disk clean removed files, with the cache as sender; its user
// information holds the removed file names (a QStringList) under `cleanedHashUserInfoKey`.
QString IrisDidCleanDiskCache();
QString cleanedHashUserInfoKey();

// Where a cached image came from.
enum class CacheType {
    none,
    memory,
    disk,
};

inline bool fromCache(CacheType type)
{
    return type != CacheType::none;
}

struct ImageCacheResult {
    enum class Kind { disk, memory, none };

    static ImageCacheResult disk(std::shared_ptr<platform::Image> image)
    {
        return { Kind::disk, std::move(image) };
    }
    static ImageCacheResult memory(std::shared_ptr<platform::Image> image)
    {
        return { Kind::memory, std::move(image) };
    }
    static ImageCacheResult none() { return { Kind::none, nullptr }; }

    // Null for `none`.
    std::shared_ptr<platform::Image> image() const { return kind == Kind::none ? nullptr : value; }
    CacheType cacheType() const
    {
        switch (kind) {
        case Kind::disk:
            return CacheType::disk;
        case Kind::memory:
            return CacheType::memory;
        case Kind::none:
            break;
        }
        return CacheType::none;
    }

    Kind kind = Kind::none;
    std::shared_ptr<platform::Image> value;
};

struct CacheStoreResult {
    // Storing in memory cannot fail.
    platform::Success memoryCacheResult;
    platform::Result<platform::Success, IrisError> diskCacheResult
        = platform::Result<platform::Success, IrisError>::success({});
};

// The image library's two-level cache: decoded images in memory, their encoded bytes on disk, both
// under the key followed by "@" and the processor's identifier (the plain key when that identifier
// is empty). Memory work runs on the calling thread; disk work runs in order on the cache's own
// serial `ioQueue`, and every piece of queued work keeps the cache alive until it has run.
// Completions run on the callback queue the caller gives, except those of clearing, cleaning and
// measuring the disk, which run on the main queue. Any thread may use a cache.
class ImageCache : public std::enable_shared_from_this<ImageCache> {
public:
    using ImageStorage = MemoryStorage::Backend<std::shared_ptr<platform::Image>>;
    using DataStorage = DiskStorage::Backend<QByteArray>;
    using StoreCompletion = std::function<void(CacheStoreResult)>;
    using LookUpCompletion = std::function<void(platform::Result<ImageCacheResult, IrisError>)>;
    // Success with a null image means the disk holds nothing for the key.
    using DiskLookUpCompletion
        = std::function<void(platform::Result<std::shared_ptr<platform::Image>, IrisError>)>;
    using SizeCompletion = std::function<void(platform::Result<std::uint64_t, IrisError>)>;

    // The processor that only carries an identifier into options; it makes no image.
    struct TempProcessor;

    // A cache over the two storages, observing the resign-active notification. Subclasses are made
    // through `create<Subclass>` too, so that the observer can hold them weakly.
    template<typename Cache = ImageCache, typename... Args>
    static std::shared_ptr<Cache> create(Args&&... args)
    {
        auto cache = std::make_shared<Cache>(std::forward<Args>(args)...);
        cache->startObservingResignActive();
        cache->stopDiskWorkAtExit();
        return cache;
    }

    // The cache named `name`, its folder in the user's cache folder (or in `directory`), made when
    // missing. An empty name is a programming error: throws std::invalid_argument.
    static std::shared_ptr<ImageCache> initNamed(const QString& name,
        std::optional<QUrl> directory = std::nullopt, DiskStorage::CachePathBlock cachePathBlock = {});
    // As above, but fails when the folder cannot be created.
    static platform::Result<std::shared_ptr<ImageCache>, IrisError> initNamedThrowing(const QString& name,
        std::optional<QUrl> directory = std::nullopt, DiskStorage::CachePathBlock cachePathBlock = {});

    // The cache named "default", made on first use.
    static const std::shared_ptr<ImageCache>& defaultCache();

    // `key` followed by "@" and `identifier`, or `key` alone when the identifier is empty.
    static QString processedCacheKey(const QString& key, const QString& identifier);

    // Use `create`.
    ImageCache(std::shared_ptr<ImageStorage> memoryStorage, std::shared_ptr<DataStorage> diskStorage);
    virtual ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    const std::shared_ptr<ImageStorage>& memoryStorage() const { return m_memoryStorage; }
    const std::shared_ptr<DataStorage>& diskStorage() const { return m_diskStorage; }
    const std::shared_ptr<platform::DispatchQueue>& ioQueue() const { return m_ioQueue; }

    // Stores `image` in memory at once and, with `toDisk`, its serialized bytes on disk later; the
    // processor identifier, serializer, expirations and callback queue come from `options`.
    virtual void storeImage(std::shared_ptr<platform::Image> image, std::optional<QByteArray> original,
        const QString& key, const IrisParsedOptionsInfo& options, bool toDisk = true,
        StoreCompletion completion = {});
    virtual void storeImageForIdentifier(std::shared_ptr<platform::Image> image,
        std::optional<QByteArray> original, const QString& key, const QString& processorIdentifier = {},
        CacheSerializerPtr serializer = DefaultCacheSerializer::shared(), bool toDisk = true,
        CallbackQueue callbackQueue = CallbackQueue::untouch(), StoreCompletion completion = {});
    // Writes `data` on the I/O queue.
    virtual void writeDataToDisk(QByteArray data, const QString& key, const QString& processorIdentifier = {},
        std::optional<StorageExpiration> expiration = std::nullopt,
        CallbackQueue callbackQueue = CallbackQueue::untouch(), StoreCompletion completion = {});
    // Writes `data` on the calling thread.
    virtual void writeDataToDiskNow(const QByteArray& data, const QString& key,
        const QString& processorIdentifier, CallbackQueue callbackQueue,
        std::optional<StorageExpiration> expiration, DataWritingOptions writeOptions,
        StoreCompletion completion);
    virtual void removeEntry(const QString& key, const QString& processorIdentifier = {},
        bool fromMemory = true, bool fromDisk = true, CallbackQueue callbackQueue = CallbackQueue::untouch(),
        std::function<void()> completion = {});

    // Memory first, then (unless `fromMemoryCacheOrRefresh`) disk; a disk hit is put back into memory
    // before the completion runs. Without a completion nothing is read.
    virtual void lookUpImage(const QString& key, const IrisParsedOptionsInfo& options,
        CallbackQueue callbackQueue, LookUpCompletion completion);
    // The same with the options as a list of items (absent: all defaults).
    virtual void lookUpImageWithItems(const QString& key, const std::optional<IrisOptionsInfo>& items,
        CallbackQueue callbackQueue, LookUpCompletion completion);
    virtual std::shared_ptr<platform::Image> lookUpMemory(
        const QString& key, const IrisParsedOptionsInfo& options);
    virtual std::shared_ptr<platform::Image> lookUpMemoryWithItems(
        const QString& key, const std::optional<IrisOptionsInfo>& items);
    // On the I/O queue, or on the calling thread with `loadDiskFileSynchronously`.
    virtual void lookUpDisk(const QString& key, const IrisParsedOptionsInfo& options,
        CallbackQueue callbackQueue, DiskLookUpCompletion completion);
    virtual void lookUpDiskWithItems(const QString& key, const std::optional<IrisOptionsInfo>& items,
        CallbackQueue callbackQueue, DiskLookUpCompletion completion);

    // Maintenance. The disk completions and the clean notification run on the main queue.
    virtual void clearAll(std::function<void()> completion = {});
    virtual void clearMemoryCache();
    virtual void clearDisk(std::function<void()> completion = {});
    virtual void purgeExpired(std::function<void()> completion = {});
    virtual void purgeExpiredMemory();
    virtual void cleanExpiredDiskCache();
    // Removes expired files, then trims to the size limit, and announces what it removed. A folder
    // that cannot be listed ends the clean, and a file that cannot be removed is passed over; either
    // gives a line on standard error, what was removed is still announced and the completion runs.
    virtual void purgeExpiredDisk(std::function<void()> completion = {});

    // On the calling thread, the disk check included; a failing check counts as not cached.
    virtual CacheType cacheTypeOfKey(const QString& key, const QString& processorIdentifier = {});
    virtual bool containsKey(const QString& key, const QString& processorIdentifier = {});

    virtual QString fileNameForKey(const QString& key, const QString& processorIdentifier = {});
    virtual void measureDiskUsage(SizeCompletion completion);
    // The disk size, handed to `completion` on the main queue (by `measureDiskUsage`).
    virtual void diskStorageSize(SizeCompletion completion);
    // The path the key's file has (or would have).
    virtual QString filePathForKey(const QString& key, const QString& processorIdentifier = {});

    // Lets the disk work that is running end and drops what is still queued, for every cache made by
    // `create`; later disk work is dropped too. Called when the application object goes (so that no
    // encoder runs while the program's statics are torn down); a cache file is written under a
    // temporary name and renamed, so none is ever left half-written under its own name.
    static void stopAllDiskWork();

private:
    void startObservingResignActive();
    void stopDiskWorkAtExit();
    // Runs `work` on the I/O queue unless disk work has been stopped by then.
    void onIoQueue(std::function<void()> work);

    // The disk removals asked for that the I/O queue has not finished yet. Reads that skip the queue
    // (synchronous loads, the cached-type check) treat what they cover as gone already.
    class PendingDiskRemovals {
    public:
        void clearing();
        void cleared();
        void removingKey(const QString& key);
        void removedKey(const QString& key);
        bool covers(const QString& key) const;

    private:
        mutable std::mutex m_mutex;
        int m_clears = 0;
        std::multiset<QString> m_keys;
    };

    std::shared_ptr<ImageStorage> m_memoryStorage;
    std::shared_ptr<DataStorage> m_diskStorage;
    const std::shared_ptr<PendingDiskRemovals> m_pendingDiskRemovals
        = std::make_shared<PendingDiskRemovals>();
    std::shared_ptr<platform::DispatchQueue> m_ioQueue;
    std::atomic<bool> m_diskWorkStopped { false };
    // A clean of expired files is queued and has not started yet.
    std::atomic<bool> m_diskCleanQueued { false };
    platform::NotificationCenter::Token m_resignActiveToken;
};

struct ImageCache::TempProcessor final : ImageProcessor {
    explicit TempProcessor(QString identifier)
        : m_identifier(std::move(identifier))
    {
    }
    QString identifier() const override { return m_identifier; }
    std::shared_ptr<platform::Image> process(
        const ImageProcessItem&, const IrisParsedOptionsInfo&) const override
    {
        return nullptr;
    }

private:
    QString m_identifier;
};

} // namespace iris
