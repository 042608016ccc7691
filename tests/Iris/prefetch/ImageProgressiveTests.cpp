#include "../networking/DownloaderTestSupport.h"
#include "ProgressiveJpegFixture.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/image/ImageProcessors.h"
#include "Iris/networking/ImageProgressive.h"

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageSource.h"

#include <QTemporaryDir>

#include <future>
#include <thread>

using namespace iris;
using namespace iristest;
using namespace progressivejpeg;
using testsupport::waitUntil;

namespace {

// A JPEG header that is progressive (FF C2 in it), then `body`.
QByteArray progressiveBytes(const QByteArray& body)
{
    return QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\xFF\xC2\x00\x01", 16) + body;
}

const QByteArray sos("\xFF\xDA", 2);

ImageProgressiveDecoder makeDecoder(bool isBlur = true, bool fastest = true)
{
    return ImageProgressiveDecoder(ImageProgressive(isBlur, fastest, 0), CallbackQueue::untouch(), {});
}

} // namespace

TEST(ImageProgressive, DefaultsAndStandardValue)
{
    for (const ImageProgressive& value : { ImageProgressive(), ImageProgressive::standard() }) {
        EXPECT_TRUE(value.isBlur());
        EXPECT_TRUE(value.isFastestScan());
        EXPECT_EQ(value.scanInterval(), 0.0);
        EXPECT_FALSE(value.onImageUpdated()->hasBlock());
    }
    ImageProgressive copy = ImageProgressive::standard();
    EXPECT_EQ(copy.onImageUpdated(), ImageProgressive::standard().onImageUpdated());
    EXPECT_FALSE(ImageProgressiveProvider::create(IrisParsedOptionsInfo(), {}));
    EXPECT_NE(
        ImageProgressiveProvider::progressiveProcessingQueue(), ImageDataProcessor::sharedProcessingQueue());
    EXPECT_EQ(ImageProgressiveProvider::progressiveProcessingQueue()->label(),
        ImageDataProcessor::sharedProcessingQueue()->label());
}

// Markers found in the received bytes: the first yields nothing, each later one the prefix before
// it; a marker cut after its FF is found by the next update; what is not a progressive JPEG gives
// nothing and changes nothing.
TEST(ImageProgressive, LatestScanTable)
{
    const QByteArray head = progressiveBytes("aaaa");
    const qsizetype first = head.size();
    const QByteArray one = head + sos + "bbbbbbb";
    const qsizetype second = one.size();
    const QByteArray two = one + sos + "ccc";

    ImageProgressiveDecoder decoder = makeDecoder();
    EXPECT_FALSE(decoder.scanLatest(head + sos + "bb"));
    EXPECT_EQ(decoder.scannedCount(), 1);
    // The FF of the second marker is the last byte seen.
    EXPECT_FALSE(decoder.scanLatest(one + "\xFF"));
    EXPECT_EQ(decoder.scannedCount(), 1);
    std::optional<QByteArray> prefix = decoder.scanLatest(two);
    ASSERT_TRUE(prefix);
    EXPECT_EQ(prefix->size(), second);
    EXPECT_EQ(decoder.scannedCount(), 2);
    EXPECT_FALSE(decoder.scanLatest(two));
    EXPECT_EQ(decoder.scannedIndex(), two.size() - 2);
    EXPECT_GT(second, first);

    ImageProgressiveDecoder other = makeDecoder();
    const QByteArray baseline
        = QByteArray("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\xFF\xC0", 14) + sos + "x" + sos + "y";
    EXPECT_FALSE(other.scanLatest(baseline));
    EXPECT_TRUE(other.scanEvery(QByteArray("GIF89a....") + sos + sos).empty());
    EXPECT_EQ(other.scannedCount(), 0);
    EXPECT_EQ(other.scannedIndex(), -1);
}

// The progressive marker is looked for only in bytes not seen before, so one cut after its FF, or
// arriving after many chunks of header, is still found; a baseline JPEG in chunks gives nothing.
TEST(ImageProgressive, TheProgressiveMarkerIsFoundAcrossUpdates)
{
    const QByteArray header("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11);
    const QByteArray full
        = header + QByteArray(3000, 'e') + QByteArray("\xFF\xC2\x00\x01", 4) + sos + "one" + sos + "two";
    ImageProgressiveDecoder decoder = makeDecoder();
    std::optional<qsizetype> found;
    for (qsizetype length = 12; length <= full.size() && !found; length += 7)
        found = decoder.scanLatestLength(full.first(length));
    if (!found)
        found = decoder.scanLatestLength(full);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, full.size() - sos.size() - 3);

    // Cut exactly between the FF and the C2.
    ImageProgressiveDecoder cut = makeDecoder();
    const qsizetype split = full.indexOf(QByteArray("\xFF\xC2", 2)) + 1;
    EXPECT_FALSE(cut.scanLatestLength(full.first(split)));
    EXPECT_EQ(cut.scanLatestLength(full), found);

    ImageProgressiveDecoder baseline = makeDecoder();
    QByteArray bytes = header + QByteArray("\xFF\xC0\x00\x01", 4);
    for (int chunk = 0; chunk < 50; ++chunk) {
        bytes += sos + QByteArray(100, 'x');
        EXPECT_FALSE(baseline.scanLatestLength(bytes));
    }
    EXPECT_EQ(baseline.scannedCount(), 0);
}

