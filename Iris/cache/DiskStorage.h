#pragma once

#include "Iris/cache/CacheFileSystem.h"
#include "Iris/cache/StorageExpiration.h"
#include "Iris/general/IrisError.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Result.h"

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
#include <variant>
#include <vector>

namespace iris {

// What the disk storage requires of the values it holds; each stored type specialises it with
// `dataValue(const T&) -> Result<QByteArray, PlatformError>`,
// `valueFromData(const QByteArray&) -> Result<T, PlatformError>` and `emptyValue() -> T`.
template<typename T> struct DataTransformable;

template<> struct DataTransformable<QByteArray> {
    static platform::Result<QByteArray, platform::PlatformError> dataValue(const QByteArray& value)
    {
        return platform::Result<QByteArray, platform::PlatformError>::success(value);
    }
    static platform::Result<QByteArray, platform::PlatformError> valueFromData(const QByteArray& data)
    {
        return platform::Result<QByteArray, platform::PlatformError>::success(data);
    }
    static QByteArray emptyValue() { return {}; }
};

namespace DiskStorage {

// Operations that either fail as the library does or pass on the file system's own error.
using Error = std::variant<IrisError, platform::PlatformError>;

using CachePathBlock = std::function<QUrl(const QUrl& baseDirectory, const QString& cacheName)>;

// Appends the cache name to the base directory; empty (no folder: the storage is never ready) for a
// name that is not one folder name.
QUrl defaultCachePathBlock(const QUrl& baseDirectory, const QString& cacheName);

struct Config {
    Config(QString name, std::uint64_t sizeLimit,
        std::shared_ptr<CacheFileSystem> fileManager = CacheFileSystem::defaultFileSystem(),
        std::optional<QUrl> directory = std::nullopt)
        : sizeLimit(sizeLimit)
        , name(std::move(name))
        , fileManager(std::move(fileManager))
        , directory(std::move(directory))
    {
    }

    std::uint64_t sizeLimit; // 0: no limit
    StorageExpiration expiration = StorageExpiration::days(7);
    std::optional<QString> pathExtension;
    bool usesHashedFileName = true;
    bool autoExtAfterHashedFileName = false;
    CachePathBlock cachePathBlock = defaultCachePathBlock;
    QString name;
    std::shared_ptr<CacheFileSystem> fileManager;
    std::optional<QUrl> directory; // absent: the user's cache folder
};

// Where a configuration puts its folder.
struct Creation {
    explicit Creation(const Config& config);

    QUrl directoryURL; // empty when no folder can be computed
    QString cacheName;
};

// Which facts a FileMeta is read with; the others stay absent.
enum class ResourceKey : unsigned {
    isDirectory = 1,
    creationDate = 2, // the last access, which only the cache records (CacheFileSystem::lastAccessDate)
    contentModificationDate = 4, // the estimated expiry, kept in the modification time
    fileSize = 8,
};
constexpr ResourceKey operator|(ResourceKey a, ResourceKey b)
{
    return ResourceKey(unsigned(a) | unsigned(b));
}

struct FileMeta {
    // Reads the facts `keys` name for the entry at `url`.
    static platform::Result<FileMeta, platform::PlatformError> read(
        CacheFileSystem& fileManager, const QUrl& url, ResourceKey keys);

    QUrl url;
    std::optional<platform::Date> lastAccessDate;
    std::optional<platform::Date> estimatedExpirationDate;
    bool isDirectory = false;
    // Whether the entry is a plain file; only such entries are ever cleaned or trimmed.
    bool isRegularFile = false;
    std::int64_t fileSize = 0;

    // True when there is no expiry date or it is not after `referenceDate`.
    bool isExpiredAt(platform::Date referenceDate) const;
};

// The disk storage over bytes; `Backend<T>` adds the conversion to and from a value type.
class BackendBase {
public:
    BackendBase(const BackendBase&) = delete;
    BackendBase& operator=(const BackendBase&) = delete;
    virtual ~BackendBase() = default;

    // A copy of the configuration (its `cachePathBlock` is always cleared).
    Config config() const;
    void setConfig(Config config);

