#include "Iris/cache/ImageCache.h"
#include "Iris/declarative/ImageRetrieving.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/image/ImageProcessors.h"
#include "RetrievalTestSupport.h"

#include "platform/foundation/FileAttributes.h"
#include "platform/graphics/DecodeAhead.h"
#include "platform/graphics/ImageSource.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <latch>

using namespace iris;
using namespace retrievaltest;

namespace {

class LocalFileRetrieval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_files.isValid() && m_caches.isValid());
        cache = ImageCache::initNamed("retrieval", QUrl::fromLocalFile(m_caches.path()));
        manager = IrisManager::create(std::make_shared<FakeDownloader>(), cache);
    }

    QUrl writeFile(const QString& name, const QByteArray& bytes)
    {
        QFile out(m_files.filePath(name));
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return QUrl::fromLocalFile(out.fileName());
    }

    std::shared_ptr<Outcome> retrieve(const std::shared_ptr<IrisManager>& through, const Source& source,
        std::optional<IrisOptionsInfo> options = std::nullopt)
    {
        auto outcome = std::make_shared<Outcome>();
        through->retrieveSource(source, options, {}, {}, outcome->completion(outcome));
        return outcome;
    }

    QTemporaryDir m_files;
    QTemporaryDir m_caches;
    std::shared_ptr<ImageCache> cache;
    std::shared_ptr<IrisManager> manager;
};

// Counts the warnings of the JPEG reader, which each attempt to decode damaged bytes prints, while
// it lives; other messages go on as before.
class JpegWarningCount {
public:
    JpegWarningCount() { s_previous = qInstallMessageHandler(handle); }
    ~JpegWarningCount() { qInstallMessageHandler(s_previous); }
    int take() { return s_count.exchange(0); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (context.category && qstrcmp(context.category, "qt.gui.imageio.jpeg") == 0)
            ++s_count;
        else if (s_previous)
            s_previous(type, context, message);
    }
    static inline std::atomic<int> s_count { 0 };
    static inline QtMessageHandler s_previous = nullptr;
};

} // namespace

// A cover's file URL all the way to a delivered image: loaded once, then a memory hit, then, in a
// new cache over the same folder, a disk hit.
TEST_F(LocalFileRetrieval, ReadsProcessesStoresAndHitsBothTiers)
{
    const QUrl url = writeFile("cover.jpeg", jpegData(64, 48));
    const Source source = convertToSource(url);
    ASSERT_EQ(source.kind(), Source::Kind::provider);
    const QString key = source.cacheKey();
    EXPECT_EQ(key, "iris.local.cacheKey//" + url.toLocalFile());

    auto first = retrieve(manager, source);
    EXPECT_EQ(first->calls, 0) << "a file is never read on the caller's thread";
    ASSERT_TRUE(first->wait());
    ASSERT_TRUE(first->succeeded()) << first->error().localizedDescription().toStdString();
    EXPECT_TRUE(first->onMainThread);
    EXPECT_EQ(first->value().cacheType, CacheType::none);
    EXPECT_EQ(first->value().image->size(), (platform::Size { 64, 48 }));
    EXPECT_EQ(first->value().source, source);
    EXPECT_EQ(first->value().originalSource, source);
    EXPECT_EQ(first->value().data(), std::optional<QByteArray>(jpegData(64, 48)));
    EXPECT_EQ(cache->cacheTypeOfKey(key), CacheType::memory);
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFile::exists(cache->filePathForKey(key)); }));

    // The file is gone: only the caches can answer from now on.
    ASSERT_TRUE(QFile::remove(url.toLocalFile()));
    auto second = retrieve(manager, source);
    EXPECT_EQ(second->calls, 1) << "a memory hit on the main thread is delivered before retrieve returns";
    ASSERT_TRUE(second->succeeded());
    EXPECT_EQ(second->value().cacheType, CacheType::memory);
    EXPECT_EQ(second->value().image, first->value().image);

    cache->ioQueue()->sync([] {});
    auto freshCache = ImageCache::initNamed("retrieval", QUrl::fromLocalFile(m_caches.path()));
    auto freshManager = IrisManager::create(std::make_shared<FakeDownloader>(), freshCache);
    EXPECT_EQ(freshCache->cacheTypeOfKey(key), CacheType::disk);
    auto third = retrieve(freshManager, source);
    ASSERT_TRUE(third->wait());
    ASSERT_TRUE(third->succeeded());
    EXPECT_TRUE(third->onMainThread);
    EXPECT_EQ(third->value().cacheType, CacheType::disk);
    EXPECT_EQ(third->value().image->size(), (platform::Size { 64, 48 }));
    EXPECT_EQ(freshCache->cacheTypeOfKey(key), CacheType::memory);
    Outcome::settle(freshManager);
    EXPECT_EQ(third->calls, 1);
}

