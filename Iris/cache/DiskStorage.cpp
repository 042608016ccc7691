#include "Iris/cache/DiskStorage.h"

#include "Iris/general/IrisNames.h"
#include "Iris/utility/MD5.h"
#include "Iris/utility/StringHelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>

namespace iris::DiskStorage {

namespace {

using platform::Date;
using platform::PlatformError;
using platform::Success;
using CacheErrorReason = IrisError::CacheErrorReason;

// A file is written under its name followed by the temporary suffix first, and that name too must
// fit in the file system's 255 bytes.
constexpr qsizetype maximumFileNameBytes = 255 - qsizetype(sizeof(temporaryFileSuffix) - 1);
// Left (hidden, so never listed for cleaning) in a folder the storage made itself.
const QString ownFolderMarker = QStringLiteral(".iris-disk-storage");
constexpr qsizetype maximumAutomaticExtensionLength = 16;
// How long a temporary file of a write stays untouched by cleans after its last change. A write
// changes its file all the way to the rename (bytes, dates, last-access record); one left this long
// was abandoned by a program that stopped.
constexpr double writeInProgressSeconds = 60;

bool has(ResourceKey keys, ResourceKey key)
{
    return (unsigned(keys) & unsigned(key)) != 0;
}

// File times hold whole seconds: both dates are rounded up, so a value stored part-way through a
// second never looks older than it is.
Date roundedUpToWholeSecond(Date date)
{
    return Date::fromUnixSeconds(std::ceil(date.timeIntervalSince1970()));
}

// The three bytes a lone UTF-16 surrogate takes when encoded as if it were a character. UTF-8 has no
// form for it, and Qt's encoder writes "?" instead, so that "a?" and "a" followed by any lone
// surrogate would share one file; these bytes never occur in valid UTF-8.
QByteArray loneSurrogateBytes(QChar surrogate)
{
    const char16_t unit = surrogate.unicode();
    const char bytes[]
        = { char(0xe0 | (unit >> 12)), char(0x80 | ((unit >> 6) & 0x3f)), char(0x80 | (unit & 0x3f)) };
    return QByteArray(bytes, sizeof bytes);
}

bool isLoneSurrogate(const QString& text, qsizetype at)
{
    const QChar character = text.at(at);
    if (character.isHighSurrogate())
        return at + 1 >= text.size() || !text.at(at + 1).isLowSurrogate();
    if (character.isLowSurrogate())
        return at == 0 || !text.at(at - 1).isHighSurrogate();
    return false;
}

// The bytes a key's digest is taken over: its UTF-8, with each lone surrogate as its own three bytes.
// A key of whole characters hashes as it always has.
QByteArray digestInput(const QString& key)
{
    QByteArray bytes;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < key.size(); ++i) {
        if (!isLoneSurrogate(key, i))
            continue;
        bytes += QStringView(key).sliced(runStart, i - runStart).toUtf8();
        bytes += loneSurrogateBytes(key.at(i));
        runStart = i + 1;
    }
    if (runStart == 0)
        return key.toUtf8();
    return bytes + QStringView(key).sliced(runStart).toUtf8();
}

// Makes `text` safe as (part of) one file name: no separator, no NUL, no lone surrogate (which the
// file name encoding would turn into "?"), and "%" escaped so that two different texts never give the
// same name. A leading dot is escaped when asked, so that no name is hidden, "." or "..".
QString escapedNameComponent(const QString& text, bool escapeLeadingDot)
{
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar character = text.at(i);
        if (isLoneSurrogate(text, i)) {
            for (char byte : loneSurrogateBytes(character))
                escaped += QLatin1Char('%') + QString::number(quint8(byte), 16).toUpper();
            continue;
        }
        if (character == QLatin1Char('%'))
            escaped += QStringLiteral("%25");
        else if (character == QLatin1Char('/'))
            escaped += QStringLiteral("%2F");
        else if (character == QChar(0))
            escaped += QStringLiteral("%00");
        else if (i == 0 && escapeLeadingDot && character == QLatin1Char('.'))
            escaped += QStringLiteral("%2E");
        else
            escaped += character;
    }
    return escaped;
}

