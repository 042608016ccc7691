#include "Iris/cache/DiskStorage.h"

#include "Iris/IrisTestSupport.h"
#include "Iris/utility/StringHelpers.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <future>
#include <latch>
#include <limits>
#include <set>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

using namespace iris;
using platform::Date;
using Backend = DiskStorage::Backend<QByteArray>;
using CacheKind = IrisError::CacheErrorReason::Kind;

namespace {

const Date startTime = Date::fromUnixSeconds(1'800'000'000.3);

// Counts every call that reaches the file system.
class CountingFileSystem : public CacheFileSystem {
public:
    std::atomic<int> calls { 0 };

    bool fileExists(const QString& path) override { return ++calls, CacheFileSystem::fileExists(path); }
    std::function<void()> beforeListing;
    Result<QStringList> contentsOfDirectory(const QString& path) override
    {
        if (beforeListing)
            beforeListing();
        return CacheFileSystem::contentsOfDirectory(path);
    }
    Result<platform::FileStatus> status(const QString& path) override
    {
        return ++calls, CacheFileSystem::status(path);
    }
    Result<QByteArray> readFile(const QString& path) override
    {
        return ++calls, CacheFileSystem::readFile(path);
    }
    Result<platform::FileContents> readFileIfAccepted(
        const QString& path, const std::function<bool(const platform::FileStatus&)>& accept) override
    {
        ++calls;
        auto contents = CacheFileSystem::readFileIfAccepted(path, accept);
        if (afterRead)
            afterRead();
        return contents;
    }
    std::function<void()> afterRead;

    std::function<void()> afterWrite; // run once, by the next write, when the new file has its name
    Result<platform::Success> writeFile(const QString& path, const QByteArray& data,
        DataWritingOptions options, const BeforeNaming& beforeNaming) override
    {
        auto written = CacheFileSystem::writeFile(path, data, options, beforeNaming);
        if (auto hook = std::exchange(afterWrite, nullptr))
            hook();
        return written;
    }

    std::function<void()> beforeDates;
    std::atomic<int> refusedDatesError { 0 }; // when set, setting dates fails with it
    Result<platform::Success> setDates(const QString& path, Date access, Date modification) override
    {
        if (beforeDates)
            beforeDates();
        if (int error = refusedDatesError)
            return Result<platform::Success>::failure(platform::PlatformError::fromErrno(error, path));
        return CacheFileSystem::setDates(path, access, modification);
    }
    Result<platform::Success> setDatesIfUnchanged(
        const QString& path, Date before, Date access, Date modification) override
    {
        if (beforeDates)
            beforeDates();
        return CacheFileSystem::setDatesIfUnchanged(path, before, access, modification);
    }

    // When set, a removal fails with this errno and leaves the entry; with a path set too, only a
    // removal of a path that holds it.
    std::atomic<int> refusedRemovalError { 0 };
    QString refusedRemovalPath;
    std::function<void()> afterRemoval;

    Result<platform::Success> removeItem(const QString& path) override
    {
        if (int error = refusedRemovalError; error && path.contains(refusedRemovalPath))
            return Result<platform::Success>::failure(platform::PlatformError::fromErrno(error, path));
        auto removed = CacheFileSystem::removeItem(path);
        if (afterRemoval)
            afterRemoval();
        return removed;
    }
};

// Reads the status, then fails to read the bytes, as a failing disk would.
class UnreadableFileSystem final : public CacheFileSystem {
public:
    Result<platform::FileContents> readFileIfAccepted(
        const QString& path, const std::function<bool(const platform::FileStatus&)>& accept) override
    {
        auto status = CacheFileSystem::status(path);
        if (status.isSuccess() && accept(status.value()))
            return Result<platform::FileContents>::failure(platform::PlatformError::fromErrno(EIO, path));
        return CacheFileSystem::readFileIfAccepted(path, accept);
    }
};

class DiskStorageTest : public ::testing::Test {
protected:
    DiskStorageTest()
        : clock(startTime)
    {
    }

    DiskStorage::Config config(std::uint64_t sizeLimit = 0)
    {
        return DiskStorage::Config("test", sizeLimit, fileSystem, QUrl::fromLocalFile(root.path()));
    }

    std::unique_ptr<Backend> makeBackend(std::uint64_t sizeLimit = 0)
    {
        auto backend = std::make_unique<Backend>(config(sizeLimit));
        backend->waitForPendingNameUpdates();
        return backend;
    }

    QString pathFor(const Backend& backend, const QString& key)
    {
        return backend.fileURLForKey(key).toLocalFile();
    }

    platform::FileStatus statusOf(const QString& path)
    {
        auto status = platform::fileStatus(path);
        EXPECT_TRUE(status.isSuccess()) << path.toStdString();
        return status.isSuccess() ? status.value() : platform::FileStatus {};
    }

    // Writes a file into the cache folder as if a store had made it, with the given dates.
    QString placeFile(
        const Backend& backend, const QString& name, qsizetype size, Date lastAccess, Date expiry)
    {
        QString path = QDir(backend.directoryURL().toLocalFile()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
        file.close();
        EXPECT_TRUE(platform::setFileDates(path, lastAccess, expiry).isSuccess());
        return path;
    }

    QTemporaryDir root;
    iristest::ManualClock clock;
    std::shared_ptr<CountingFileSystem> fileSystem = std::make_shared<CountingFileSystem>();
};

} // namespace

TEST_F(DiskStorageTest, ConfigDefaultsAndFolder)
{
    DiskStorage::Config defaults("default", 0);
    EXPECT_EQ(defaults.expiration, StorageExpiration::days(7));
    EXPECT_FALSE(defaults.pathExtension);
    EXPECT_TRUE(defaults.usesHashedFileName);
    EXPECT_FALSE(defaults.autoExtAfterHashedFileName);
    DiskStorage::Creation creation(defaults);
    EXPECT_EQ(creation.cacheName, QString("org.tindrel.Iris.ImageCache.default"));
    EXPECT_EQ(creation.directoryURL.toLocalFile(),
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + "/org.tindrel.Iris.ImageCache.default");

    auto backend = makeBackend();
    EXPECT_EQ(backend->directoryURL().toLocalFile(), root.path() + "/org.tindrel.Iris.ImageCache.test");
    EXPECT_TRUE(QFileInfo(backend->directoryURL().toLocalFile()).isDir());
    EXPECT_FALSE(backend->config().cachePathBlock);
}

TEST_F(DiskStorageTest, FileNames)
{
    auto backend = makeBackend();
    const QString hash = md5HexString("photo.png");
    EXPECT_EQ(backend->fileNameForKey("photo.png"), hash);
    backend->setConfig([&] {
        auto c = backend->config();
        c.autoExtAfterHashedFileName = true;
        return c;
    }());
    EXPECT_EQ(backend->fileNameForKey("photo.png"), hash + ".png");
    // An extension that could not be a plain file extension is not used.
    EXPECT_EQ(backend->fileNameForKey("dir.old/file"), md5HexString("dir.old/file"));
    auto withExtension = backend->config();
    withExtension.pathExtension = "jpg";
    backend->setConfig(withExtension);
    EXPECT_EQ(backend->fileNameForKey("photo.png"), hash + ".jpg");

    auto unhashed = backend->config();
    unhashed.usesHashedFileName = false;
    unhashed.pathExtension.reset();
    backend->setConfig(unhashed);
    const std::pair<QString, QString> cases[] = {
        { "photo.png", "photo.png" },
        { "https://example.com/a/b.png", "https:%2F%2Fexample.com%2Fa%2Fb.png" },
        { "../../escape", "%2E.%2F..%2Fescape" },
        { "..", "%2E." },
        { ".", "%2E" },
        { "100%", "100%25" },
        { "", md5HexString("") },
        { QString(300, 'k'), md5HexString(QString(300, 'k')) },
    };
    for (const auto& [key, name] : cases)
        EXPECT_EQ(backend->fileNameForKey(key), name) << key.toStdString();
}

// The file name encoding writes "?" for a lone UTF-16 surrogate: keys that differ only there must
// still each have a file of their own, or one key would be answered with another's image.
TEST_F(DiskStorageTest, KeysThatDifferOnlyInALoneSurrogateKeepTheirOwnFiles)
{
    const QString keys[] = {
        QStringLiteral("cover?"), QStringLiteral("cover") + QChar(0xd83d),
        QStringLiteral("cover") + QChar(0xde00), QChar(0xde00) + QStringLiteral("cover") + QChar(0xd83d),
        QStringLiteral("cover") + QChar(0xfffd),
        QStringLiteral("cover") + QChar(0xd83d) + QChar(0xde00), // a whole character: named as before
    };
    auto backend = makeBackend();
    EXPECT_EQ(backend->fileNameForKey(keys[5]), md5HexString(keys[5]));
    for (const bool hashed : { true, false }) {
        auto changed = backend->config();
        changed.usesHashedFileName = hashed;
        backend->setConfig(changed);
        std::set<QString> names;
        for (const QString& key : keys)
            names.insert(backend->fileNameForKey(key));
        EXPECT_EQ(names.size(), std::size(keys)) << "hashed " << hashed;
        if (!hashed) {
            EXPECT_EQ(backend->fileNameForKey(keys[1]), QStringLiteral("cover%ED%A0%BD"));
        }
        for (const QString& key : keys)
            ASSERT_TRUE(backend->storeValue(key.toUtf8() + QByteArray::number(qHash(key)), key).isSuccess());
        for (const QString& key : keys) {
            auto read = backend->readValue(key);
            ASSERT_TRUE(read.isSuccess() && read.value());
            EXPECT_EQ(*read.value(), key.toUtf8() + QByteArray::number(qHash(key))) << "hashed " << hashed;
        }
    }
}

TEST_F(DiskStorageTest, StoreAndReadSetExactDates)
{
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("bytes", "key", StorageExpiration::seconds(60)).isSuccess());
    const QString path = pathFor(*backend, "key");
    platform::FileStatus stored = statusOf(path);
    // Made 0.3 s into a second: both dates are rounded up to whole seconds.
    EXPECT_EQ(stored.accessDate, Date::fromUnixSeconds(1'800'000'001));
    EXPECT_EQ(stored.modificationDate, Date::fromUnixSeconds(1'800'000'061));

    clock.set(Date::fromUnixSeconds(1'800'000'030.5));
    auto read = backend->readValue("key");
    ASSERT_TRUE(read.isSuccess());
    EXPECT_EQ(read.value(), QByteArray("bytes"));
    backend->waitForPendingDateUpdates();
    platform::FileStatus extended = statusOf(path);
    EXPECT_EQ(extended.accessDate, Date::fromUnixSeconds(1'800'000'031));
    EXPECT_EQ(extended.modificationDate, Date::fromUnixSeconds(1'800'000'091));

    // A read extending by another expiration moves only the expiry, keeping the stored span later.
    clock.set(Date::fromUnixSeconds(1'800'000'040));
    ASSERT_TRUE(backend->readValue("key", ExpirationExtending::expirationTime(StorageExpiration::seconds(10)))
                    .isSuccess());
    backend->waitForPendingDateUpdates();
    EXPECT_EQ(statusOf(path).modificationDate, Date::fromUnixSeconds(1'800'000'050));
}

TEST_F(DiskStorageTest, ExpiryIsTheModificationDate)
{
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("bytes", "key", StorageExpiration::seconds(60)).isSuccess());
    const Date expiry = statusOf(pathFor(*backend, "key")).modificationDate;
    EXPECT_EQ(backend->readValue("key", expiry, true, ExpirationExtending::none()).value(), std::nullopt);
    EXPECT_EQ(
        backend->readValue("key", expiry.addingTimeInterval(-1), true, ExpirationExtending::none()).value(),
        QByteArray("bytes"));
    // The expired file stays where it is.
    EXPECT_TRUE(QFile::exists(pathFor(*backend, "key")));
}

TEST_F(DiskStorageTest, ContainsNeverMovesTheDates)
{
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("bytes", "key", StorageExpiration::seconds(60)).isSuccess());
    const platform::FileStatus before = statusOf(pathFor(*backend, "key"));
    clock.advance(30);
    EXPECT_TRUE(backend->containsValue("key"));
    clock.advance(60);
    EXPECT_FALSE(backend->containsValue("key"));
    backend->waitForPendingDateUpdates();
    const platform::FileStatus after = statusOf(pathFor(*backend, "key"));
    EXPECT_EQ(after.accessDate, before.accessDate);
    EXPECT_EQ(after.modificationDate, before.modificationDate);
}

TEST_F(DiskStorageTest, AnExpiredStoreWritesNothing)
{
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("old", "key").isSuccess());
    const platform::FileStatus before = statusOf(pathFor(*backend, "key"));
    clock.advance(5);
    for (StorageExpiration expiration : { StorageExpiration::seconds(0), StorageExpiration::expired() }) {
        EXPECT_TRUE(backend->storeValue("new", "key", expiration).isSuccess());
        EXPECT_TRUE(backend->storeValue("new", "other", expiration).isSuccess());
    }
    EXPECT_EQ(statusOf(pathFor(*backend, "key")).modificationDate, before.modificationDate);
    EXPECT_EQ(backend->readValue("key", ExpirationExtending::none()).value(), QByteArray("old"));
    EXPECT_FALSE(QFile::exists(pathFor(*backend, "other")));
}

TEST_F(DiskStorageTest, ExpirationsBeyondFileTimesAreClamped)
{
    auto backend = makeBackend();
    EXPECT_TRUE(
        backend->storeValue(
                   "nan", "nan", StorageExpiration::seconds(std::numeric_limits<double>::quiet_NaN()))
            .isSuccess());
    EXPECT_TRUE(
        backend->storeValue("huge", "huge", StorageExpiration::days(std::numeric_limits<std::int64_t>::max()))
            .isSuccess());
    EXPECT_TRUE(backend->storeValue("never", "never", StorageExpiration::never()).isSuccess());
    // Not-a-number becomes the distant past: the value is expired, never a random date.
    EXPECT_EQ(backend->readValue("nan").value(), std::nullopt);
    EXPECT_EQ(backend->readValue("huge").value(), QByteArray("huge"));
    EXPECT_EQ(backend->readValue("never").value(), QByteArray("never"));
    // File systems clamp far dates to their own range; it stays far in the future.
    EXPECT_GT(statusOf(pathFor(*backend, "huge")).modificationDate, Date::fromUnixSeconds(2'100'000'000));
}

TEST_F(DiskStorageTest, AMissKnownByTheNameSetMakesNoFileSystemCall)
{
    // The name set is listed when a backend is made; a folder made by that same backend may come
    // too late for it, so the folder exists first here.
    makeBackend();
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("bytes", "stored").isSuccess());
    backend->waitForPendingNameUpdates();
    fileSystem->calls = 0;
    EXPECT_EQ(backend->readValue("never stored").value(), std::nullopt);
    EXPECT_FALSE(backend->containsValue("never stored"));
    EXPECT_EQ(fileSystem->calls, 0);
    EXPECT_TRUE(backend->containsValue("stored"));
    EXPECT_EQ(fileSystem->calls, 1);
    EXPECT_EQ(backend->readValue("stored").value(), QByteArray("bytes"));
    EXPECT_EQ(fileSystem->calls, 2);

    // A file put in from outside is found only by a backend that lists the folder afresh.
    ASSERT_TRUE(QFile::copy(pathFor(*backend, "stored"), pathFor(*backend, "copied")));
    ASSERT_TRUE(
        platform::setFileDates(pathFor(*backend, "copied"), clock.now(), clock.now().addingTimeInterval(60))
            .isSuccess());
    EXPECT_FALSE(backend->containsValue("copied"));
    EXPECT_TRUE(makeBackend()->containsValue("copied"));
}

TEST_F(DiskStorageTest, RemovalsAndFilesRemovedFromOutside)
{
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("bytes", "key").isSuccess());
    ASSERT_TRUE(backend->removeFileForKey("key").isSuccess());
    EXPECT_FALSE(backend->containsValue("key"));
    ASSERT_TRUE(backend->storeValue("again", "key").isSuccess());
    EXPECT_EQ(backend->readValue("key").value(), QByteArray("again"));

    QFile::remove(pathFor(*backend, "key"));
    EXPECT_EQ(backend->readValue("key").value(), std::nullopt);
    EXPECT_TRUE(backend->removeFileForKey("key").isFailure());

    ASSERT_TRUE(backend->storeValue("bytes", "a").isSuccess());
    ASSERT_TRUE(backend->removeAllFiles().isSuccess());
    EXPECT_TRUE(QFileInfo(backend->directoryURL().toLocalFile()).isDir());
    EXPECT_FALSE(backend->containsValue("a"));
    ASSERT_TRUE(backend->removeAllFiles(true).isSuccess());
    EXPECT_FALSE(QFileInfo::exists(backend->directoryURL().toLocalFile()));
}

TEST_F(DiskStorageTest, ALoadingReadSaysWhetherTheFileOrItsBytesFailed)
{
    // The entry cannot even be opened: a link where the file should be is never followed.
    ASSERT_EQ(::symlink("/etc/passwd", QFile::encodeName(pathFor(*makeBackend(), "linked")).constData()), 0);
    auto linked = makeBackend()->readValue("linked");
    ASSERT_TRUE(linked.isFailure());
    EXPECT_EQ(linked.error().cacheReason()->kind, CacheKind::invalidURLResource);
    EXPECT_EQ(linked.error().errorCode(), 3003);

    // The file is there and live, but its bytes cannot be read.
    auto configured = config();
    configured.fileManager = std::make_shared<UnreadableFileSystem>();
    Backend unreadable(configured);
    ASSERT_TRUE(unreadable.storeValue("bytes", "key").isSuccess());
    auto read = unreadable.readValue("key");
    ASSERT_TRUE(read.isFailure());
    EXPECT_EQ(read.error().cacheReason()->kind, CacheKind::cannotLoadDataFromDisk);
    EXPECT_EQ(read.error().errorCode(), 3004);
}

TEST_F(DiskStorageTest, OnlyAFolderTheStorageMadeOrNamedIsEverEmptied)
{
    // A path callback that names its base folder: what the user keeps there must survive clearing
    // and both cleanings, even files whose dates would make them look expired.
    QTemporaryDir base;
    const QString kept = base.filePath("notes.txt");
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(100, 'n'));
    file.close();
    ASSERT_TRUE(platform::setFileDates(kept, startTime, Date::fromUnixSeconds(1000)).isSuccess());
    auto configured = config(1);
    configured.directory = QUrl::fromLocalFile(base.path());
    configured.cachePathBlock = [](const QUrl& folder, const QString&) { return folder; };
    Backend borrowed(configured);
    for (auto error : { borrowed.removeAllFiles().error(), borrowed.removeExpiredFiles().error(),
             borrowed.trimToSizeLimit().error() }) {
        const auto* refused = std::get_if<platform::PlatformError>(&error);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->code, EPERM);
        EXPECT_TRUE(refused->description.contains(base.path()));
    }
    EXPECT_TRUE(QFile::exists(kept));

    // A folder the callback names and the storage makes is its own to empty, again and again.
    configured.cachePathBlock = [](const QUrl& folder, const QString&) {
        return QUrl::fromLocalFile(folder.toLocalFile() + "/images");
    };
    Backend made(configured);
    ASSERT_TRUE(made.storeValue("bytes", "key").isSuccess());
    ASSERT_TRUE(made.removeAllFiles().isSuccess());
    EXPECT_FALSE(made.containsValue("key"));
    ASSERT_TRUE(made.storeValue("bytes", "key").isSuccess());
    EXPECT_TRUE(made.removeAllFiles().isSuccess());
    EXPECT_TRUE(QFile::exists(kept));
}

TEST_F(DiskStorageTest, AFolderRemovedFromOutsideIsRecreatedByAStore)
{
    auto backend = makeBackend();
    ASSERT_TRUE(QDir(backend->directoryURL().toLocalFile()).removeRecursively());
    ASSERT_TRUE(backend->storeValue("bytes", "key").isSuccess());
    EXPECT_EQ(backend->readValue("key").value(), QByteArray("bytes"));
}

TEST_F(DiskStorageTest, AnImpossibleFolderFailsAndThenIsNotReady)
{
    // The folder's parent turns into a dangling link: writing finds no folder, and none can be made.
    const QString parent = root.filePath("parent");
    auto configured = config();
    configured.directory = QUrl::fromLocalFile(parent);
    Backend backend(configured);
    ASSERT_TRUE(backend.isStorageReady());
    ASSERT_TRUE(QDir(parent).removeRecursively());
    ASSERT_EQ(::symlink(QFile::encodeName(root.filePath("nowhere")).constData(),
                  QFile::encodeName(parent).constData()),
        0);

    auto store = backend.storeValue("bytes", "key");
    ASSERT_TRUE(store.isFailure());
    EXPECT_EQ(store.error().cacheReason()->kind, CacheKind::cannotCreateCacheFile);
    EXPECT_EQ(store.error().errorCode(), 3009);
    EXPECT_FALSE(backend.isStorageReady());

    // Even once the folder exists, the backend stays not ready.
    ASSERT_TRUE(QFile::remove(parent));
    ASSERT_TRUE(QDir().mkpath(backend.directoryURL().toLocalFile()));
    for (auto error : { backend.storeValue("bytes", "key").error(), backend.readValue("key").error() }) {
        EXPECT_EQ(error.cacheReason()->kind, CacheKind::diskStorageIsNotReady);
        EXPECT_EQ(error.cacheReason()->url, backend.directoryURL());
    }
    EXPECT_FALSE(backend.containsValue("key"));
}

TEST_F(DiskStorageTest, AFolderThatCannotBeCreatedAtAll)
{
    QFile blocker(root.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto configured = config();
    configured.directory = QUrl::fromLocalFile(root.filePath("file"));
    auto thrown = Backend::initThrowing(configured);
    ASSERT_TRUE(thrown.isFailure());
    EXPECT_EQ(thrown.error().errorCode(), 3005);
    EXPECT_EQ(
        thrown.error().cacheReason()->path, root.filePath("file") + "/org.tindrel.Iris.ImageCache.test");

    Backend quiet(configured);
    EXPECT_FALSE(quiet.isStorageReady());
    EXPECT_EQ(quiet.storeValue("bytes", "key").error().errorCode(), 3011);
}

TEST_F(DiskStorageTest, KeysNeverLeaveTheFolderWithHashingOff)
{
    auto configured = config();
    configured.usesHashedFileName = false;
    Backend backend(configured);
    const QString outside = root.filePath("outside");
    QFile canary(outside);
    ASSERT_TRUE(canary.open(QIODevice::WriteOnly));
    canary.write("keep");
    canary.close();

    for (QString key : { "../outside", "../../outside", "/tmp/x", "a/b/c", "..", "." }) {
        ASSERT_TRUE(backend.storeValue("bytes", key).isSuccess()) << key.toStdString();
        const QString path = pathFor(backend, key);
        EXPECT_EQ(QFileInfo(path).absolutePath(), backend.directoryURL().toLocalFile()) << key.toStdString();
        EXPECT_EQ(backend.readValue(key).value(), QByteArray("bytes"));
        ASSERT_TRUE(backend.removeFileForKey(key).isSuccess());
    }
    EXPECT_TRUE(QFile::exists(outside));
    // A URL outside the folder is refused, whoever hands it in.
    EXPECT_TRUE(backend.removeFileAtURL(QUrl::fromLocalFile(outside)).isFailure());
    EXPECT_TRUE(
        backend.removeFileAtURL(QUrl::fromLocalFile(backend.directoryURL().toLocalFile() + "/../outside"))
            .isFailure());
    EXPECT_TRUE(QFile::exists(outside));
}

// A key names its own file only while the temporary name the write goes through fits as well;
// longer keys are named by their digest, so every key can be stored.
TEST_F(DiskStorageTest, LongKeysWithHashingOffAreStoredAndRead)
{
    auto configured = config();
    configured.usesHashedFileName = false;
    Backend backend(configured);
    for (int length : { 240, 241, 255, 256 }) {
        const QString key(length, 'k');
        ASSERT_TRUE(backend.storeValue("bytes", key).isSuccess()) << length;
        EXPECT_EQ(backend.readValue(key).value(), QByteArray("bytes")) << length;
    }
    EXPECT_EQ(backend.fileNameForKey(QString(240, 'k')), QString(240, 'k'));
    EXPECT_EQ(backend.fileNameForKey(QString(241, 'k')), md5HexString(QString(241, 'k')));
}

TEST_F(DiskStorageTest, RemoveExpiredFilesKeepsLiveFilesAndFolders)
{
    auto backend = makeBackend();
    const Date now = clock.now();
    QString expired
        = placeFile(*backend, "expired", 10, now.addingTimeInterval(-100), now.addingTimeInterval(-1));
    QString atNow = placeFile(*backend, "at-now", 10, now.addingTimeInterval(-100), now);
    QString live = placeFile(*backend, "live", 10, now, now.addingTimeInterval(100));
    QString folder = backend->directoryURL().toLocalFile() + "/sub";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(platform::setFileDates(folder, now.addingTimeInterval(-100), now.addingTimeInterval(-100))
                    .isSuccess());
    QString hidden = placeFile(*backend, ".hidden", 10, now, now.addingTimeInterval(-100));

    auto removed = backend->removeExpiredFiles();
    ASSERT_TRUE(removed.isSuccess());
    std::set<QString> removedPaths;
    for (const QUrl& url : removed.value())
        removedPaths.insert(url.toLocalFile());
    EXPECT_EQ(removedPaths, (std::set<QString> { expired, atNow }));
    EXPECT_TRUE(QFile::exists(live));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_TRUE(QFile::exists(hidden));
}

TEST_F(DiskStorageTest, TrimRemovesLeastRecentlyAccessedFirstDownToHalfTheLimit)
{
    auto backend = makeBackend(1000);
    const Date now = clock.now();
    const Date expiry = now.addingTimeInterval(1000);
    placeFile(*backend, "newest", 300, now, expiry);
    placeFile(*backend, "middle", 300, now.addingTimeInterval(-10), expiry);
    placeFile(*backend, "oldest", 300, now.addingTimeInterval(-20), expiry);
    // A subfolder is not ours: it survives trimming, though a file inside it is counted.
    QString folder = backend->directoryURL().toLocalFile() + "/sub";
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(platform::setFileDates(folder, now.addingTimeInterval(-1000), expiry).isSuccess());
    placeFile(*backend, "sub/inner", 100, now.addingTimeInterval(-5), expiry);
    EXPECT_EQ(backend->totalFileSize().value(), 1000u);

    auto removed = backend->trimToSizeLimit();
    ASSERT_TRUE(removed.isSuccess());
    QStringList names;
    for (const QUrl& url : removed.value())
        names << url.fileName();
    EXPECT_EQ(names, (QStringList { "oldest", "middle" }));
    EXPECT_EQ(backend->totalFileSize().value(), 400u);
    EXPECT_TRUE(QFileInfo(folder).isDir());

    // Below the limit nothing goes; a limit of 0 means no limit.
    EXPECT_TRUE(backend->trimToSizeLimit().value().empty());
    auto unlimited = backend->config();
    unlimited.sizeLimit = 0;
    backend->setConfig(unlimited);
    placeFile(*backend, "big", 5000, now, expiry);
    EXPECT_TRUE(backend->trimToSizeLimit().value().empty());
}

// One file the clean cannot remove (in a subfolder it may not write, on a failing sector) is
// reported, and every other expired or trimmed file still goes: the cache does not stay over its limit
// from then on.
TEST_F(DiskStorageTest, ACleanPassesOverAFileItCannotRemove)
{
    auto backend = makeBackend(1000);
    const Date now = clock.now();
    const Date expiry = now.addingTimeInterval(1000);
    placeFile(*backend, "gone1", 10, now.addingTimeInterval(-30), now.addingTimeInterval(-2));
    placeFile(*backend, "stuck-expired", 10, now.addingTimeInterval(-30), now.addingTimeInterval(-1));
    placeFile(*backend, "gone2", 10, now.addingTimeInterval(-30), now.addingTimeInterval(-3));
    placeFile(*backend, "stuck-oldest", 300, now.addingTimeInterval(-20), expiry);
    placeFile(*backend, "old", 300, now.addingTimeInterval(-10), expiry);
    placeFile(*backend, "middle", 200, now.addingTimeInterval(-5), expiry);
    placeFile(*backend, "new", 200, now, expiry);
    fileSystem->refusedRemovalPath = QStringLiteral("/stuck");
    fileSystem->refusedRemovalError = EBUSY;
    auto cleaned = backend->removeExpiredFilesAndTrim(now);
    fileSystem->refusedRemovalError = 0;

    ASSERT_TRUE(cleaned.error);
    const auto* error = std::get_if<platform::PlatformError>(&*cleaned.error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, EBUSY);
    std::set<QString> expired;
    for (const QUrl& url : cleaned.expired)
        expired.insert(url.fileName());
    EXPECT_EQ(expired, (std::set<QString> { "gone1", "gone2" }));
    // The stuck file still takes its room, so the trim goes on to the next oldest until half the
    // limit is reached.
    QStringList trimmed;
    for (const QUrl& url : cleaned.trimmed)
        trimmed << url.fileName();
    EXPECT_EQ(trimmed, (QStringList { "old", "middle" }));
    EXPECT_EQ(backend->totalFileSize().value(), 510u);
}

TEST_F(DiskStorageTest, TrimTargetIsHalfTheLimitRoundedDown)
{
    auto backend = makeBackend(101);
    const Date now = clock.now();
    const Date expiry = now.addingTimeInterval(1000);
    for (int i = 0; i < 101; ++i)
        placeFile(*backend, QString("f%1").arg(i, 3, 10, QChar('0')), 1, now.addingTimeInterval(i), expiry);
    auto removed = backend->trimToSizeLimit();
    ASSERT_TRUE(removed.isSuccess());
    EXPECT_EQ(removed.value().size(), 51u);
    EXPECT_EQ(removed.value().front().fileName(), "f000");
    EXPECT_EQ(backend->totalFileSize().value(), 50u);
}

// A cache name with a slash used to make the folder wherever the path led ("/../../escaped" beside
// the base folder), where every file of the cache went and where cleaning would look.
TEST_F(DiskStorageTest, ANameThatIsNotOneFolderNameGivesNoFolder)
{
    for (const QString& name : { QStringLiteral("/../../escaped"), QStringLiteral("a/b") }) {
        auto configured = config();
        configured.name = name;
        auto thrown = Backend::initThrowing(configured);
        EXPECT_TRUE(thrown.isFailure()) << name.toStdString();
        Backend quiet(configured);
        EXPECT_FALSE(quiet.isStorageReady()) << name.toStdString();
        auto stored = quiet.storeValue("bytes", "key");
        ASSERT_TRUE(stored.isFailure()) << name.toStdString();
        EXPECT_EQ(stored.error().errorCode(), 3011) << name.toStdString();
    }
    EXPECT_EQ(
        QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList {});
    EXPECT_FALSE(QFileInfo::exists(QDir(root.path()).filePath("../escaped")));
}

namespace {

// What an outside read (an indexer, a backup, `cat`) does to a file on the usual mounts: it moves the
// access time and nothing else.
void readFromOutside(const QString& path, Date when)
{
    auto status = platform::fileStatus(path);
    ASSERT_TRUE(status.isSuccess());
    ASSERT_TRUE(platform::setFileDates(path, when, status.value().modificationDate).isSuccess());
}

} // namespace

// Only the cache's own reads and stores count as accesses: a file read from outside is neither kept
// longer by the trim nor given a shorter span when the cache next reads it.
TEST_F(DiskStorageTest, OutsideReadsDoNotMoveTheLastAccess)
{
    auto backend = makeBackend(1000);
    ASSERT_TRUE(backend->storeValue(QByteArray(300, 'a'), "first").isSuccess());
    clock.advance(10);
    ASSERT_TRUE(backend->storeValue(QByteArray(300, 'b'), "second").isSuccess());
    clock.advance(10);
    ASSERT_TRUE(backend->storeValue(QByteArray(400, 'c'), "third").isSuccess());
    readFromOutside(pathFor(*backend, "first"), clock.now().addingTimeInterval(5));

    auto removed = backend->trimToSizeLimit();
    ASSERT_TRUE(removed.isSuccess());
    QStringList names;
    for (const QUrl& url : removed.value())
        names << url.fileName();
    EXPECT_EQ(names, (QStringList { backend->fileNameForKey("first"), backend->fileNameForKey("second") }));

    // Stored for 60 s; an outside read 50 s later; the cache's read 55 s later keeps the whole 60 s.
    ASSERT_TRUE(backend->storeValue("bytes", "span", StorageExpiration::seconds(60)).isSuccess());
    const Date stored = statusOf(pathFor(*backend, "span")).accessDate;
    readFromOutside(pathFor(*backend, "span"), stored.addingTimeInterval(50));
    clock.set(stored.addingTimeInterval(55));
    ASSERT_TRUE(backend->readValue("span").isSuccess());
    backend->waitForPendingDateUpdates();
    EXPECT_EQ(statusOf(pathFor(*backend, "span")).modificationDate, stored.addingTimeInterval(115));
}

// A file from before the cache kept its own record of the last access takes its access time, once:
// later outside reads do not change it.
TEST_F(DiskStorageTest, AnOlderFileTakesItsAccessTimeOnce)
{
    auto backend = makeBackend(1000);
    // Whole seconds, as every record holds.
    const Date now = Date::fromUnixSeconds(1'800'000'000);
    const Date expiry = now.addingTimeInterval(1000);
    const QString older = placeFile(*backend, "older", 400, now.addingTimeInterval(-20), expiry);
    const QString newer = placeFile(*backend, "newer", 400, now.addingTimeInterval(-10), expiry);
    auto status = platform::fileStatus(older);
    ASSERT_TRUE(status.isSuccess());
    EXPECT_EQ(fileSystem->lastAccessDate(older, status.value()), now.addingTimeInterval(-20));
    readFromOutside(older, now);
    status = platform::fileStatus(older);
    EXPECT_EQ(fileSystem->lastAccessDate(older, status.value()), now.addingTimeInterval(-20));

    placeFile(*backend, "filler", 200, now, expiry);
    auto removed = backend->trimToSizeLimit();
    ASSERT_TRUE(removed.isSuccess());
    ASSERT_EQ(removed.value().size(), 2u);
    EXPECT_EQ(removed.value()[0].toLocalFile(), older);
    EXPECT_EQ(removed.value()[1].toLocalFile(), newer);
}

// A last access the cache recorded itself is not read from the file again while the file keeps the
// modification date it was given; a file changed since is read afresh.
TEST_F(DiskStorageTest, ARememberedLastAccessGivesWayToAFileChangedSince)
{
    auto backend = makeBackend(1000);
    const Date now = Date::fromUnixSeconds(1'800'000'000);
    const QString path = placeFile(*backend, "kept", 100, now, now.addingTimeInterval(1000));
    ASSERT_TRUE(
        fileSystem->setDates(path, now.addingTimeInterval(5), now.addingTimeInterval(900)).isSuccess());
    const auto read = [&] {
        auto contents
            = fileSystem->readFileIfAccepted(path, [](const platform::FileStatus&) { return true; });
        EXPECT_TRUE(contents.isSuccess());
        return contents.value();
    };
    const auto remembered = read();
    EXPECT_FALSE(remembered.attribute) << "the record this program wrote is not read again";
    EXPECT_EQ(fileSystem->lastAccessDate(path, remembered), now.addingTimeInterval(5));

    // Another run of the cache stored the file again, with its own record and dates.
    const QByteArray native = QFile::encodeName(path);
    const QByteArray record = lastAccessAttributeValue(now.addingTimeInterval(40));
    if (::setxattr(native.constData(), lastAccessAttributeName, record.constData(), size_t(record.size()), 0)
        != 0)
        GTEST_SKIP() << "this file system keeps no user attributes";
    ASSERT_TRUE(
        platform::setFileDates(path, now.addingTimeInterval(40), now.addingTimeInterval(2000)).isSuccess());
    EXPECT_EQ(fileSystem->lastAccessDate(path, read()), now.addingTimeInterval(40));
}

// Records that the cache did not write (or that were damaged) count as missing, never as a date.
TEST(CacheLastAccessRecord, OnlyWellFormedRecordsAreRead)
{
    EXPECT_EQ(parseLastAccessAttribute("1800000001"), Date::fromUnixSeconds(1'800'000'001));
    EXPECT_EQ(parseLastAccessAttribute("-5"), Date::fromUnixSeconds(-5));
    EXPECT_EQ(parseLastAccessAttribute(lastAccessAttributeValue(Date::fromUnixSeconds(12.2))),
        Date::fromUnixSeconds(13));
    EXPECT_EQ(parseLastAccessAttribute(lastAccessAttributeValue(Date(std::nan("")))), Date::distantPast());
    for (const char* bad : { "", "-", "12a", " 12", "1.5", "+3", "99999999999999", "-99999999999999" })
        EXPECT_EQ(parseLastAccessAttribute(bad), std::nullopt) << bad;
}

// One walk of the folder serves both steps of a clean over the size limit, and each entry's status is
// read once.
TEST_F(DiskStorageTest, ACleanReadsEachEntryOnce)
{
    auto backend = makeBackend(100);
    const Date now = clock.now();
    placeFile(*backend, "expired", 10, now.addingTimeInterval(-100), now.addingTimeInterval(-1));
    for (int i = 0; i < 4; ++i)
        placeFile(
            *backend, QString("live%1").arg(i), 40, now.addingTimeInterval(i), now.addingTimeInterval(100));
    const int before = fileSystem->calls;
    auto cleaned = backend->removeExpiredFilesAndTrim(now);
    EXPECT_FALSE(cleaned.error);
    EXPECT_EQ(fileSystem->calls - before, 5);
    ASSERT_EQ(cleaned.expired.size(), 1u);
    QStringList trimmed;
    for (const QUrl& url : cleaned.trimmed)
        trimmed << url.fileName();
    EXPECT_EQ(trimmed, (QStringList { "live0", "live1", "live2" }));
}

// The set of names that may be cached used to keep the name of every file ever stored, whatever
// removed it. A name leaves only when its file is surely gone.
TEST_F(DiskStorageTest, TheNameSetForgetsEveryFileTheStorageRemoves)
{
    makeBackend(); // the folder exists before the backend lists it
    auto backend = makeBackend(100);
    auto key = [](int i) { return QString("key%1").arg(i); };
    auto namesBeyond = [&](std::size_t stored) {
        backend->waitForPendingNameUpdates();
        for (int i = 0; i < 40; ++i)
            EXPECT_EQ(backend->containsValue(key(i)), QFile::exists(pathFor(*backend, key(i)))) << i;
        return backend->maybeCachedNameCount().value() - stored;
    };
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(backend->storeValue("bytes", key(i), StorageExpiration::seconds(i < 10 ? 10 : 99)));
    const std::size_t marker = namesBeyond(40);
    for (int i = 30; i < 40; ++i)
        ASSERT_TRUE(backend->removeFileForKey(key(i)));
    EXPECT_EQ(namesBeyond(30), marker);
    clock.advance(20);
    ASSERT_EQ(backend->removeExpiredFiles().value().size(), 10u);
    EXPECT_EQ(namesBeyond(20), marker);
    ASSERT_EQ(backend->trimToSizeLimit().value().size(), 10u); // 100 bytes down to 50
    EXPECT_EQ(namesBeyond(10), marker);

    // A removal that fails keeps the name, even with "no such file" while the entry is still there
    // (as from a folder's removal that lost a race part-way); so does a file of the same name in a
    // subfolder.
    fileSystem->refusedRemovalError = ENOENT;
    EXPECT_FALSE(backend->removeFileForKey(key(10)) || backend->removeAllFiles());
    fileSystem->refusedRemovalError = 0;
    EXPECT_EQ(namesBeyond(10), marker);
    ASSERT_TRUE(QDir(backend->directoryURL().toLocalFile()).mkdir("sub"));
    placeFile(*backend, "sub/" + backend->fileNameForKey(key(11)), 1, clock.now(), clock.now());
    ASSERT_EQ(backend->removeExpiredFiles().value().size(), 1u);
    EXPECT_EQ(namesBeyond(10), marker);

    ASSERT_TRUE(backend->removeAllFiles());
    EXPECT_EQ(namesBeyond(0), marker);
}

// A store that lands after a removal has taken the file away, but before that removal is over, must
// leave its name in the set: the file is there again.
TEST_F(DiskStorageTest, AStoreLandingDuringARemovalIsStillFound)
{
    const std::vector<std::function<bool(Backend&)>> removals { //
        [](Backend& backend) { return backend.removeFileForKey("key").isSuccess(); },
        [](Backend& backend) { return backend.removeExpiredFiles().value().size() == 1; },
        [](Backend& backend) { return backend.trimToSizeLimit().value().size() == 1; },
        [](Backend& backend) { return backend.removeAllFiles().isSuccess(); }
    };
    makeBackend();
    for (std::size_t i = 0; i < removals.size(); ++i) {
        auto backend = makeBackend(4); // five bytes are over the limit
        ASSERT_TRUE(backend->storeValue("bytes", "key", StorageExpiration::seconds(10)));
        backend->waitForPendingNameUpdates();
        clock.advance(20);
        bool storedAgain = false;
        fileSystem->afterRemoval = [&] {
            if (!std::exchange(storedAgain, true))
                std::thread([&] { EXPECT_TRUE(backend->storeValue("again", "key")); }).join();
        };
        EXPECT_TRUE(removals[i](*backend)) << i;
        fileSystem->afterRemoval = nullptr;
        backend->waitForPendingNameUpdates();
        EXPECT_TRUE(QFile::exists(pathFor(*backend, "key")) && backend->containsValue("key")) << i;
    }
}

// A name whose file another program deleted leaves the set once a read finds the file gone, so the
// next miss asks no file system; a store that writes the file again meanwhile keeps its name.
TEST_F(DiskStorageTest, AReadThatFindsAFileDeletedFromOutsideForgetsItsName)
{
    makeBackend();
    auto backend = makeBackend();
    for (const char* key : { "loaded", "looked up", "again" }) {
        ASSERT_TRUE(backend->storeValue("bytes", key));
        ASSERT_TRUE(QFile::remove(pathFor(*backend, key)));
    }
    backend->waitForPendingNameUpdates();
    bool stored = false;
    fileSystem->afterRead = [&] {
        if (!std::exchange(stored, true))
            std::thread([&] { EXPECT_TRUE(backend->storeValue("back", "again")); }).join();
        backend->waitForPendingNameUpdates(); // the store's insert runs before the read answers
    };
    EXPECT_EQ(backend->readValue("again").value(), std::nullopt);
    EXPECT_EQ(backend->readValue("loaded").value(), std::nullopt);
    EXPECT_FALSE(backend->containsValue("looked up"));
    backend->waitForPendingNameUpdates();
    fileSystem->calls = 0;
    EXPECT_FALSE(backend->containsValue("loaded") || backend->containsValue("looked up"));
    EXPECT_EQ(fileSystem->calls, 0);
    EXPECT_EQ(backend->readValue("again").value(), QByteArray("back"));
}

// A file takes its name with its dates: a read that finds it at once finds it live for its whole
// lifetime, not undated (which reads as expired). A store whose dates fail keeps the file stored
// before.
TEST_F(DiskStorageTest, AStoredFileIsNeverSeenWithoutItsDates)
{
    // The clock runs behind the file system's, so an undated file is live only for the next hour.
    clock.set(Date::fromUnixSeconds(double(std::time(nullptr)) - 3600));
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("old", "key"));
    backend->waitForPendingNameUpdates();
    std::optional<QByteArray> seen;
    bool liveForItsLifetime = false;
    fileSystem->afterWrite = [&] {
        auto read = backend->readValue("key", clock.now(), true, ExpirationExtending::none());
        seen = read.isSuccess() ? read.value() : std::nullopt;
        liveForItsLifetime = backend->containsValue("key", clock.now().addingTimeInterval(7200));
    };
    ASSERT_TRUE(backend->storeValue("new", "key"));
    EXPECT_EQ(seen, QByteArray("new"));
    EXPECT_TRUE(liveForItsLifetime);

    fileSystem->refusedDatesError = EIO;
    auto failed = backend->storeValue("newer", "key");
    fileSystem->refusedDatesError = 0;
    ASSERT_TRUE(failed.isFailure());
    EXPECT_EQ(failed.error().cacheReason()->kind, CacheKind::cannotSetCacheFileAttribute);
    EXPECT_EQ(backend->readValue("key").value(), QByteArray("new"));
    EXPECT_EQ(QDir(backend->directoryURL().toLocalFile()).entryList(QDir::Files),
        QStringList { pathFor(*backend, "key").section('/', -1) });
}

// A read moves the file's dates later, on another queue; a store that gave the file a new lifetime
// meanwhile keeps it.
TEST_F(DiskStorageTest, AReadsLateDateChangeLeavesALaterStoresLifetime)
{
    auto backend = makeBackend();
    ASSERT_TRUE(backend->storeValue("old", "key"));
    clock.advance(10);
    std::latch stored(1);
    const auto storingThread = std::this_thread::get_id();
    fileSystem->beforeDates = [&] {
        if (std::this_thread::get_id() != storingThread)
            stored.wait();
    };
    ASSERT_EQ(backend->readValue("key").value(), QByteArray("old"));
    ASSERT_TRUE(backend->storeValue("new", "key", StorageExpiration::seconds(60)));
    stored.count_down();
    backend->waitForPendingDateUpdates();
    fileSystem->beforeDates = nullptr;
    clock.advance(120);
    EXPECT_FALSE(backend->containsValue("key"));
}

// A clean on another thread, or in another copy of the program, leaves the file a store is writing
// (the store used to fail); one left by a write that stopped goes at a clean a minute later.
TEST_F(DiskStorageTest, ACleanLeavesAFileBeingWritten)
{
    clock.set(Date::fromUnixSeconds(double(std::time(nullptr)) + 1));
    auto backend = makeBackend(1); // every finished file is over the limit
    std::optional<DiskStorage::BackendBase::CleanedFiles> clean;
    fileSystem->beforeDates = [&] {
        if (!clean)
            clean = backend->removeExpiredFilesAndTrim(clock.now());
    };
    ASSERT_TRUE(backend->storeValue("new bytes", "key"));
    fileSystem->beforeDates = nullptr;
    ASSERT_TRUE(clean && !clean->error);
    EXPECT_TRUE(clean->expired.empty() && clean->trimmed.empty());
    EXPECT_EQ(backend->readValue("key").value(), QByteArray("new bytes"));

    const QString left = pathFor(*backend, "key") + ".partial-Ab12Cd";
    ASSERT_TRUE(QFile::copy(pathFor(*backend, "key"), left));
    EXPECT_TRUE(backend->removeExpiredFiles(clock.now()).value().empty());
    clock.advance(61);
    EXPECT_EQ(backend->removeExpiredFiles(clock.now()).value(), std::vector { QUrl::fromLocalFile(left) });
}

// A read made while the folder is still being listed (a large cache on a slow disk, at start-up) asks
// the file system instead of waiting for the listing: the first image shown used to wait for it.
TEST_F(DiskStorageTest, AReadDoesNotWaitForTheFolderToBeListed)
{
    makeBackend(); // the folder exists before the backends list it
    ASSERT_TRUE(makeBackend()->storeValue("bytes", "key"));
    std::latch listing(1);
    std::latch release(1);
    fileSystem->beforeListing = [&] {
        listing.count_down();
        release.wait();
    };
    auto backend = std::make_unique<Backend>(config());
    listing.wait();
    auto answer = std::async(std::launch::async, [&] { return backend->readValue("key").value(); });
    const bool answeredDuringTheListing
        = answer.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    release.count_down();
    EXPECT_TRUE(answeredDuringTheListing);
    EXPECT_EQ(answer.get(), QByteArray("bytes"));
    backend->waitForPendingNameUpdates();
    fileSystem->beforeListing = nullptr;
    fileSystem->calls = 0;
    EXPECT_FALSE(backend->containsValue("never stored"));
    EXPECT_EQ(fileSystem->calls, 0);
}
