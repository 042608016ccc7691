#include "Iris/cache/CacheFileSystem.h"
#include "Iris/cache/ImageCache.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/general/Source.h"
#include "Iris/image/ImageProcessors.h"

#include "platform/graphics/DecodeAhead.h"
#include "platform/graphics/ImageSource.h"

#include "support/TestSupport.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace iris;

namespace {

struct Outcome {
    std::atomic<int> calls { 0 };
    std::optional<ProviderDataResult> result;
    std::atomic<bool> onLoadingQueue { false };
};

// Runs `provider.data` and waits for its one answer.
std::shared_ptr<Outcome> load(
    const ImageDataProvider& provider, const std::shared_ptr<platform::DispatchQueue>& queue = {})
{
    auto outcome = std::make_shared<Outcome>();
    provider.data([outcome, queue](ProviderDataResult result) {
        outcome->onLoadingQueue = !queue || queue->isCurrent() || !testsupport::isMainThread();
        outcome->result = std::move(result);
        ++outcome->calls;
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return outcome->calls > 0; }));
    return outcome;
}

} // namespace

TEST(ImageDataProvider, LocalFileKeysAndContentURL)
{
    const QUrl url = QUrl::fromLocalFile("/Users/u/a.png");
    LocalFileImageDataProvider derived(url);
    EXPECT_EQ(derived.cacheKey(), localFileCacheKey(url));
    LocalFileImageDataProvider given(url, QStringLiteral("given"));
    EXPECT_EQ(given.cacheKey(), "given");
    given.setCacheKey(QStringLiteral("later"));
    EXPECT_EQ(given.cacheKey(), "later");
    EXPECT_EQ(given.contentURL(), url);
    EXPECT_FALSE(RawImageDataProvider(QByteArray(), "k").contentURL());
    EXPECT_FALSE(Base64ImageDataProvider("", "k").contentURL());
}

TEST(ImageDataProvider, LocalFileReadsOnItsQueueAfterReturning)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("a.bin");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("bytes");
    out.close();

    auto queue = platform::DispatchQueue::makeSerial("provider-test");
    LocalFileImageDataProvider provider(
        QUrl::fromLocalFile(path), std::nullopt, CallbackQueue::dispatch(queue));
    // Asked from inside the loading queue itself, the read can only start once `data` has returned.
    auto returned = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> answeredBeforeReturn { false };
    auto outcome = std::make_shared<Outcome>();
    queue->sync([&] {
        provider.data([&, outcome, returned](ProviderDataResult result) {
            answeredBeforeReturn = !*returned;
            outcome->onLoadingQueue = queue->isCurrent();
            outcome->result = std::move(result);
            ++outcome->calls;
        });
        *returned = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome->calls > 0; }));
    EXPECT_FALSE(answeredBeforeReturn);
    EXPECT_TRUE(outcome->onLoadingQueue);
    ASSERT_TRUE(outcome->result->isSuccess());
    EXPECT_EQ(outcome->result->value(), QByteArray("bytes"));

    // A read called off before its turn comes fails once without reading; whether it was called off
    // is asked when the turn comes, not when the read is asked for.
    std::atomic<bool> calledOff { false };
    auto skipped = std::make_shared<Outcome>();
    queue->sync([&] {
        provider.dataUnlessCancelled(
            [skipped](ProviderDataResult result) {
                skipped->result = std::move(result);
                ++skipped->calls;
            },
            [&calledOff] { return calledOff.load(); });
        calledOff = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return skipped->calls > 0; }));
    queue->sync([] {});
    EXPECT_EQ(skipped->calls, 1);
    ASSERT_TRUE(skipped->result->isFailure());
    EXPECT_EQ(skipped->result->error().code, ECANCELED);
}

// Anything but a regular file within the size cap fails, once, rather than blocking or flooding.
TEST(ImageDataProvider, LocalFileRefusesWhatIsNotASmallRegularFile)
{
    QTemporaryDir folder;
    const QString fifo = folder.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString big = folder.filePath("big.bin");
    {
        QFile out(big);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_TRUE(out.resize(maximumProviderFileSizeBytes + 1)); // sparse: costs no disk space
    }
    const QString paths[] = { folder.filePath("missing.png"), fifo, "/dev/zero", folder.path(), big };
    for (const QString& path : paths) {
        LocalFileImageDataProvider provider(QUrl::fromLocalFile(path));
        auto outcome = load(provider);
        EXPECT_EQ(outcome->calls, 1) << path.toStdString();
        EXPECT_TRUE(outcome->result->isFailure()) << path.toStdString();
        EXPECT_TRUE(outcome->onLoadingQueue);
    }

    LocalFileImageDataProvider capped(QUrl::fromLocalFile(big));
    capped.setMaximumFileSizeBytes(10);
    auto outcome = load(capped);
    ASSERT_TRUE(outcome->result->isFailure());
    EXPECT_EQ(outcome->result->error().code, EFBIG);
}