// Every-scan mode: three new markers after the first give three prefixes, in order.
TEST(ImageProgressive, EveryScanTable)
{
    ImageProgressiveDecoder decoder = makeDecoder(true, false);
    const QByteArray start = progressiveBytes("h") + sos + "d1";
    EXPECT_TRUE(decoder.scanEvery(start).empty());
    const QByteArray data = start + sos + "d2" + sos + "d3" + sos + "d4";
    std::vector<QByteArray> prefixes = decoder.scanEvery(data);
    ASSERT_EQ(prefixes.size(), 3u);
    EXPECT_TRUE(prefixes[0] == start);
    EXPECT_TRUE(prefixes[1] == start + sos + "d2");
    EXPECT_TRUE(prefixes[2] == start + sos + "d2" + sos + "d3");
    EXPECT_EQ(decoder.scannedCount(), 4);
    EXPECT_TRUE(decoder.scanEvery(data).empty());
}

// The markers found however the bytes are cut, including one byte at a time and cuts inside a
// marker or after FF FF, are exactly the file's own, each found once.
TEST(ImageProgressive, EveryMarkerIsFoundOnceWhateverTheChunks)
{
    QByteArray file = encode(picture(96, 64, true), true);
    // Fill bytes before a marker, as a JPEG may have.
    const qsizetype second = sosPositions(file).at(1);
    file.insert(second, QByteArray(3, '\xFF'));
    const std::vector<qsizetype> expected = sosPositions(file);
    ASSERT_GE(expected.size(), 6u);
    for (qsizetype step : { 1, 2, 3, 7, 64, 1000 }) {
        ImageProgressiveDecoder decoder = makeDecoder(true, false);
        std::vector<qsizetype> found;
        for (qsizetype length = std::min(step, file.size());; length = std::min(length + step, file.size())) {
            for (qsizetype prefix : decoder.scanEveryLengths(QByteArrayView(file).first(length)))
                found.push_back(prefix);
            if (length == file.size())
                break;
        }
        // The first marker yields no prefix.
        EXPECT_EQ(found, std::vector<qsizetype>(expected.begin() + 1, expected.end())) << step;
        EXPECT_EQ(decoder.scannedCount(), std::int64_t(expected.size())) << step;
        EXPECT_EQ(decoder.scannedIndex(), file.size() - 2) << step;
    }
}

// A progressive JPEG arriving with its declared length while the provider reads it at every chunk:
// the bytes received are never copied to make room for later ones, so a chunk costs what its own
// bytes cost however many came before it.
TEST(ImageProgressive, ReadingTheDownloadAsItGrowsCopiesNoEarlierBytes)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    IrisParsedOptionsInfo options;
    options.progressiveJPEG = std::make_shared<ImageProgressive>(false, false, 0);
    auto provider = ImageProgressiveProvider::create(options, [](auto) {});
    ASSERT_TRUE(provider);
    auto task = std::make_shared<SessionDataTask>(nullptr);
    TaskCallback callback;
    callback.options = options;
    const SessionDataTask::Callbacks callbacks { callback };
    std::atomic<bool> stop { false };

    auto idle = [&] {
        std::size_t items = 1;
        provider->queue()->queue()->sync([&] { items = provider->queue()->itemCount(); });
        return items == 0;
    };
    // Chunks come from another thread, as from the network, each followed by an update; the next
    // chunk comes once the main queue has taken the update, so chunks arrive while updates read.
    // Every 16 chunks the provider catches up, so it reads before the whole file is in.
    auto updated = std::make_shared<std::atomic<int>>(0);
    std::atomic<int> chunks { 0 };
    std::atomic<bool> sent { false };
    std::thread network([&] {
        for (qsizetype offset = 0; offset < file.size(); offset += 64, ++chunks) {
            task->didReceiveData(file.mid(offset, 64), file.size());
            platform::DispatchQueue::main()->async(
                [provider, task, callbacks, updated, length = file.size()] {
                    provider->update(std::weak_ptr<SessionDataTask>(task), callbacks, length);
                    ++*updated;
                });
            while (*updated <= chunks && !stop)
                std::this_thread::yield();
            while (chunks % 16 == 15 && !idle() && !stop)
                std::this_thread::yield();
        }
        sent = true;
    });
    const bool finished = waitUntil([&] { return sent && *updated == chunks && idle(); }, 20000);
    stop = true;
    network.join();
    ASSERT_TRUE(finished);
    EXPECT_EQ(task->mutableData(), file);
    EXPECT_EQ(task->relocatedBytes(), 0);
    EXPECT_GT(provider->decoder().scannedCount(), 1);
}