// Only a short alphanumeric extension taken from a key is put after a hashed name.
bool isUsableAutomaticExtension(const QString& extension)
{
    if (extension.isEmpty() || extension.size() > maximumAutomaticExtensionLength)
        return false;
    return std::all_of(extension.begin(), extension.end(),
        [](QChar character) { return character.unicode() < 128 && character.isLetterOrNumber(); });
}

QString hashedFileName(const QString& key, const Config& config)
{
    QString base = QString::fromLatin1(MD5::hexDigest(digestInput(key)));
    if (config.pathExtension)
        return base + QLatin1Char('.') + escapedNameComponent(*config.pathExtension, false);
    if (config.autoExtAfterHashedFileName) {
        std::optional<QString> extension = fileExtension(key);
        if (extension && isUsableAutomaticExtension(*extension))
            return base + QLatin1Char('.') + *extension;
    }
    return base;
}

// Whether `path` is the temporary file of a write that may still be going on, here or in another copy
// of the program: such a file looks expired (its dates are set last) but is about to take its name.
bool isWriteInProgress(QStringView path, const platform::FileStatus& status, Date referenceDate)
{
    if (status.changeDate.timeIntervalSince(referenceDate) <= -writeInProgressSeconds)
        return false;
    // The suffix's "XXXXXX" becomes six characters of the file's own.
    constexpr qsizetype suffixLength = sizeof(temporaryFileSuffix) - 1;
    constexpr QLatin1String marker(temporaryFileSuffix, suffixLength - 6);
    return path.size() > suffixLength && path.sliced(path.size() - suffixLength, marker.size()) == marker;
}

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max()
                                                             : a + b;
}

std::uint64_t saturatingSubtract(std::uint64_t a, std::uint64_t b)
{
    return b > a ? 0 : a - b;
}

std::uint64_t sizeOf(const FileMeta& meta)
{
    return meta.fileSize > 0 ? static_cast<std::uint64_t>(meta.fileSize) : 0;
}

QVariant dateAttribute(Date date)
{
    double seconds = date.timeIntervalSince1970();
    if (!std::isfinite(seconds))
        return QString::number(seconds);
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::clamp(seconds, -1e15, 1e15)), Qt::UTC)
        .toString(Qt::ISODate);
}

// A removal of an entry that is already gone has done what was asked.
bool isAlreadyGone(const PlatformError& error)
{
    return error.domain == PlatformError::posixDomain && error.code == ENOENT;
}

// Whether a removal has left nothing at `path`. A folder's removal can fail with ENOENT part-way (an
// entry inside went meanwhile) and leave the rest, so that error alone does not say.
bool isGoneAfterRemoval(CacheFileSystem& fileManager, const QString& path,
    const platform::Result<Success, PlatformError>& removed)
{
    return removed.isSuccess() || (isAlreadyGone(removed.error()) && !fileManager.fileExists(path));
}

// The access and expiry dates a read with `extending` gives the file, counted from now; nothing
// when the read leaves them alone.
std::optional<std::pair<Date, Date>> extendedDates(const FileMeta& meta, const ExpirationExtending& extending)
{
    if (!meta.lastAccessDate || !meta.estimatedExpirationDate)
        return std::nullopt;
    StorageExpiration expiration = StorageExpiration::never();
    switch (extending.kind()) {
    case ExpirationExtending::Kind::none:
        return std::nullopt;
    case ExpirationExtending::Kind::cacheTime:
        expiration = StorageExpiration::seconds(
            meta.estimatedExpirationDate->timeIntervalSince(*meta.lastAccessDate));
        break;
    case ExpirationExtending::Kind::expirationTime:
        expiration = extending.expiration();
        break;
    }
    return std::pair(roundedUpToWholeSecond(Date::now()),
        roundedUpToWholeSecond(expiration.estimatedExpirationSinceNow()));
}