// A file within the caps whose bytes do not fit in the memory left is a failed read, whether a
// local image or a disk-cache file, never an exception on a loading or cache thread.
TEST(ImageDataProvider, ReadsBeyondTheMemoryLeftFail)
{
    QTemporaryDir folder;
    const QString large = folder.filePath("large.png");
    {
        QFile out(large);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_TRUE(out.resize(200 << 20)); // sparse: costs no disk space
    }
    int local = 0, cached = 0;
    if (!testsupport::withAddressSpaceHeadroom(rlim_t(128) << 20, [&] {
            auto read = dataWithContentsOfURL(QUrl::fromLocalFile(large));
            local = read.isFailure() ? read.error().code : -1;
            auto cacheRead = CacheFileSystem::defaultFileSystem()->readFileIfAccepted(
                large, [](const platform::FileStatus&) { return true; });
            cached = cacheRead.isFailure() ? cacheRead.error().code : -1;
        }))
        GTEST_SKIP() << "no address-space limit under a sanitizer";
    EXPECT_EQ(local, ENOMEM);
    EXPECT_EQ(cached, ENOMEM);
}

TEST(ImageDataProvider, RawAndBase64AnswerBeforeReturning)
{
    int calls = 0;
    RawImageDataProvider raw(QByteArray("abc"), "k");
    raw.data([&](ProviderDataResult result) {
        ++calls;
        ASSERT_TRUE(result.isSuccess());
        EXPECT_EQ(result.value(), QByteArray("abc"));
    });
    EXPECT_EQ(calls, 1);

    struct Case {
        const char* text;
        std::optional<QByteArray> bytes;
    };
    const Case cases[] = {
        { "YWJj", QByteArray("abc") },
        { "YWI=", QByteArray("ab") },
        { "YQ==", QByteArray("a") },
        { "", QByteArray() },
        { "YWJj\n", std::nullopt },
        { "YW Jj", std::nullopt },
        { "YWJ", std::nullopt },
        { "Y=Jj", std::nullopt },
        { "YWJj====", std::nullopt },
        { "YW-j", std::nullopt },
    };
    for (const Case& c : cases) {
        calls = 0;
        Base64ImageDataProvider provider(QString::fromLatin1(c.text), "k");
        provider.data([&](ProviderDataResult result) {
            ++calls;
            EXPECT_EQ(result.isSuccess(), c.bytes.has_value()) << c.text;
            if (result.isSuccess() && c.bytes) {
                EXPECT_EQ(result.value(), *c.bytes) << c.text;
            }
            if (result.isFailure()) {
                EXPECT_EQ(result.error().domain, Base64ImageDataProvider::errorDomain());
            }
        });
        EXPECT_EQ(calls, 1) << c.text;
    }
}