TEST(ImageProgressive, BlurTable)
{
    struct Row {
        std::int64_t count;
        bool blurs;
        double radius;
    };
    for (const Row& row : { Row { 2, true, 6 }, Row { 3, true, 2 }, Row { 4, true, 2 }, Row { 5, true, 2 },
             Row { 6, false, 2 }, Row { 9, false, 2 } }) {
        EXPECT_EQ(ImageProgressiveDecoder::blurs(true, row.count), row.blurs) << row.count;
        EXPECT_FALSE(ImageProgressiveDecoder::blurs(false, row.count));
        EXPECT_EQ(ImageProgressiveDecoder::blurRadius(row.count), row.radius) << row.count;
    }
}

namespace {

// A scheduler the test runs by hand, and a clock it sets.
struct ManualTime {
    std::mutex mutex;
    double now = 1000;
    std::vector<std::pair<double, std::function<void()>>> scheduled;

    ImageProgressiveSerialQueue::Clock clock()
    {
        return [this] {
            std::lock_guard lock(mutex);
            return now;
        };
    }
    ImageProgressiveSerialQueue::Scheduler scheduler()
    {
        return [this](double delay, std::function<void()> work) {
            std::lock_guard lock(mutex);
            scheduled.emplace_back(delay, std::move(work));
        };
    }
    std::size_t count()
    {
        std::lock_guard lock(mutex);
        return scheduled.size();
    }
    std::pair<double, std::function<void()>> at(std::size_t i)
    {
        std::lock_guard lock(mutex);
        return scheduled.at(i);
    }
};

} // namespace

// Spacing by a monotonic, injected clock: an idle queue starts at once or once the interval since
// its last drain has passed; while items wait, each starts exactly one interval after the one
// before; a work item that reports back several times finishes once.
TEST(ImageProgressive, ThrottleKeepsItsSpacing)
{
    ManualTime time;
    auto queue = ImageProgressiveSerialQueue::create(time.clock(), time.scheduler());
    auto drain = [&] { queue->queue()->sync([] {}); };
    std::vector<std::function<void()>> completions;
    std::mutex mutex;
    auto work = [&](std::function<void()> done) {
        std::lock_guard lock(mutex);
        completions.push_back(done);
    };
    auto run = [&](std::size_t i) { queue->queue()->sync(time.at(i).second); };

    queue->add(2.0, work);
    queue->add(2.0, work);
    queue->add(2.0, work);
    drain();
    ASSERT_EQ(time.count(), 1u);
    EXPECT_EQ(time.at(0).first, 0.0);
    run(0);
    ASSERT_EQ(completions.size(), 1u);
    // Surplus answers of one item must not let later items skip their spacing.
    completions[0]();
    completions[0]();
    completions[0]();
    drain();
    ASSERT_EQ(time.count(), 2u);
    EXPECT_EQ(time.at(1).first, 2.0);
    size_t items = 0;
    queue->queue()->sync([&] { items = queue->itemCount(); });
    EXPECT_EQ(items, 2u);
    run(1);
    completions[1]();
    drain();
    ASSERT_EQ(time.count(), 3u);
    EXPECT_EQ(time.at(2).first, 2.0);
    run(2);
    {
        std::lock_guard lock(time.mutex);
        time.now = 1010;
    }
    completions[2]();
    drain();
    queue->queue()->sync([&] { items = queue->itemCount(); });
    EXPECT_EQ(items, 0u);

    // Half a second after the drain the next item waits the remaining second and a half.
    {
        std::lock_guard lock(time.mutex);
        time.now = 1010.5;
    }
    queue->add(2.0, work);
    drain();
    ASSERT_EQ(time.count(), 4u);
    EXPECT_DOUBLE_EQ(time.at(3).first, 1.5);
    // Cleaned before it ran: the item never runs.
    queue->clean();
    drain();
    run(3);
    EXPECT_EQ(completions.size(), 3u);
}

