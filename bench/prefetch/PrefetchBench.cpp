// Three measurements, each against a baseline in the same run:
// 1. Prefetching 500 images from a local server that answers each request after 20 ms with 5
//    lanes, against the downloader itself kept at 5 requests in flight. Prints the ratio.
// 2. Peak memory while a ~20 MB progressive JPEG arrives in 64 KB chunks and is shown scan by scan,
//    as a multiple of the image's decoded size (width × height × 4 bytes); for comparison, the same
//    file retrieved without progressive loading.
// 3. Prefetching 1,000 and 10,000 images that are all in the memory cache, with a progress block
//    (every report hands it the three lists so far), against the same prefetch with only a
//    completion handler: the time until the completion, and the peak of the heap over its start.

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/networking/ImageDownloader.h"
#include "Iris/networking/ImagePrefetcher.h"
#include "Iris/networking/ImageProgressive.h"

#include "bench/support/BenchServer.h"
#include "bench/support/Memory.h"
#include "bench/support/ProgressiveFile.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Image.h"
#include "tests/Iris/prefetch/ProgressiveJpegFixture.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>

namespace {

using bench::BenchServer;
using Clock = std::chrono::steady_clock;

void waitFor(const std::function<bool()>& condition)
{
    while (!condition()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
}

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Resident and peak resident memory of this process, in bytes.
qint64 statusBytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// 1. Prefetch against one-by-one downloads.

double prefetchSeconds(BenchServer& server, const std::shared_ptr<iris::ImageDownloader>& downloader,
    const std::shared_ptr<iris::ImageCache>& cache, int count, int run)
{
    std::vector<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls.push_back(server.url(QStringLiteral("/prefetch/%1/%2.jpg").arg(run).arg(i)));
    bool done = false;
    std::size_t completed = 0;
    auto prefetcher = iris::ImagePrefetcher::create(urls,
        iris::IrisOptionsInfo { iris::IrisOptionsInfoItem::downloader(downloader),
            iris::IrisOptionsInfoItem::targetCache(cache), iris::IrisOptionsInfoItem::cacheMemoryOnly() },
        [&](iris::ResourceList, iris::ResourceList, iris::ResourceList finished) {
            completed = finished.size();
            done = true;
        });
    const auto start = Clock::now();
    prefetcher->start();
    waitFor([&] { return done; });
    const double elapsed = seconds(start);
    if (completed != std::size_t(count))
        std::printf("warning: prefetch completed %zu of %d\n", completed, count);
    return elapsed;
}

// The same downloads with the downloader alone, a new one started as each finishes, so that as
// many are in flight as the prefetcher has lanes.
double inFlightSeconds(BenchServer& server, const std::shared_ptr<iris::ImageDownloader>& downloader,
    int count, int inFlight, int run)
{
    int started = 0, finished = 0;
    std::function<void()> startNext = [&] {
        const int index = started++;
        downloader->downloadImage(server.url(QStringLiteral("/single/%1/%2.jpg").arg(run).arg(index)),
            iris::IrisParsedOptionsInfo(), [&](iris::ImageLoadingResultOrError) {
                ++finished;
                if (started < count)
                    startNext();
            });
    };
    const auto start = Clock::now();
    for (int i = 0; i < std::min(inFlight, count); ++i)
        startNext();
    waitFor([&] { return finished == count; });
    return seconds(start);
}

// 2. Peak memory of one retrieval of `file`, as a view would make it.

struct PeakMemory {
    qint64 peakAboveStart = 0;
    int partialImages = 0;
    double firstPartialSeconds = -1;
    double totalSeconds = 0;
};

PeakMemory retrievePeak(const QByteArray& file, bool progressive)
{
    BenchServer server(file, std::chrono::milliseconds(0), 64 * 1024, std::chrono::milliseconds(3));
    auto downloader = iris::ImageDownloader::create(QStringLiteral("bench-progressive"));
    QTemporaryDir folder;
    auto cache = iris::ImageCache::initNamed(QStringLiteral("bench"), QUrl::fromLocalFile(folder.path()));
    auto manager = iris::IrisManager::create(downloader, cache);
    iris::IrisOptionsInfo items { iris::IrisOptionsInfoItem::cacheMemoryOnly() };
    if (progressive)
        items.push_back(iris::IrisOptionsInfoItem::progressiveJPEG(
            std::make_shared<iris::ImageProgressive>(!qEnvironmentVariableIsSet("NOBLUR"), true, 0)));

    PeakMemory result;
    std::shared_ptr<platform::Image> shown;
    bool done = false;
    const qint64 before = statusBytes("VmRSS:");
    resetPeak();
    const auto start = Clock::now();
    manager->runRetrieval(
        iris::convertToSource(server.url(QStringLiteral("/large.jpg"))), iris::IrisParsedOptionsInfo(items),
        {},
        [&](std::shared_ptr<platform::Image> image) {
            if (result.partialImages++ == 0)
                result.firstPartialSeconds = seconds(start);
            shown = std::move(image);
        },
        {},
        [&](iris::RetrieveImageResultOrError outcome) {
            if (outcome.isSuccess())
                shown = outcome.value().image;
            done = true;
        });
    waitFor([&] { return done; });
    result.totalSeconds = seconds(start);
    result.peakAboveStart = statusBytes("VmHWM:") - before;
    cache->clearMemoryCache();
    return result;
}

struct HitsRun {
    double seconds = 0;
    double peakHeapMegabytes = 0;
};

// Prefetches `urls`, all memory hits, sampling the heap on the main thread until the completion.
HitsRun prefetchHits(
    const std::vector<QUrl>& urls, const std::shared_ptr<iris::ImageCache>& cache, bool withProgress)
{
    malloc_trim(0);
    const qint64 before = bench::heapInUse();
    qint64 peak = before;
    std::atomic<bool> done = false;
    std::size_t reported = 0;
    iris::PrefetcherProgressBlock progress;
    if (withProgress)
        progress = [&](iris::ResourceList skipped, iris::ResourceList, iris::ResourceList) {
            reported = skipped.size();
        };
    auto prefetcher = iris::ImagePrefetcher::create(urls,
        iris::IrisOptionsInfo { iris::IrisOptionsInfoItem::targetCache(cache) }, progress,
        [&](iris::ResourceList, iris::ResourceList, iris::ResourceList) { done = true; });
    const auto start = Clock::now();
    prefetcher->start();
    waitFor([&] {
        peak = std::max(peak, bench::heapInUse());
        return done.load();
    });
    HitsRun run { seconds(start), double(peak - before) / (1024 * 1024) };
    if (withProgress && reported != urls.size())
        std::printf("  the last report held %zu of %zu sources\n", reported, urls.size());
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);

    // PREFETCH_HITS_ONLY runs the third measurement alone.
    const bool hitsOnly = qEnvironmentVariableIsSet("PREFETCH_HITS_ONLY");

    // 1.
    if (!hitsOnly) {
        constexpr int count = 500;
        const QByteArray body = progressivejpeg::encode(bench::noisyPicture(64, 48), false, 80);
        BenchServer server(body, std::chrono::milliseconds(20));
        auto downloader = iris::ImageDownloader::create(QStringLiteral("bench-prefetch"));
        QTemporaryDir folder;
        auto cache = iris::ImageCache::initNamed(QStringLiteral("bench"), QUrl::fromLocalFile(folder.path()));
        constexpr int lanes = 5;
        // Warm connections and decoders on both paths.
        prefetchSeconds(server, downloader, cache, 10, 0);
        inFlightSeconds(server, downloader, 10, lanes, 0);
        std::vector<double> ratios;
        for (int run = 1; run <= 3; ++run) {
            const double ours = prefetchSeconds(server, downloader, cache, count, run);
            const double baseline = inFlightSeconds(server, downloader, count, lanes, run);
            ratios.push_back(ours / baseline);
            std::printf(
                "prefetch %d images, 20 ms per answer, %d lanes: %.2f s (%.1f ms each, ideal %.1f); the "
                "downloader with %d in flight: %.2f s; ratio %.2fx (target <= 1.1x)\n",
                count, lanes, ours, ours * 1000 * lanes / count, 20.0, lanes, baseline, ours / baseline);
        }
        std::sort(ratios.begin(), ratios.end());
        std::printf(
            "prefetch ratio to the downloader with %d in flight, median of 3: %.2fx\n", lanes, ratios[1]);
    }

    // 2.
    if (!hitsOnly) {
        QSize size;
        const QByteArray file = bench::progressiveFileOfAbout(20, size);
        const int width = size.width(), height = size.height();
        const double decoded = double(width) * height * 4;
        std::printf("progressive JPEG: %d x %d, %.1f MB, decoded %.1f MB\n", width, height,
            file.size() / 1048576.0, decoded / 1048576.0);
        // Peak resident memory also counts what the allocator keeps after it was freed: glibc serves
        // blocks below its (self-raising) mmap threshold from arenas that fragment. The second pair
        // fixes the threshold, so that the peak is the memory actually in use.
        for (const char* allocator : { "default glibc allocator", "mmap threshold fixed at 1 MiB" }) {
            if (allocator[0] == 'm')
                mallopt(M_MMAP_THRESHOLD, 1 << 20);
            const PeakMemory plain = retrievePeak(file, false);
            const PeakMemory shown = retrievePeak(file, true);
            std::printf("[%s]\n", allocator);
            std::printf(
                "  peak memory above start, whole file then one image: %.1f MB (%.2fx decoded), %.2f s\n",
                plain.peakAboveStart / 1048576.0, plain.peakAboveStart / decoded, plain.totalSeconds);
            std::printf(
                "  peak memory above start, shown scan by scan: %.1f MB (%.2fx decoded, target < 4x), %d "
                "partial images, first after %.2f s of %.2f s\n",
                shown.peakAboveStart / 1048576.0, shown.peakAboveStart / decoded, shown.partialImages,
                shown.firstPartialSeconds, shown.totalSeconds);
            std::printf("  progressive peak / plain peak: %.2fx\n",
                double(shown.peakAboveStart) / double(plain.peakAboveStart));
        }
    }

    // 3.
    {
        QTemporaryDir folder;
        auto cache
            = iris::ImageCache::initNamed(QStringLiteral("bench-hits"), QUrl::fromLocalFile(folder.path()));
        QImage pixels(2, 2, QImage::Format_ARGB32_Premultiplied);
        pixels.fill(Qt::red);
        const auto image = platform::Image::create(*platform::Bitmap::fromImage(pixels));
        for (int count : { 1000, 10000 }) {
            std::vector<QUrl> urls;
            for (int i = 0; i < count; ++i) {
                urls.push_back(QUrl(QStringLiteral("https://bench.invalid/%1/%2.png").arg(count).arg(i)));
                cache->storeImageForIdentifier(image, std::nullopt, urls.back().toString(), {},
                    iris::DefaultCacheSerializer::shared(), false);
            }
            prefetchHits(urls, cache, true);
            const HitsRun ours = prefetchHits(urls, cache, true);
            const HitsRun baseline = prefetchHits(urls, cache, false);
            std::printf(
                "prefetch %d memory hits with a progress block: %.3f s, heap peak +%.1f MB; with only a "
                "completion handler: %.3f s, +%.1f MB; ratio %.1fx in time\n",
                count, ours.seconds, ours.peakHeapMegabytes, baseline.seconds, baseline.peakHeapMegabytes,
                ours.seconds / baseline.seconds);
        }
        std::fflush(stdout);
    }
    return 0;
}