void extendDates(CacheFileSystem& fileManager, const FileMeta& meta, const ExpirationExtending& extending)
{
    // This runs after the read returned. A file gone meanwhile has nothing to extend; one dated anew
    // since (stored again, or extended by a later read) keeps the lifetime it was given then.
    if (auto dates = extendedDates(meta, extending))
        (void)fileManager.setDatesIfUnchanged(
            meta.url.toLocalFile(), *meta.estimatedExpirationDate, dates->first, dates->second);
}

} // namespace

QUrl defaultCachePathBlock(const QUrl& baseDirectory, const QString& cacheName)
{
    // A name with a slash would put the folder elsewhere ("../.." climbs out of the base folder), and
    // the cache would write its files, and clean, there: such a name gives no folder at all.
    if (cacheName.contains(QLatin1Char('/')) || cacheName.contains(QChar(0)))
        return {};
    return QUrl::fromLocalFile(QDir(baseDirectory.toLocalFile()).filePath(cacheName));
}

Creation::Creation(const Config& config)
    : cacheName(irisName(QStringLiteral("ImageCache.") + config.name))
{
    QUrl base;
    if (config.directory) {
        base = *config.directory;
    } else {
        QString caches = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (!caches.isEmpty())
            base = QUrl::fromLocalFile(caches);
    }
    if (base.isEmpty() || !base.isLocalFile())
        return;
    directoryURL = config.cachePathBlock ? config.cachePathBlock(base, cacheName)
                                         : defaultCachePathBlock(base, cacheName);
}

platform::Result<FileMeta, PlatformError> FileMeta::read(
    CacheFileSystem& fileManager, const QUrl& url, ResourceKey keys)
{
    auto status = fileManager.status(url.toLocalFile());
    if (status.isFailure())
        return platform::Result<FileMeta, PlatformError>::failure(status.error());
    const platform::FileStatus& info = status.value();
    FileMeta meta;
    meta.url = url;
    meta.isRegularFile = info.type == platform::FileStatus::Type::regular;
    if (has(keys, ResourceKey::isDirectory))
        meta.isDirectory = info.type == platform::FileStatus::Type::directory;
    if (has(keys, ResourceKey::creationDate))
        meta.lastAccessDate = fileManager.lastAccessDate(url.toLocalFile(), info);
    if (has(keys, ResourceKey::contentModificationDate))
        meta.estimatedExpirationDate = info.modificationDate;
    if (has(keys, ResourceKey::fileSize) && meta.isRegularFile)
        meta.fileSize = info.size;
    return platform::Result<FileMeta, PlatformError>::success(std::move(meta));
}

bool FileMeta::isExpiredAt(Date referenceDate) const
{
    return !estimatedExpirationDate || estimatedExpirationDate->timeIntervalSince(referenceDate) <= 0;
}

BackendBase::BackendBase(Config config, bool createDirectory)
    : m_maybeCached(std::make_shared<NameSet>())
    , m_maybeCachedCheckingQueue(platform::DispatchQueue::makeSerial(
          irisName(QStringLiteral("maybeCachedCheckingQueue")).toStdString()))
{
    Creation creation(config);
    m_directoryURL = creation.directoryURL;
    m_directoryPath = m_directoryURL.isEmpty() ? QString() : QDir::cleanPath(m_directoryURL.toLocalFile());
    m_cacheName = creation.cacheName;
    config.cachePathBlock = nullptr;
    m_config = std::make_shared<const Config>(std::move(config));
    m_metaChangingQueue = platform::DispatchQueue::makeSerial(creation.cacheName.toStdString());
    if (m_directoryURL.isEmpty())
        m_storageReady = false;
    loadCachedNames();
    if (createDirectory)
        (void)createDirectoryIfMissing();
}

std::shared_ptr<const Config> BackendBase::currentConfig() const
{
    std::lock_guard lock(m_configMutex);
    return m_config;
}

Config BackendBase::config() const
{
    return *currentConfig();
}

void BackendBase::setConfig(Config config)
{
    config.cachePathBlock = nullptr;
    auto replacement = std::make_shared<const Config>(std::move(config));
    std::lock_guard lock(m_configMutex);
    m_config.swap(replacement);
}