    const QUrl& directoryURL() const { return m_directoryURL; }
    bool isStorageReady() const { return m_storageReady.load(); }

    // Creates the folder when nothing is at its path. A failure makes the storage not ready for
    // good.
    platform::Result<platform::Success, IrisError> createDirectoryIfMissing();

    platform::Result<platform::Success, IrisError> storeData(const QByteArray& data, const QString& key,
        std::optional<StorageExpiration> expiration = std::nullopt, DataWritingOptions options = {});

    // The bytes of a live entry (empty bytes with `load` off); nothing for a missing or expired one.
    platform::Result<std::optional<QByteArray>, IrisError> readData(
        const QString& key, platform::Date referenceDate, bool load, ExpirationExtending extending);

    bool containsValue(const QString& key, platform::Date referenceDate = platform::Date::now());

    platform::Result<platform::Success, platform::PlatformError> removeFileForKey(const QString& key);
    platform::Result<platform::Success, platform::PlatformError> removeFileAtURL(const QUrl& url);
    // Removes the whole folder, and makes it again unless asked not to. Like the two cleanings below,
    // it refuses (with EPERM) a folder the storage did not make for itself and that does not carry
    // the cache's name: a path callback that names an existing folder never has it emptied.
    platform::Result<platform::Success, Error> removeAllFiles(bool skipCreatingDirectory = false);

    QUrl fileURLForKey(const QString& key) const;
    QString fileNameForKey(const QString& key) const;

    platform::Result<std::vector<QUrl>, IrisError> listFileURLs(ResourceKey keys) const;
    platform::Result<std::vector<QUrl>, Error> removeExpiredFiles(
        platform::Date referenceDate = platform::Date::now());
    platform::Result<std::vector<QUrl>, Error> trimToSizeLimit();
    platform::Result<std::uint64_t, IrisError> totalFileSize() const;

    // What a clean removed: the expired files, then those trimmed to the size limit. A failure to
    // check or list the folder ends the clean; a file that cannot be removed is passed over and the
    // clean goes on with the next. `error` then says what failed first.
    struct CleanedFiles {
        std::vector<QUrl> expired;
        std::vector<QUrl> trimmed;
        std::optional<Error> error;
    };
    // `removeExpiredFiles` followed by `trimToSizeLimit`, from one walk of the folder: the sizes,
    // expiry and last-access dates are read once per file.
    CleanedFiles removeExpiredFilesAndTrim(platform::Date referenceDate = platform::Date::now());

    // Waits until the queued name listing and name updates have run (for callers that must observe
    // the name set settled, such as tests and benchmarks).
    void waitForPendingNameUpdates() const;
    // Waits until the queued date updates of earlier reads have run.
    void waitForPendingDateUpdates() const;
    // How many names the set of names that may be cached holds once the queued updates have run;
    // nothing while the set is absent. For tests and benchmarks that watch it stay bounded.
    std::optional<std::size_t> maybeCachedNameCount() const;

protected:
    BackendBase(Config config, bool createDirectory);

private:
    // A name missing from a present set means its file is surely absent; a name in it only that the
    // file may be there. A store adds its name after its file is in place; a removal drops the name
    // in the same turn of the checking queue as it removes the file, so a store that writes the file
    // again afterwards has its insert queued after the drop. Removing the whole folder lists it anew.
    // A read that finds a listed file deleted from outside has the name dropped later, on the queue.
    struct NameSet {
        std::optional<std::set<QString>> names; // touched only on the checking queue
        std::atomic<int> listingsQueued { 0 }; // listings of the folder queued and not yet over
    };

    void loadCachedNames();
    // Drops `name` from the set once the checking queue finds its file still gone.
    void forgetNameIfGone(std::shared_ptr<CacheFileSystem> fileManager, const QString& name);
    // Every removal the storage makes goes through here, so that the name set forgets what is gone.
    platform::Result<platform::Success, platform::PlatformError> removeItemAndName(
        CacheFileSystem& fileManager, const QString& path);
    enum class CleanSteps { removeExpired = 1, trim = 2, both = 3 };
    CleanedFiles clean(platform::Date referenceDate, CleanSteps steps);
    platform::Result<platform::Success, platform::PlatformError> checkOwnFolder() const;
    QString directoryPath() const { return m_directoryPath; }
    QString pathForName(const QString& name) const { return m_directoryPath + QLatin1Char('/') + name; }
    static QString pathOf(const QUrl& url) { return url.toLocalFile(); }