// Bytes are decoded ahead only where that overlaps with other work and the processor will take the
// result; the waiting images and the memory tier stay within the tier's limit together, and each is
// taken once, by the very bytes it was decoded from.
TEST(ImageDataProvider, DecodesAheadOnlyWhatTheProcessorWillTake)
{
    QTemporaryDir folder;
    auto cache = ImageCache::initNamed("decode-ahead", QUrl::fromLocalFile(folder.path()));
    QImage picture(50, 40, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "jpeg").write(picture);
    }
    const QByteArray gif = QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs=");
    const QUrl url = QUrl::fromLocalFile(folder.filePath("a.jpeg"));
    const LocalFileImageDataProvider concurrent(url);
    const LocalFileImageDataProvider serial(
        url, std::nullopt, CallbackQueue::dispatch(platform::DispatchQueue::makeSerial("serial-loading")));
    const RawImageDataProvider raw(jpeg, "raw");
    IrisParsedOptionsInfo plain;
    IrisParsedOptionsInfo blurred;
    blurred.processor = std::make_shared<BlurImageProcessor>(2);

    struct Case {
        const char* name;
        const ImageDataProvider& provider;
        const QByteArray& data;
        const IrisParsedOptionsInfo& options;
        bool decodedAhead;
    };
    const Case cases[] = {
        { "a local file for the default processor", concurrent, jpeg, plain, true },
        { "a GIF, which decodes as an animation", concurrent, gif, plain, false },
        { "another processor", concurrent, jpeg, blurred, false },
        { "a serial loading queue", serial, jpeg, plain, false },
        { "bytes handed over on the caller's thread", raw, jpeg, plain, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto reservation = decodeAheadForProcessing(c.provider, c.data, c.options, *cache);
        EXPECT_EQ(reservation != nullptr, c.decodedAhead);
        EXPECT_EQ(platform::decodeAhead::waitingBytes() > 0, c.decodedAhead);
        // Equal bytes elsewhere are not the same bytes.
        EXPECT_FALSE(platform::decodeAhead::take(QByteArray(c.data.constData(), c.data.size())));
        const std::shared_ptr<platform::Image> taken = platform::decodeAhead::take(c.data);
        EXPECT_EQ(taken != nullptr, c.decodedAhead);
        if (taken) {
            EXPECT_EQ(taken->bitmap()->image(), platform::imageFromData(c.data)->bitmap()->image());
        }
        EXPECT_FALSE(platform::decodeAhead::take(c.data));
    }

    // Room for one decoded image, which the memory tier already holds: the image on its way in takes
    // the room of the least recently used one, which the tier drops, and keeps it until it is stored.
    constexpr qint64 imageBytes = 50 * 40 * 4;
    const auto& memory = cache->memoryStorage();
    memory->modifyConfig([](auto& config) { config.totalCostLimit = imageBytes * 3 / 2; });
    memory->storeValue(platform::imageFromData(jpeg), "kept");
    ASSERT_EQ(memory->totalCost(), imageBytes);
    {
        auto reservation = decodeAheadForProcessing(concurrent, jpeg, plain, *cache);
        ASSERT_TRUE(reservation);
        EXPECT_EQ(platform::decodeAhead::waitingBytes(), imageBytes);
        EXPECT_FALSE(memory->containsValue("kept"));
        EXPECT_EQ(memory->reservedCost(), imageBytes);
        // A second one finds no room beside the first, which cannot be dropped.
        const QByteArray other(jpeg.constData(), jpeg.size());
        EXPECT_FALSE(decodeAheadForProcessing(concurrent, other, plain, *cache));
        EXPECT_EQ(platform::decodeAhead::waitingBytes(), imageBytes);
        // Stored while its room is still held, the tier would be over the limit: the room goes first.
        reservation->release();
        EXPECT_EQ(memory->reservedCost(), 0);
        memory->storeValue(platform::decodeAhead::take(jpeg), "stored");
        EXPECT_TRUE(memory->containsValue("stored"));
    }
    // An image larger than the whole tier is never decoded ahead, and dropping a reservation gives
    // its room back.
    memory->modifyConfig([](auto& config) { config.totalCostLimit = imageBytes / 2; });
    EXPECT_FALSE(decodeAheadForProcessing(concurrent, jpeg, plain, *cache));
    memory->modifyConfig([](auto& config) { config.totalCostLimit = imageBytes * 3 / 2; });
    EXPECT_TRUE(decodeAheadForProcessing(concurrent, jpeg, plain, *cache));
    EXPECT_EQ(memory->reservedCost(), 0);
    EXPECT_TRUE(platform::decodeAhead::take(jpeg));
}

// Local files load (and decode) on at most two threads a core, whatever the number of requests: the
// others wait for a lane and then all load.
TEST(ImageDataProvider, LocalFilesLoadOnAtMostTwoThreadsACore)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("a.bin");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("bytes");
    }
    const int width = 2 * std::max(1, QThread::idealThreadCount());
    const int count = 3 * width;
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0, mostRunning = 0, finished = 0, released = 0, loaded = 0;
    std::vector<std::unique_ptr<LocalFileImageDataProvider>> providers;
    for (int i = 0; i < count; ++i) {
        providers.push_back(std::make_unique<LocalFileImageDataProvider>(QUrl::fromLocalFile(path)));
        providers.back()->data([&](ProviderDataResult result) {
            std::unique_lock lock(mutex);
            mostRunning = std::max(mostRunning, ++running);
            loaded += result.isSuccess() && result.value() == "bytes" ? 1 : 0;
            changed.notify_all();
            // Each handler holds its lane until the test lets one more go.
            changed.wait(lock, [&] { return released > finished; });
            --running;
            ++finished;
            changed.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    // Whatever happens, every handler is let go before the test's state goes away.
    const auto releaseAll = qScopeGuard([&] {
        released = count;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return finished == count; });
    });
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return running >= width; }));
    for (int i = 0; i < count; ++i) {
        ++released;
        changed.notify_all();
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return finished == i + 1; }));
    }
    EXPECT_EQ(mostRunning, width);
    EXPECT_EQ(loaded, count);
}