void BackendBase::loadCachedNames()
{
    ++m_maybeCached->listingsQueued;
    m_maybeCachedCheckingQueue->async(
        [names = m_maybeCached, fileManager = currentConfig()->fileManager, path = directoryPath()] {
            names->names = std::set<QString>();
            auto listed = path.isEmpty()
                ? platform::Result<QStringList, PlatformError>::failure(PlatformError::fromErrno(ENOENT))
                : fileManager->contentsOfDirectory(path);
            if (listed.isFailure()) {
                names->names.reset();
            } else {
                for (const QString& name : listed.value())
                    names->names->insert(name);
            }
            --names->listingsQueued;
        });
}

platform::Result<Success, IrisError> BackendBase::createDirectoryIfMissing()
{
    using CreateResult = platform::Result<Success, IrisError>;
    const QString path = directoryPath();
    if (path.isEmpty()) {
        m_storageReady = false;
        return CreateResult::failure(IrisError::cacheError(CacheErrorReason::cannotCreateDirectory(
            path, PlatformError::fromErrno(ENOENT, QStringLiteral("no cache folder")))));
    }
    std::shared_ptr<CacheFileSystem> fileManager = currentConfig()->fileManager;
    if (fileManager->fileExists(path))
        return CreateResult::success({});
    auto created = fileManager->createDirectory(path);
    if (created.isFailure()) {
        m_storageReady = false;
        return CreateResult::failure(
            IrisError::cacheError(CacheErrorReason::cannotCreateDirectory(path, created.error())));
    }
    // Without the marker the folder could not be cleared later; the cache works all the same.
    (void)fileManager->writeFile(pathForName(ownFolderMarker), QByteArray(), DataWritingOptions {});
    return CreateResult::success({});
}

platform::Result<Success, PlatformError> BackendBase::checkOwnFolder() const
{
    const QString path = directoryPath();
    if (!path.isEmpty()
        && (QFileInfo(path).fileName() == m_cacheName
            || currentConfig()->fileManager->fileExists(pathForName(ownFolderMarker))))
        return platform::Result<Success, PlatformError>::success({});
    return platform::Result<Success, PlatformError>::failure(PlatformError::fromErrno(
        EPERM, path + QStringLiteral(" (not a folder this cache made, nor one named after it)")));
}

platform::Result<Success, IrisError> BackendBase::storeData(const QByteArray& data, const QString& key,
    std::optional<StorageExpiration> expiration, DataWritingOptions options)
{
    using StoreResult = platform::Result<Success, IrisError>;
    if (!isStorageReady())
        return StoreResult::failure(
            IrisError::cacheError(CacheErrorReason::diskStorageIsNotReady(m_directoryURL)));
    const std::shared_ptr<const Config> current = currentConfig();
    const StorageExpiration resolved = expiration.value_or(current->expiration);
    if (resolved.isExpired())
        return StoreResult::success({});

    const QString name = fileNameForKey(key, *current);
    const QString path = pathForName(name);
    const QUrl fileURL = QUrl::fromLocalFile(path);
    CacheFileSystem& fileManager = *current->fileManager;
    const Date accessDate = roundedUpToWholeSecond(Date::now());
    const Date expirationDate = roundedUpToWholeSecond(resolved.estimatedExpirationSinceNow());
    // The file takes its name with its dates already set. Undated, a reader could find it expired,
    // or live with a lifetime of nothing, and extend it to that after the dates below were written.
    std::optional<PlatformError> datesFailure;
    const auto write = [&] {
        datesFailure.reset();
        return fileManager.writeFile(path, data, options, [&](const QString& temporaryPath) {
            auto dated = fileManager.setDates(temporaryPath, accessDate, expirationDate);
            if (dated.isFailure())
                datesFailure = dated.error();
            return dated;
        });
    };
    auto written = write();
    if (written.isFailure() && written.error().domain == PlatformError::posixDomain
        && written.error().code == ENOENT) {
        auto created = createDirectoryIfMissing();
        if (created.isFailure()) {
            const CacheErrorReason* reason = created.error().cacheReason();
            return StoreResult::failure(IrisError::cacheError(CacheErrorReason::cannotCreateCacheFile(
                fileURL, key, data, reason ? reason->error : PlatformError {})));
        }
        written = write();
    }
    if (written.isFailure() && datesFailure) {
        // Nothing took the key's name: a file stored before stays as it was.
        std::map<QString, QVariant> attributes { { QStringLiteral("accessDate"), dateAttribute(accessDate) },
            { QStringLiteral("modificationDate"), dateAttribute(expirationDate) } };
        return StoreResult::failure(IrisError::cacheError(
            CacheErrorReason::cannotSetCacheFileAttribute(path, std::move(attributes), *datesFailure)));
    }
    if (written.isFailure())
        return StoreResult::failure(IrisError::cacheError(
            CacheErrorReason::cannotCreateCacheFile(fileURL, key, data, written.error())));

    m_maybeCachedCheckingQueue->async([names = m_maybeCached, name] {
        if (names->names)
            names->names->insert(name);
    });
    return StoreResult::success({});
}