// An update for a download no request waits on ends at once and does not hold up later updates.
TEST(ImageProgressive, UpdateWithoutWaitingRequestsCompletesAtOnce)
{
    IrisParsedOptionsInfo options;
    options.progressiveJPEG = std::make_shared<ImageProgressive>();
    int refreshes = 0;
    auto provider = ImageProgressiveProvider::create(options, [&](auto) { ++refreshes; });
    ASSERT_TRUE(provider);
    const QByteArray data = encode(picture(64, 48), true);
    provider->update(data, {});
    auto idle = [&] {
        std::optional<double> last;
        std::size_t items = 1;
        provider->queue()->queue()->sync([&] {
            last = provider->queue()->lastTime();
            items = provider->queue()->itemCount();
        });
        return last.has_value() && items == 0;
    };
    ASSERT_TRUE(waitUntil(idle));
    provider->update(data, {});
    ASSERT_TRUE(waitUntil([&] { return idle() && provider->decoder().scannedCount() == 0; }));
    EXPECT_EQ(refreshes, 0);
}

namespace {

class ProgressiveDownload : public DownloaderTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_caches.isValid());
        cache = ImageCache::initNamed(QStringLiteral("progressive"), QUrl::fromLocalFile(m_caches.path()));
        manager = IrisManager::create(downloader, cache);
    }

    struct Seen {
        std::vector<std::shared_ptr<platform::Image>> partial;
        std::vector<std::size_t> chunksAtPartial;
        std::optional<RetrieveImageResultOrError> result;
    };

    std::shared_ptr<Seen> retrieve(const QString& path, std::shared_ptr<const ImageProgressive> progressive,
        const std::shared_ptr<testsupport::HttpTestServer::ChunkGate>& gate,
        std::shared_ptr<const ImageProcessor> processor = nullptr)
    {
        IrisOptionsInfo items { IrisOptionsInfoItem::progressiveJPEG(std::move(progressive)) };
        if (processor)
            items.push_back(IrisOptionsInfoItem::processor(processor));
        auto seen = std::make_shared<Seen>();
        manager->runRetrieval(
            convertToSource(server.url(path)), IrisParsedOptionsInfo(items), {},
            [seen, gate](std::shared_ptr<platform::Image> image) {
                EXPECT_TRUE(testsupport::isMainThread());
                seen->partial.push_back(std::move(image));
                seen->chunksAtPartial.push_back(gate->chunksSent());
            },
            {}, [seen](RetrieveImageResultOrError result) { seen->result = std::move(result); });
        return seen;
    }

    // Lets the server send chunks until the bytes of scan `scan` (counted from 0) have started.
    // A download that arrives at once may end before any partial image is made, so tests pace it.
    void releaseThroughScan(const std::shared_ptr<testsupport::HttpTestServer::ChunkGate>& gate,
        const QByteArray& file, std::size_t scan, std::size_t chunkBytes = 1024)
    {
        const std::size_t wanted = std::size_t(sosPositions(file).at(scan)) / chunkBytes + 1;
        if (wanted > m_released + 1) {
            gate->releaseChunks(wanted - 1 - m_released);
            m_released = wanted - 1;
        }
    }

    QTemporaryDir m_caches;
    std::shared_ptr<ImageCache> cache;
    std::shared_ptr<IrisManager> manager;
    std::size_t m_released = 0;
};

} // namespace

// A progressive JPEG arriving in chunks, with pauses the test controls: the view gets a first image
// before the file is complete, later images follow, and the final image is the one-shot decode.
TEST_F(ProgressiveDownload, ShowsScansBeforeTheWholeFileArrives)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    const std::size_t chunkBytes = 1024;
    const std::size_t chunks = (std::size_t(file.size()) + chunkBytes - 1) / chunkBytes;
    const std::vector<qsizetype> scans = sosPositions(file);
    ASSERT_GE(scans.size(), 6u);
    auto gate = server.addSteppedChunks("/progressive.jpg", file.toStdString(), chunkBytes);
    server.start();

    auto seen = retrieve(QStringLiteral("/progressive.jpg"), std::make_shared<ImageProgressive>(), gate);
    // Enough chunks for the fourth scan to have started.
    const std::size_t early = std::size_t(scans[3]) / chunkBytes + 1;
    ASSERT_LT(early, chunks);
    releaseThroughScan(gate, file, 3);
    ASSERT_TRUE(waitUntil([&] { return !seen->partial.empty(); }, 10000));
    EXPECT_LE(seen->chunksAtPartial.front(), early);
    EXPECT_EQ(seen->partial.front()->pixelSize(), (platform::Size { 320, 240 }));
    releaseThroughScan(gate, file, scans.size() - 1);
    ASSERT_TRUE(waitUntil([&] { return seen->partial.size() >= 2; }, 10000));
    EXPECT_LT(seen->chunksAtPartial.back(), chunks);

    gate->releaseChunks(chunks);
    ASSERT_TRUE(waitUntil([&] { return seen->result.has_value(); }, 10000));
    ASSERT_TRUE(seen->result->isSuccess());
    const QImage final = seen->result->value().image->bitmap()->image();
    EXPECT_EQ(maxChannelDifference(final, QImage::fromData(file, "jpeg")), 0);
}