// Local files decode ahead, in parallel, on the loading queue: each request still gets the image of
// its own file, and nothing decoded ahead is left behind.
TEST_F(LocalFileRetrieval, ManyFilesAtOnceEachGetTheirOwnImage)
{
    constexpr int count = 24;
    const auto pngData = [](int width, int height, QColor color) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(color);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "png").write(image);
        return bytes;
    };
    std::vector<std::shared_ptr<Outcome>> outcomes;
    std::vector<QColor> colors;
    for (int i = 0; i < count; ++i) {
        colors.push_back(QColor::fromHsv(i * 360 / count, 255, 255));
        const QByteArray bytes
            = i % 2 ? jpegData(40 + i, 30, colors.back()) : pngData(40 + i, 30, colors.back());
        outcomes.push_back(
            retrieve(manager, convertToSource(writeFile(QStringLiteral("%1.img").arg(i), bytes))));
    }
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(outcomes[std::size_t(i)]->wait());
        ASSERT_TRUE(outcomes[std::size_t(i)]->succeeded());
        const std::shared_ptr<platform::Image>& image = outcomes[std::size_t(i)]->value().image;
        EXPECT_EQ(image->size(), (platform::Size { 40.0 + i, 30 }));
        const QColor shown = image->bitmap()->image().pixelColor(10, 10);
        EXPECT_NEAR(shown.red(), colors[std::size_t(i)].red(), 8);
        EXPECT_NEAR(shown.green(), colors[std::size_t(i)].green(), 8);
        EXPECT_NEAR(shown.blue(), colors[std::size_t(i)].blue(), 8);
    }
    Outcome::settle(manager);
    EXPECT_EQ(platform::decodeAhead::waitingBytes(), 0);
}

// Photos from phones and images from the web: HEIC and AVIF files load whole and downsampled.
TEST_F(LocalFileRetrieval, HeicAndAvifFilesLoadWholeAndDownsampled)
{
    for (const char* name : { "quadrants.heic", "quadrants-alpha.avif" }) {
        SCOPED_TRACE(name);
        QFile sample(QStringLiteral(TINDREL_SOURCE_DIR "/tests/data/images/") + QLatin1String(name));
        ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
        const Source source = convertToSource(writeFile(QLatin1String(name), sample.readAll()));
        auto whole = retrieve(manager, source);
        auto small = retrieve(manager, source,
            IrisOptionsInfo { IrisOptionsInfoItem::processor(
                std::make_shared<DownsamplingImageProcessor>(platform::Size { 16, 16 })) });
        for (const auto& [outcome, size] :
            { std::pair(whole, platform::Size { 64, 48 }), std::pair(small, platform::Size { 16, 12 }) }) {
            ASSERT_TRUE(outcome->wait());
            ASSERT_TRUE(outcome->succeeded()) << outcome->error().localizedDescription().toStdString();
            EXPECT_EQ(outcome->value().image->size(), size);
            // The top-left quadrant is red.
            const QColor shown = outcome->value().image->bitmap()->image().pixelColor(2, 2);
            EXPECT_GT(shown.red(), 230);
            EXPECT_LT(shown.green(), 30);
        }
    }
    Outcome::settle(manager);
}

TEST_F(LocalFileRetrieval, MissingFileFailsOnceWithTheProviderError)
{
    const Source source = convertToSource(QUrl::fromLocalFile(m_files.filePath("missing.jpeg")));
    auto outcome = retrieve(manager, source);
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    ASSERT_FALSE(outcome->succeeded());
    EXPECT_EQ(outcome->error().errorCode(), 5003); // dataProviderError
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(cache->cacheTypeOfKey(source.cacheKey()), CacheType::none);
}

TEST_F(LocalFileRetrieval, UndecodableBytesFailWithProcessingFailed)
{
    const Source source = convertToSource(writeFile("junk.jpeg", QByteArray(500, 'j')));
    auto outcome = retrieve(manager, source);
    ASSERT_TRUE(outcome->wait());
    ASSERT_FALSE(outcome->succeeded());
    EXPECT_EQ(outcome->error().errorCode(), 4001);
    ASSERT_TRUE(outcome->error().processorReason());
    EXPECT_EQ(outcome->error().processorReason()->item.object->isImage(), false);
}