platform::Result<std::optional<QByteArray>, IrisError> BackendBase::readData(
    const QString& key, Date referenceDate, bool load, ExpirationExtending extending)
{
    using ReadResult = platform::Result<std::optional<QByteArray>, IrisError>;
    if (!isStorageReady())
        return ReadResult::failure(
            IrisError::cacheError(CacheErrorReason::diskStorageIsNotReady(m_directoryURL)));

    const std::shared_ptr<const Config> current = currentConfig();
    const QString name = fileNameForKey(key, *current);
    bool knownAbsent = false;
    bool listed = false;
    // While the folder is being listed the file system answers: listing a large cache takes long, and
    // the caller is often the main thread. The checking queue is never the caller's own: a read is
    // never queued on it.
    if (m_maybeCached->listingsQueued == 0) {
        m_maybeCachedCheckingQueue->sync([&] {
            listed = m_maybeCached->names && m_maybeCached->names->contains(name);
            knownAbsent = m_maybeCached->names && !listed;
        });
    }
    if (knownAbsent)
        return ReadResult::success(std::nullopt);

    CacheFileSystem& fileManager = *current->fileManager;
    const QString path = pathForName(name);
    auto isGone = [&](const PlatformError& error) {
        if (!isAlreadyGone(error) && error.code != ENOTDIR)
            return false;
        if (listed)
            forgetNameIfGone(current->fileManager, name);
        return true;
    };
    auto metaOf = [](const platform::FileStatus& status) {
        FileMeta meta;
        meta.lastAccessDate = status.accessDate;
        meta.estimatedExpirationDate = status.modificationDate;
        return meta;
    };

    if (!load) {
        auto status = fileManager.status(path);
        if (status.isFailure()) {
            if (isGone(status.error()))
                return ReadResult::success(std::nullopt);
            return ReadResult::failure(IrisError::cacheError(
                CacheErrorReason::invalidURLResource(status.error(), key, QUrl::fromLocalFile(path))));
        }
        if (metaOf(status.value()).isExpiredAt(referenceDate))
            return ReadResult::success(std::nullopt);
        return ReadResult::success(QByteArray());
    }

    // One open answers whether the file is there, what its dates are and, when it is live, what it
    // holds. An expired file is left in place unread.
    bool statusRead = false;
    auto contents = fileManager.readFileIfAccepted(path, [&](const platform::FileStatus& status) {
        statusRead = true;
        return !metaOf(status).isExpiredAt(referenceDate);
    });
    if (contents.isFailure()) {
        if (isGone(contents.error()))
            return ReadResult::success(std::nullopt);
        // Failing to open or describe the entry is a bad resource; failing to read its bytes is a
        // failed load.
        if (!statusRead)
            return ReadResult::failure(IrisError::cacheError(
                CacheErrorReason::invalidURLResource(contents.error(), key, QUrl::fromLocalFile(path))));
        return ReadResult::failure(IrisError::cacheError(
            CacheErrorReason::cannotLoadDataFromDisk(QUrl::fromLocalFile(path), contents.error())));
    }
    if (!contents.value().data)
        return ReadResult::success(std::nullopt);
    FileMeta meta = metaOf(contents.value().status);
    if (extending.kind() != ExpirationExtending::Kind::none)
        meta.lastAccessDate = fileManager.lastAccessDate(path, contents.value());
    QByteArray data = std::move(*contents.value().data);

    // Reads within the same second would write the very dates the file has; they queue nothing.
    auto dates = extendedDates(meta, extending);
    if (dates && (dates->first != meta.lastAccessDate || dates->second != meta.estimatedExpirationDate)) {
        m_metaChangingQueue->async([fileManager = current->fileManager, meta, path, extending]() mutable {
            meta.url = QUrl::fromLocalFile(path);
            extendDates(*fileManager, meta, extending);
        });
    }
    return ReadResult::success(std::move(data));
}