// A download without a declared length: partial images still waiting to be decoded when its last
// byte arrives are dropped, since its completion shows the whole image; they would come after it.
TEST_F(ProgressiveDownload, PartialImagesWaitingWhenAChunkedDownloadEndsAreNotDecoded)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    auto gate = server.addSteppedChunks("/late.jpg", file.toStdString(), 1024);
    server.start();
    struct FinishSeen final : ImageDownloaderDelegate {
        void downloadDidFinish(ImageDownloader&, const QUrl&, const std::optional<platform::UrlResponse>&,
            const std::optional<IrisError>&) override
        {
            finished = true;
        }
        std::atomic<bool> finished { false };
    };
    auto seen = std::make_shared<FinishSeen>();
    downloader->setDelegate(seen);
    // The decoding queue is held until the download has ended, so the decodes wait behind it.
    auto processing = platform::DispatchQueue::makeSerial("held-progressive");
    std::promise<void> release;
    processing->async([held = release.get_future().share()] { held.wait(); });
    IrisParsedOptionsInfo options;
    options.progressiveJPEG = std::make_shared<ImageProgressive>(false, false, 0);
    options.processingQueue = CallbackQueue::dispatch(processing);
    std::atomic<int> refreshes { 0 };
    auto provider = ImageProgressiveProvider::create(options, [&](auto) { ++refreshes; });
    options.onDataReceived = std::vector<std::shared_ptr<DataReceivingSideEffect>> { provider };

    auto answers = download(server.url(QStringLiteral("/late.jpg")), options);
    releaseThroughScan(gate, file, 4);
    // Two markers found: a decode is on its way to the held queue. The count is read on the queue
    // that scans.
    ASSERT_TRUE(waitUntil(
        [&] {
            std::int64_t scanned = 0;
            provider->queue()->queue()->sync([&] { scanned = provider->decoder().scannedCount(); });
            return scanned >= 2;
        },
        10000));
    gate->releaseChunks(1000);
    ASSERT_TRUE(waitUntil([&] { return seen->finished.load(); }, 10000));
    release.set_value();
    ASSERT_TRUE(waitUntil([&] { return answers->count() > 0; }, 10000));
    EXPECT_TRUE(answers->first().isSuccess());
    for (int round = 0; round < 3; ++round) {
        processing->sync([] {});
        provider->queue()->queue()->sync([] {});
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(provider->decoder().statistics().images, 0);
    EXPECT_EQ(refreshes, 0);
}

// A baseline JPEG has nothing to show before it is complete.
TEST_F(ProgressiveDownload, BaselineGivesNoPartialImage)
{
    const QByteArray file = encode(picture(160, 120, true), false);
    auto gate = server.addSteppedChunks("/baseline.jpg", file.toStdString(), 512);
    server.start();
    auto seen
        = retrieve(QStringLiteral("/baseline.jpg"), std::make_shared<ImageProgressive>(true, false, 0), gate);
    gate->releaseChunks(1000);
    ASSERT_TRUE(waitUntil([&] { return seen->result.has_value(); }, 10000));
    EXPECT_TRUE(seen->result->isSuccess());
    EXPECT_TRUE(seen->partial.empty());
}

// The updating strategy decides what the view gets: keep-current shows nothing partial, replace shows
// the caller's image.
TEST_F(ProgressiveDownload, UpdatingStrategyDecidesWhatIsShown)
{
    const QByteArray file = encode(picture(200, 150, true), true);
    auto gate = server.addSteppedChunks("/strategy.jpg", file.toStdString(), 1024);
    server.start();
    auto progressive = std::make_shared<ImageProgressive>(false, false, 0);
    auto marker = platform::Image::createEmpty(platform::Size { 1, 1 });
    auto owner = std::make_shared<int>(0);
    int asked = 0;
    progressive->onImageUpdated()->delegate<int>(owner, [&, marker](int&, std::shared_ptr<platform::Image>) {
        return ++asked % 2 ? UpdatingStrategy::keepCurrent() : UpdatingStrategy::replace(marker);
    });
    auto seen = retrieve(QStringLiteral("/strategy.jpg"), progressive, gate);
    releaseThroughScan(gate, file, 3);
    ASSERT_TRUE(waitUntil([&] { return asked >= 1; }, 10000));
    releaseThroughScan(gate, file, 6);
    ASSERT_TRUE(waitUntil([&] { return asked >= 2; }, 10000));
    gate->releaseChunks(1000);
    ASSERT_TRUE(waitUntil([&] { return seen->result.has_value(); }, 10000));
    EXPECT_EQ(int(seen->partial.size()), asked / 2);
    for (const auto& image : seen->partial)
        EXPECT_EQ(image, marker);
}

