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
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
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
// result; the waiting images stay within the memory tier's limit, and each is taken once, by the
// very bytes it was decoded from.
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
        decodeAheadForProcessing(c.provider, c.data, c.options, *cache);
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

    // Room for one decoded image, which the memory tier already holds.
    constexpr qint64 imageBytes = 50 * 40 * 4;
    cache->memoryStorage()->modifyConfig([](auto& config) { config.totalCostLimit = imageBytes * 3 / 2; });
    cache->memoryStorage()->storeValue(platform::imageFromData(jpeg), "kept");
    ASSERT_EQ(cache->memoryStorage()->totalCost(), imageBytes);
    decodeAheadForProcessing(concurrent, jpeg, plain, *cache);
    EXPECT_EQ(platform::decodeAhead::waitingBytes(), 0) << "the tier and the waiting images over its limit";
    cache->memoryStorage()->removeAll();
    decodeAheadForProcessing(concurrent, jpeg, plain, *cache);
    EXPECT_EQ(platform::decodeAhead::waitingBytes(), imageBytes);
    EXPECT_TRUE(platform::decodeAhead::take(jpeg));
}