void BackendBase::forgetNameIfGone(std::shared_ptr<CacheFileSystem> fileManager, const QString& name)
{
    // Another program deleted the file. The read that found it gone does not wait for the queue; the
    // look on the queue sees a store that wrote the file again since, whose insert may already
    // have run, and keeps the name then.
    m_maybeCachedCheckingQueue->async(
        [names = m_maybeCached, fileManager = std::move(fileManager), name, path = pathForName(name)] {
            if (names->names && names->names->contains(name) && !fileManager->fileExists(path))
                names->names->erase(name);
        });
}

bool BackendBase::containsValue(const QString& key, Date referenceDate)
{
    auto result = readData(key, referenceDate, false, ExpirationExtending::none());
    return result.isSuccess() && result.value().has_value();
}

platform::Result<Success, PlatformError> BackendBase::removeFileForKey(const QString& key)
{
    return removeFileAtURL(fileURLForKey(key));
}

platform::Result<Success, PlatformError> BackendBase::removeFileAtURL(const QUrl& url)
{
    // Only what lies strictly inside the cache folder may be removed, whatever URL is handed in.
    const QString directory = QDir::cleanPath(directoryPath());
    const QString path = QDir::cleanPath(pathOf(url));
    if (directory.isEmpty() || !url.isLocalFile() || !path.startsWith(directory + QLatin1Char('/')))
        return platform::Result<Success, PlatformError>::failure(
            PlatformError::fromErrno(EPERM, path + QStringLiteral(" (outside the cache folder)")));
    return removeItemAndName(*currentConfig()->fileManager, path);
}

platform::Result<Success, PlatformError> BackendBase::removeItemAndName(
    CacheFileSystem& fileManager, const QString& path)
{
    // Only an entry directly in the folder has its name in the set; a file of the same name in a
    // subfolder is another file.
    const qsizetype nameStart = m_directoryPath.size() + 1;
    const bool inFolderItself
        = path.size() > nameStart && path.lastIndexOf(QLatin1Char('/')) == nameStart - 1;
    std::optional<platform::Result<Success, PlatformError>> removed;
    m_maybeCachedCheckingQueue->sync([&] {
        removed = fileManager.removeItem(path);
        if (inFolderItself && m_maybeCached->names && isGoneAfterRemoval(fileManager, path, *removed))
            m_maybeCached->names->erase(path.mid(nameStart));
    });
    return std::move(*removed);
}

platform::Result<Success, Error> BackendBase::removeAllFiles(bool skipCreatingDirectory)
{
    using RemoveResult = platform::Result<Success, Error>;
    if (auto own = checkOwnFolder(); own.isFailure())
        return RemoveResult::failure(own.error());
    // Until the folder has been listed again every read asks the file system. Holding the checking
    // queue for a whole folder's removal would stall every read meanwhile; names dropped before the
    // files go could be missing while a file is still there (the removal may fail part-way), and
    // names dropped after could lose a store made in between.
    m_maybeCachedCheckingQueue->async([names = m_maybeCached] { names->names.reset(); });
    auto removed = currentConfig()->fileManager->removeItem(directoryPath());
    std::optional<IrisError> notCreated;
    if (removed.isSuccess() && !skipCreatingDirectory) {
        auto created = createDirectoryIfMissing();
        if (created.isFailure())
            notCreated = created.error();
    }
    loadCachedNames();
    if (removed.isFailure())
        return RemoveResult::failure(removed.error());
    if (notCreated)
        return RemoveResult::failure(*notCreated);
    return RemoveResult::success({});
}