    // The configuration is replaced whole and read as a snapshot, so a read never waits on a writer
    // and never sees half a change.
    std::shared_ptr<const Config> currentConfig() const;
    QString fileNameForKey(const QString& key, const Config& config) const;

    mutable std::mutex m_configMutex;
    std::shared_ptr<const Config> m_config;
    QUrl m_directoryURL;
    QString m_directoryPath;
    QString m_cacheName;
    std::shared_ptr<platform::DispatchQueue> m_metaChangingQueue;
    std::shared_ptr<NameSet> m_maybeCached;
    std::shared_ptr<platform::DispatchQueue> m_maybeCachedCheckingQueue;
    std::atomic<bool> m_storageReady { true };
};

// One file per key in one folder; each file's expiry is its modification time and its last access a
// record the cache keeps beside it (CacheFileSystem::lastAccessDate), and
// the set of names known to be there answers most misses without touching the disk.
template<typename T> class Backend final : public BackendBase {
public:
    Backend(Config config, bool createDirectory = true)
        : BackendBase(std::move(config), createDirectory)
    {
    }

    // Makes a backend and its folder; fails when the folder cannot be created.
    static platform::Result<std::shared_ptr<Backend>, IrisError> initThrowing(Config config)
    {
        auto backend = std::make_shared<Backend>(std::move(config), false);
        auto created = backend->createDirectoryIfMissing();
        if (created.isFailure())
            return platform::Result<std::shared_ptr<Backend>, IrisError>::failure(created.error());
        return platform::Result<std::shared_ptr<Backend>, IrisError>::success(std::move(backend));
    }

    platform::Result<platform::Success, IrisError> storeValue(const T& value, const QString& key,
        std::optional<StorageExpiration> expiration = std::nullopt, DataWritingOptions options = {})
    {
        using StoreResult = platform::Result<platform::Success, IrisError>;
        if (!isStorageReady())
            return StoreResult::failure(
                IrisError::cacheError(IrisError::CacheErrorReason::diskStorageIsNotReady(directoryURL())));
        if (!expiration && config().expiration.isExpired())
            return StoreResult::success({});
        if (expiration && expiration->isExpired())
            return StoreResult::success({});
        auto data = DataTransformable<T>::dataValue(value);
        if (data.isFailure())
            return StoreResult::failure(
                IrisError::cacheError(IrisError::CacheErrorReason::cannotConvertToData(
                    ErrorAnyValue { value, QStringLiteral("value for key ") + key }, data.error())));
        return storeData(data.value(), key, expiration, options);
    }

    platform::Result<std::optional<T>, IrisError> readValue(
        const QString& key, platform::Date referenceDate, bool load, ExpirationExtending extending)
    {
        using ReadResult = platform::Result<std::optional<T>, IrisError>;
        auto data = readData(key, referenceDate, load, extending);
        if (data.isFailure())
            return ReadResult::failure(data.error());
        if (!data.value())
            return ReadResult::success(std::nullopt);
        if (!load)
            return ReadResult::success(DataTransformable<T>::emptyValue());
        auto value = DataTransformable<T>::valueFromData(*data.value());
        if (value.isFailure())
            return ReadResult::failure(IrisError::cacheError(
                IrisError::CacheErrorReason::cannotLoadDataFromDisk(fileURLForKey(key), value.error())));
        return ReadResult::success(std::move(value).value());
    }

    platform::Result<std::optional<T>, IrisError> readValue(
        const QString& key, ExpirationExtending extending = ExpirationExtending::cacheTime())
    {
        return readValue(key, platform::Date::now(), true, extending);
    }
};

} // namespace DiskStorage

} // namespace iris