// Damaged bytes that fail to decode ahead fail once per request: the processor does not decode them
// all over again.
TEST_F(LocalFileRetrieval, DamagedBytesAreDecodedOncePerRequest)
{
    const QByteArray good = jpegData(400, 300);
    QByteArray scrambled = good;
    for (qsizetype at = 300; at < scrambled.size(); at += 7)
        scrambled[at] = char(uchar(scrambled[at]) ^ 0x5A);
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = { { "scrambled", scrambled }, { "cut short in its header", good.left(120) } };
    JpegWarningCount warnings;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(platform::imageFromData(c.bytes));
        const int perDecode = warnings.take();
        EXPECT_GT(perDecode, 0);
        const Source source = convertToSource(writeFile(QString::fromLatin1(c.name) + ".jpeg", c.bytes));
        for (int request = 0; request < 2; ++request) {
            auto outcome = retrieve(manager, source);
            ASSERT_TRUE(outcome->wait());
            Outcome::settle(manager);
            EXPECT_EQ(outcome->error().errorCode(), 4001); // processingFailed
            EXPECT_EQ(warnings.take(), perDecode);
        }
    }
}

// A cache file that no longer decodes is removed and the image is loaded again, instead of the
// retrieval failing for as long as the broken file lives.
TEST_F(LocalFileRetrieval, CorruptCacheFileIsRemovedAndReloaded)
{
    const Source source = convertToSource(writeFile("cover.jpeg", jpegData()));
    const QString key = source.cacheKey();
    auto first = retrieve(manager, source, IrisOptionsInfo { IrisOptionsInfoItem::waitForCache() });
    ASSERT_TRUE(first->wait());
    ASSERT_TRUE(first->succeeded());
    const QString path = cache->filePathForKey(key);
    // The file's dates carry its expiry, so they are kept as they were.
    auto status = platform::fileStatus(path);
    ASSERT_TRUE(status.isSuccess());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("garbage that is no image");
    }
    ASSERT_TRUE(
        platform::setFileDates(path, status.value().accessDate, status.value().modificationDate).isSuccess());

    auto freshCache = ImageCache::initNamed("retrieval", QUrl::fromLocalFile(m_caches.path()));
    auto freshManager = IrisManager::create(std::make_shared<FakeDownloader>(), freshCache);
    ASSERT_EQ(freshCache->cacheTypeOfKey(key), CacheType::disk);
    auto second = retrieve(freshManager, source, IrisOptionsInfo { IrisOptionsInfoItem::waitForCache() });
    ASSERT_TRUE(second->wait());
    ASSERT_TRUE(second->succeeded()) << second->error().localizedDescription().toStdString();
    EXPECT_EQ(second->value().cacheType, CacheType::none);
    QFile rewritten(path);
    ASSERT_TRUE(rewritten.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QImage::fromData(rewritten.readAll()).width() == 64);
}

namespace {

// Opens nothing: every read fails as it does when the process has no descriptor left.
class OutOfDescriptorsFileSystem final : public CacheFileSystem {
public:
    Result<platform::FileContents> readFileIfAccepted(
        const QString& path, const std::function<bool(const platform::FileStatus&)>&) override
    {
        return Result<platform::FileContents>::failure(platform::PlatformError::fromErrno(EMFILE, path));
    }
};

} // namespace