QUrl BackendBase::fileURLForKey(const QString& key) const
{
    return QUrl::fromLocalFile(pathForName(fileNameForKey(key)));
}

QString BackendBase::fileNameForKey(const QString& key) const
{
    return fileNameForKey(key, *currentConfig());
}

QString BackendBase::fileNameForKey(const QString& key, const Config& current) const
{
    if (current.usesHashedFileName)
        return hashedFileName(key, current);
    QString name = escapedNameComponent(key, true);
    if (current.pathExtension)
        name += QLatin1Char('.') + escapedNameComponent(*current.pathExtension, false);
    // A key that cannot be a file name of its own is named by its digest instead.
    if (key.isEmpty() || name.toUtf8().size() > maximumFileNameBytes)
        return hashedFileName(key, current);
    return name;
}

platform::Result<std::vector<QUrl>, IrisError> BackendBase::listFileURLs(ResourceKey) const
{
    using ListResult = platform::Result<std::vector<QUrl>, IrisError>;
    auto listing = currentConfig()->fileManager->enumerate(directoryPath());
    if (listing.isFailure())
        return ListResult::failure(
            IrisError::cacheError(CacheErrorReason::fileEnumeratorCreationFailed(m_directoryURL)));
    if (listing.value().brokenListing)
        return ListResult::failure(
            IrisError::cacheError(CacheErrorReason::invalidFileEnumeratorContent(m_directoryURL)));
    std::vector<QUrl> urls;
    urls.reserve(listing.value().paths.size());
    for (const QString& path : listing.value().paths)
        urls.push_back(QUrl::fromLocalFile(path));
    return ListResult::success(std::move(urls));
}

platform::Result<std::uint64_t, IrisError> BackendBase::totalFileSize() const
{
    using SizeResult = platform::Result<std::uint64_t, IrisError>;
    auto listed = listFileURLs(ResourceKey::fileSize);
    if (listed.isFailure())
        return SizeResult::failure(listed.error());
    std::shared_ptr<CacheFileSystem> fileManager = currentConfig()->fileManager;
    std::uint64_t total = 0;
    for (const QUrl& url : listed.value()) {
        auto meta = FileMeta::read(*fileManager, url, ResourceKey::fileSize);
        if (meta.isSuccess())
            total = saturatingAdd(total, sizeOf(meta.value()));
    }
    return SizeResult::success(total);
}

platform::Result<std::vector<QUrl>, Error> BackendBase::removeExpiredFiles(Date referenceDate)
{
    CleanedFiles cleaned = clean(referenceDate, CleanSteps::removeExpired);
    if (cleaned.error)
        return platform::Result<std::vector<QUrl>, Error>::failure(*cleaned.error);
    return platform::Result<std::vector<QUrl>, Error>::success(std::move(cleaned.expired));
}

platform::Result<std::vector<QUrl>, Error> BackendBase::trimToSizeLimit()
{
    CleanedFiles cleaned = clean(Date::now(), CleanSteps::trim);
    if (cleaned.error)
        return platform::Result<std::vector<QUrl>, Error>::failure(*cleaned.error);
    return platform::Result<std::vector<QUrl>, Error>::success(std::move(cleaned.trimmed));
}

BackendBase::CleanedFiles BackendBase::removeExpiredFilesAndTrim(Date referenceDate)
{
    return clean(referenceDate, CleanSteps::both);
}