// Two views of one URL share the download but not their processors: each gets only images made by
// its own, and a view whose gate closes gets none at all.
TEST_F(ProgressiveDownload, EachViewGetsOnlyImagesMadeForItsOwnRequest)
{
    const QByteArray file = encode(picture(240, 180, true), true);
    auto gate = server.addSteppedChunks("/shared.jpg", file.toStdString(), 1024);
    server.start();
    auto small = std::make_shared<ResizingImageProcessor>(platform::Size { 24, 18 });
    auto plain
        = retrieve(QStringLiteral("/shared.jpg"), std::make_shared<ImageProgressive>(false, false, 0), gate);
    auto resized = retrieve(
        QStringLiteral("/shared.jpg"), std::make_shared<ImageProgressive>(false, false, 0), gate, small);

    IrisOptionsInfo closedItems { IrisOptionsInfoItem::progressiveJPEG(
        std::make_shared<ImageProgressive>()) };
    int closedRefreshes = 0;
    bool closedDone = false;
    manager->runRetrieval(
        convertToSource(server.url(QStringLiteral("/shared.jpg"))), IrisParsedOptionsInfo(closedItems), {},
        [&](std::shared_ptr<platform::Image>) { ++closedRefreshes; }, [] { return false; },
        [&](RetrieveImageResultOrError) { closedDone = true; });

    releaseThroughScan(gate, file, 4);
    ASSERT_TRUE(waitUntil([&] { return !plain->partial.empty() && !resized->partial.empty(); }, 10000));
    gate->releaseChunks(1000);
    ASSERT_TRUE(waitUntil([&] { return plain->result && resized->result && closedDone; }, 10000));
    EXPECT_EQ(server.totalRequests(), 1);
    for (const auto& image : plain->partial)
        EXPECT_EQ(image->pixelSize(), (platform::Size { 240, 180 }));
    for (const auto& image : resized->partial)
        EXPECT_EQ(image->pixelSize(), (platform::Size { 24, 18 }));
    EXPECT_EQ(closedRefreshes, 0);
}

// A progressive JPEG whose connection drops half-way fails and leaves nothing cached; one whose
// scan data is corrupted in the middle is decoded as far as it goes, and what is cached is what
// was delivered.
TEST_F(ProgressiveDownload, ACutOrCorruptedFileEndsOnceAndCachesNothingBroken)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    server.addShortBody("/cut.jpg", file.left(file.size() / 2).toStdString(), std::size_t(file.size()));
    QByteArray corrupted = file;
    for (qsizetype at = file.size() * 6 / 10; at < file.size() * 6 / 10 + 64; ++at)
        corrupted[at] = char(uchar(corrupted[at]) ^ 0x55);
    server.addBody("/corrupted.jpg", corrupted.toStdString(), 200, "image/jpeg");
    server.start();

    auto noGate = std::make_shared<testsupport::HttpTestServer::ChunkGate>();
    auto cut = retrieve(QStringLiteral("/cut.jpg"), std::make_shared<ImageProgressive>(), noGate);
    ASSERT_TRUE(waitUntil([&] { return cut->result.has_value(); }, 10000));
    ASSERT_TRUE(cut->result->isFailure());
    EXPECT_EQ(urlErrorCode(ImageLoadingResultOrError::failure(cut->result->error())),
        platform::UrlError::networkConnectionLost);
    cache->ioQueue()->sync([] {});
    EXPECT_EQ(cache->cacheTypeOfKey(server.url(QStringLiteral("/cut.jpg")).toString()), CacheType::none);

    auto damaged = retrieve(QStringLiteral("/corrupted.jpg"), std::make_shared<ImageProgressive>(), noGate);
    ASSERT_TRUE(waitUntil([&] { return damaged->result.has_value(); }, 10000));
    const QString key = server.url(QStringLiteral("/corrupted.jpg")).toString();
    cache->ioQueue()->sync([] {});
    // Like other decoders, libjpeg makes what it can of damaged scan data.
    ASSERT_TRUE(damaged->result->isSuccess());
    EXPECT_EQ(damaged->result->value().image->pixelSize(), (platform::Size { 320, 240 }));
    EXPECT_EQ(cache->lookUpMemory(key, IrisParsedOptionsInfo()), damaged->result->value().image);
}