// A cache file that could not be read, or whose pixels could not be had, for now is not taken for a
// broken one: with its source gone it is the only copy, and it is still there to answer later. The
// decode is made to fail by cutting the file's pixels short, as a shortage of memory would.
TEST_F(LocalFileRetrieval, ACacheFileThatCannotBeReadOrDecodedForNowIsKept)
{
    const Source source = convertToSource(writeFile("cover.jpeg", jpegData()));
    auto first = retrieve(manager, source, IrisOptionsInfo { IrisOptionsInfoItem::waitForCache() });
    ASSERT_TRUE(first->wait());
    ASSERT_TRUE(first->succeeded());
    ASSERT_TRUE(QFile::remove(source.dataProvider()->contentURL()->toLocalFile()));

    auto starved = ImageCache::create(ImageCache::ImageStorage::make(MemoryStorage::Config(1 << 24, 120)),
        std::make_shared<ImageCache::DataStorage>(DiskStorage::Config("retrieval", 0,
            std::make_shared<OutOfDescriptorsFileSystem>(), QUrl::fromLocalFile(m_caches.path()))));
    auto starvedManager = IrisManager::create(std::make_shared<FakeDownloader>(), starved);
    ASSERT_EQ(starved->cacheTypeOfKey(source.cacheKey()), CacheType::disk);
    auto second = retrieve(starvedManager, source);
    ASSERT_TRUE(second->wait());
    EXPECT_FALSE(second->succeeded());
    starved->ioQueue()->sync([] {});

    auto freshCache = ImageCache::initNamed("retrieval", QUrl::fromLocalFile(m_caches.path()));
    auto third = retrieve(IrisManager::create(std::make_shared<FakeDownloader>(), freshCache), source);
    ASSERT_TRUE(third->wait());
    ASSERT_TRUE(third->succeeded()) << third->error().localizedDescription().toStdString();
    EXPECT_EQ(third->value().cacheType, CacheType::disk);
    freshCache->ioQueue()->sync([] {});

    const QString path = cache->filePathForKey(source.cacheKey());
    auto status = platform::fileStatus(path);
    ASSERT_TRUE(status.isSuccess());
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.resize(file.size() * 2 / 3));
    }
    ASSERT_TRUE(
        platform::setFileDates(path, status.value().accessDate, status.value().modificationDate).isSuccess());
    auto cutCache = ImageCache::initNamed("retrieval", QUrl::fromLocalFile(m_caches.path()));
    auto fourth = retrieve(IrisManager::create(std::make_shared<FakeDownloader>(), cutCache), source);
    ASSERT_TRUE(fourth->wait());
    EXPECT_FALSE(fourth->succeeded());
    cutCache->ioQueue()->sync([] {});
    EXPECT_TRUE(QFile::exists(path));
}

// A view that lets go of a local file's image calls off its read: a read still waiting its turn is
// never made, nothing is decoded or stored, and the retrieval ends at once with the cancel.
TEST_F(LocalFileRetrieval, AReadCalledOffBeforeItsTurnIsNeverMade)
{
    const QUrl url = writeFile("cell.jpeg", jpegData());
    auto loading = platform::DispatchQueue::makeSerial("blocked-reads");
    auto release = std::make_shared<std::latch>(1);
    loading->async([release] { release->wait(); });
    auto provider
        = std::make_shared<LocalFileImageDataProvider>(url, std::nullopt, CallbackQueue::dispatch(loading));

    const std::shared_ptr<ImageRetrieving> retrieving = ImageRetrieving::through(manager);
    auto outcome = std::make_shared<Outcome>();
    std::optional<DownloadTask> task = retrieving->retrieveWithParsedOptions(
        Source::provider(provider), IrisParsedOptionsInfo(std::nullopt), {}, outcome->completion(outcome));
    ASSERT_TRUE(task) << "a provider's read can be called off through its retrieval";
    retrieving->cancel(*task);
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->error().isCancelledTask());

    release->count_down();
    loading->sync([] {});
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->error().isCancelledTask());
    EXPECT_EQ(cache->cacheTypeOfKey(provider->cacheKey()), CacheType::none);
}

// A retrieval called off after its file was decoded ahead, while the image waits for the processing
// queue, leaves nothing decoded behind: the image is let go with the retrieval instead of holding
// memory beyond the tier's limit until some later decode happens to sweep it away.
TEST_F(LocalFileRetrieval, AnImageDecodedAheadForARetrievalCalledOffIsLetGo)
{
    const Source source = convertToSource(writeFile("scrolled-past.jpeg", jpegData(400, 300)));
    const qint64 waitingBefore = platform::decodeAhead::waitingBytes();
    auto processing = platform::DispatchQueue::makeSerial("blocked-processing");
    auto release = std::make_shared<std::latch>(1);
    processing->async([release] { release->wait(); });

    auto cancellation = std::make_shared<RetrievalCancellation>();
    auto outcome = std::make_shared<Outcome>();
    IrisParsedOptionsInfo options(IrisOptionsInfo { IrisOptionsInfoItem::targetCache(cache),
        IrisOptionsInfoItem::processingQueue(CallbackQueue::dispatch(processing)) });
    manager->retrieveWithParsedOptions(source, options, {}, {}, outcome->completion(outcome), cancellation);
    ASSERT_TRUE(
        testsupport::waitUntil([&] { return platform::decodeAhead::waitingBytes() > waitingBefore; }));

    cancellation->cancel();
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->error().isCancelledTask());
    release->count_down();
    // The bytes reach the blocked queue some time after their image was decoded.
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return platform::decodeAhead::waitingBytes() == waitingBefore; }));
    processing->sync([] {});
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(cache->cacheTypeOfKey(source.cacheKey()), CacheType::none);
}