BackendBase::CleanedFiles BackendBase::clean(Date referenceDate, CleanSteps steps)
{
    const bool removeExpired = (unsigned(steps) & unsigned(CleanSteps::removeExpired)) != 0;
    const std::shared_ptr<const Config> current = currentConfig();
    const std::uint64_t sizeLimit = (unsigned(steps) & unsigned(CleanSteps::trim)) ? current->sizeLimit : 0;
    CleanedFiles cleaned;
    if (!removeExpired && sizeLimit == 0)
        return cleaned;
    if (removeExpired) {
        if (auto own = checkOwnFolder(); own.isFailure()) {
            cleaned.error = own.error();
            return cleaned;
        }
    }
    auto listed = listFileURLs(ResourceKey::isDirectory | ResourceKey::contentModificationDate
        | ResourceKey::creationDate | ResourceKey::fileSize);
    if (listed.isFailure()) {
        cleaned.error = listed.error();
        return cleaned;
    }

    // The one walk: each entry's status is read once, and tells whether it has expired, what it
    // weighs and, for the trim, when it was last accessed.
    struct Survivor {
        QUrl url;
        platform::FileStatus status;
    };
    CacheFileSystem& fileManager = *current->fileManager;
    std::vector<QUrl> expired;
    std::vector<Survivor> survivors;
    std::uint64_t size = 0;
    for (const QUrl& url : listed.value()) {
        const QString path = url.toLocalFile();
        auto status = fileManager.status(path);
        if (status.isFailure()) {
            // An entry that cannot be described counts as expired, and toward no size.
            if (removeExpired)
                expired.push_back(url);
            continue;
        }
        // Folders and anything but plain files are never ours to clean; they weigh nothing.
        if (status.value().type != platform::FileStatus::Type::regular)
            continue;
        const std::uint64_t weight = status.value().size > 0 ? std::uint64_t(status.value().size) : 0;
        // A file still being written weighs what it will weigh, but is neither expired nor trimmed.
        if (isWriteInProgress(path, status.value(), referenceDate)) {
            size = saturatingAdd(size, weight);
            continue;
        }
        FileMeta meta;
        meta.estimatedExpirationDate = status.value().modificationDate;
        if (removeExpired && meta.isExpiredAt(referenceDate)) {
            expired.push_back(url);
            continue;
        }
        size = saturatingAdd(size, weight);
        survivors.push_back({ url, status.value() });
    }
    // A file that cannot be removed (a locked subfolder, a failing sector) is reported but passed
    // over: stopping at it would leave the cache over its limit at every clean from then on.
    const auto removed = [&](const QUrl& url) {
        auto result = removeFileAtURL(url);
        if (result.isSuccess() || isAlreadyGone(result.error()))
            return true;
        if (!cleaned.error)
            cleaned.error = result.error();
        return false;
    };
    for (const QUrl& url : expired) {
        if (removed(url))
            cleaned.expired.push_back(url);
    }

    if (sizeLimit == 0 || size < sizeLimit)
        return cleaned;
    if (!removeExpired) {
        if (auto own = checkOwnFolder(); own.isFailure()) {
            cleaned.error = own.error();
            return cleaned;
        }
    }
    std::vector<FileMeta> metas;
    metas.reserve(survivors.size());
    for (const Survivor& survivor : survivors) {
        FileMeta meta;
        meta.url = survivor.url;
        meta.isRegularFile = true;
        meta.fileSize = survivor.status.size;
        meta.lastAccessDate = fileManager.lastAccessDate(survivor.url.toLocalFile(), survivor.status);
        metas.push_back(std::move(meta));
    }
    std::stable_sort(metas.begin(), metas.end(), [](const FileMeta& a, const FileMeta& b) {
        return a.lastAccessDate.value_or(Date::distantPast())
            > b.lastAccessDate.value_or(Date::distantPast());
    });

    const std::uint64_t target = sizeLimit >> 1;
    while (size > target && !metas.empty()) {
        FileMeta oldest = std::move(metas.back());
        metas.pop_back();
        if (!removed(oldest.url))
            continue;
        size = saturatingSubtract(size, sizeOf(oldest));
        cleaned.trimmed.push_back(oldest.url);
    }
    return cleaned;
}

void BackendBase::waitForPendingNameUpdates() const
{
    m_maybeCachedCheckingQueue->sync([] {});
}

void BackendBase::waitForPendingDateUpdates() const
{
    m_metaChangingQueue->sync([] {});
}

std::optional<std::size_t> BackendBase::maybeCachedNameCount() const
{
    std::optional<std::size_t> count;
    m_maybeCachedCheckingQueue->sync([&] {
        if (m_maybeCached->names)
            count = m_maybeCached->names->size();
    });
    return count;
}

} // namespace iris::DiskStorage