namespace {

// The pixels the usual decode makes of `data`, in its format.
QImage usualDecode(const QByteArray& data)
{
    std::shared_ptr<platform::Image> image = platform::imageFromData(data);
    return image && image->bitmap() ? image->bitmap()->image() : QImage();
}

std::shared_ptr<ImageProgressiveProvider> showingProvider(IrisParsedOptionsInfo& options)
{
    options.progressiveJPEG = std::make_shared<ImageProgressive>(false, false, 0);
    auto provider = ImageProgressiveProvider::create(options, [](auto) {});
    options.onDataReceived = std::vector<std::shared_ptr<DataReceivingSideEffect>> { provider };
    return provider;
}

} // namespace

// The finished image comes from the scans the partial images were made of, not from a second decode
// of the file, and it is the usual decode to the pixel; what the cache is given is the file itself.
TEST_F(ProgressiveDownload, TheFinishedImageIsMadeFromTheScansAlreadyRead)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    const std::size_t chunkBytes = 1024;
    auto gate = server.addSteppedChunks("/finished.jpg", file.toStdString(), chunkBytes);
    server.start();
    IrisParsedOptionsInfo options;
    auto provider = showingProvider(options);
    auto answers = download(server.url(QStringLiteral("/finished.jpg")), options);
    releaseThroughScan(gate, file, 5);
    ASSERT_TRUE(waitUntil([&] { return provider->decoder().statistics().images > 0; }, 10000));
    gate->releaseChunks(file.size() / qsizetype(chunkBytes) + 1);
    ASSERT_TRUE(waitUntil([&] { return answers->count() > 0; }, 10000));
    ASSERT_TRUE(answers->first().isSuccess());
    const ImageLoadingResult loaded = answers->first().value();
    EXPECT_EQ(loaded.originalData, file);
    const QImage finished = loaded.image->bitmap()->image();
    EXPECT_EQ(finished.format(), usualDecode(file).format());
    EXPECT_TRUE(finished == usualDecode(file));
    EXPECT_EQ(loaded.image->size(), (platform::Size { 320, 240 }));
    EXPECT_EQ(provider->decoder().statistics().finishedImages, 1);
}

// The finished image is only made from the very bytes the decoder read, cleanly: damaged scan data,
// bytes a delegate replaced, or a processor of its own (which is handed the data) get the usual
// decode of what the request was given.
TEST_F(ProgressiveDownload, AnythingTheDecoderDidNotReadCleanlyIsDecodedAsUsual)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    QByteArray damaged = file;
    for (qsizetype at = file.size() * 7 / 10; at < file.size() * 7 / 10 + 64; ++at)
        damaged[at] = char(uchar(damaged[at]) ^ 0x55);
    // Changed where the decoder has long read, so that only the bytes' identity tells them apart.
    QByteArray replacement = file;
    for (qsizetype at = sosPositions(file).front() + 40; at < sosPositions(file).front() + 80; ++at)
        replacement[at] = char(uchar(replacement[at]) ^ 0x0F);
    struct Replacing final : ImageDownloaderDelegate {
        explicit Replacing(QByteArray bytes)
            : bytes(std::move(bytes))
        {
        }
        std::optional<QByteArray> modifiedDataForURL(
            ImageDownloader&, const QByteArray& data, const QUrl& url) override
        {
            return url.path().startsWith(QLatin1String("/replaced")) ? bytes : data;
        }
        QByteArray bytes;
    };
    auto replacing = std::make_shared<Replacing>(replacement);
    downloader->setDelegate(replacing);
    auto sawData = std::make_shared<std::atomic<bool>>(false);
    auto ownProcessor = std::make_shared<GeneralProcessor>(
        QStringLiteral("own"), [sawData](const ImageProcessItem& item, const IrisParsedOptionsInfo& options) {
            if (!item.isImage())
                *sawData = true;
            return DefaultImageProcessor::shared()->process(item, options);
        });

    struct Case {
        const char* path;
        QByteArray served;
        QByteArray decoded;
        std::shared_ptr<const ImageProcessor> processor;
    };
    const Case cases[] = {
        { "/damaged.jpg", damaged, damaged, nullptr },
        { "/replaced.jpg", file, replacement, nullptr },
        { "/own-processor.jpg", file, file, ownProcessor },
    };
    std::vector<std::shared_ptr<testsupport::HttpTestServer::ChunkGate>> gates;
    for (const Case& c : cases)
        gates.push_back(server.addSteppedChunks(c.path, c.served.toStdString(), 1024));
    server.start();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        IrisParsedOptionsInfo options;
        if (c.processor)
            options.processor = c.processor;
        auto provider = showingProvider(options);
        auto answers = download(server.url(QString::fromLatin1(c.path)), options);
        m_released = 0;
        releaseThroughScan(gates[i], c.served, 5);
        ASSERT_TRUE(waitUntil([&] { return provider->decoder().statistics().images > 0; }, 10000)) << c.path;
        gates[i]->releaseChunks(1000);
        ASSERT_TRUE(waitUntil([&] { return answers->count() > 0; }, 10000)) << c.path;
        ASSERT_TRUE(answers->first().isSuccess()) << c.path;
        const ImageLoadingResult loaded = answers->first().value();
        EXPECT_TRUE(loaded.image->bitmap()->image() == usualDecode(c.decoded)) << c.path;
        EXPECT_EQ(provider->decoder().statistics().finishedImages, 0) << c.path;
    }
    EXPECT_TRUE(sawData->load());
}

// A download cancelled after its first partial images answers once, and the decoder that read its
// scans, with everything it held, goes with the last reference to the request.
TEST_F(ProgressiveDownload, ACancelledDownloadLeavesNothingBehind)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    auto gate = server.addSteppedChunks("/cancelled.jpg", file.toStdString(), 1024);
    server.start();
    std::weak_ptr<ImageProgressiveProvider> weakProvider;
    std::shared_ptr<Answers> answers;
    {
        IrisParsedOptionsInfo options;
        auto provider = showingProvider(options);
        weakProvider = provider;
        std::optional<DownloadTask> task;
        answers = download(server.url(QStringLiteral("/cancelled.jpg")), options, &task);
        ASSERT_TRUE(task);
        releaseThroughScan(gate, file, 4);
        ASSERT_TRUE(waitUntil([&] { return provider->decoder().statistics().images > 0; }, 10000));
        task->cancel();
        ASSERT_TRUE(waitUntil([&] { return answers->count() > 0; }, 10000));
        EXPECT_TRUE(answers->first().isFailure());
        EXPECT_EQ(provider->decoder().statistics().finishedImages, 0);
    }
    // The answer's error names the download, which holds the request's options until it goes.
    EXPECT_EQ(answers->count(), 1);
    answers.reset();
    gate->releaseChunks(1000);
    // Work still queued for it holds it until it has run.
    EXPECT_TRUE(waitUntil([&] { return weakProvider.expired(); }, 10000));
}

// A partial image still being processed when the retrieval ends (its final image delivered, or
// called off) never reaches the caller: it would replace the finished picture.
TEST_F(ProgressiveDownload, NoPartialImageReachesTheCallerAfterTheRetrievalEnded)
{
    const QByteArray file = encode(picture(320, 240, true), true);
    const std::shared_ptr<testsupport::HttpTestServer::ChunkGate> gates[]
        = { server.addSteppedChunks("/ends.jpg", file.toStdString(), 1024),
              server.addSteppedChunks("/called-off.jpg", file.toStdString(), 1024) };
    server.start();
    for (const bool cancel : { false, true }) {
        SCOPED_TRACE(cancel ? "called off" : "finished");
        // Partial images reach the processor as images, the final one as data: only partial ones wait.
        struct Release {
            std::promise<void> promise;
            ~Release()
            {
                try {
                    promise.set_value();
                } catch (const std::future_error&) {
                }
            }
        } release;
        auto held = std::make_shared<std::atomic<bool>>(false);
        auto holding = std::make_shared<GeneralProcessor>(QStringLiteral("holding"),
            [wait = release.promise.get_future().share(), held](
                const ImageProcessItem& item, const auto& options) {
                if (item.isImage() && (*held = true))
                    wait.wait();
                return DefaultImageProcessor::shared()->process(item, options);
            });
        auto ended = std::make_shared<std::atomic<bool>>(false);
        auto late = std::make_shared<std::atomic<int>>(0);
        auto cancellation = std::make_shared<RetrievalCancellation>();
        manager->runRetrieval(
            convertToSource(server.url(cancel ? "/called-off.jpg" : "/ends.jpg")),
            IrisParsedOptionsInfo({ { IrisOptionsInfoItem::processor(holding),
                IrisOptionsInfoItem::progressiveJPEG(std::make_shared<ImageProgressive>(false, true, 0)) } }),
            {}, [=](auto) { *late += *ended || cancellation->isCancelled(); }, {},
            [ended](auto) { *ended = true; }, cancellation);
        m_released = 0;
        releaseThroughScan(gates[cancel], file, 3);
        ASSERT_TRUE(waitUntil([&] { return held->load(); }, 10000));
        cancel ? cancellation->cancel() : gates[cancel]->releaseChunks(1000);
        ASSERT_TRUE(waitUntil([&] { return ended->load(); }, 10000));
        release.promise.set_value();
        ImageProgressiveProvider::progressiveProcessingQueue()->sync([] {});
        QCoreApplication::processEvents();
        EXPECT_EQ(*late, 0);
        gates[cancel]->releaseChunks(1000);
    }
}
