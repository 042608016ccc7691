// CPU time of one large progressive JPEG arriving in 64 KB chunks from the local server and shown
// scan by scan, against the same download with progressive display off, and against decoding the
// file alone. Showing the scans should cost what their decodes cost, whatever the file's size: no
// step may copy or scan the bytes that came before it, and the finished image comes from the scans
// already read. The same display without blurring tells the partial images' blur from the rest.

#include "bench/download/ProgressiveDownload.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/networking/ImageDownloader.h"
#include "Iris/networking/ImageProgressive.h"
#include "Iris/networking/SessionDataTask.h"

#include "bench/support/BareJpeg.h"
#include "bench/support/BenchServer.h"
#include "bench/support/ProgressiveFile.h"
#include "platform/graphics/Image.h"
#include "tests/Iris/prefetch/ProgressiveJpegFixture.h"

#include <QEventLoop>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

// Every thread of the process: the network thread, the scanning and decoding queues and the main
// thread all count.
double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct Run {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int partialImages = 0;
    // Bytes of earlier chunks the download's accumulation copied to make room for later ones.
    std::int64_t relocatedBytes = -1;
    bool succeeded = false;
};

enum class Display { progressive, progressiveUnblurred, off };

Run retrieve(
    iris::IrisManager& manager, iris::ImageCache& cache, BenchServer& server, int index, Display display)
{
    iris::IrisOptionsInfo items { iris::IrisOptionsInfoItem::cacheMemoryOnly() };
    if (display != Display::off)
        items.push_back(iris::IrisOptionsInfoItem::progressiveJPEG(
            std::make_shared<iris::ImageProgressive>(display == Display::progressive, true, 0)));

    Run run;
    // The main thread sleeps while it waits, so that the CPU time is the work's alone.
    QEventLoop loop;
    std::shared_ptr<platform::Image> shown;
    const double cpuStart = processCpuSeconds();
    const auto start = Clock::now();
    const std::optional<iris::DownloadTask> task = manager.runRetrieval(
        iris::convertToSource(server.url(QStringLiteral("/large/%1.jpg").arg(index))),
        iris::IrisParsedOptionsInfo(items), {},
        [&](std::shared_ptr<platform::Image> image) {
            ++run.partialImages;
            shown = std::move(image);
        },
        {},
        [&](iris::RetrieveImageResultOrError outcome) {
            run.succeeded = outcome.isSuccess();
            if (run.succeeded)
                shown = outcome.value().image;
            loop.quit();
        });
    loop.exec();
    if (task && task->sessionTask)
        run.relocatedBytes = task->sessionTask->relocatedBytes();
    run.cpuSeconds = processCpuSeconds() - cpuStart;
    run.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    cache.clearMemoryCache();
    return run;
}

} // namespace

int progressiveDownload()
{
    QSize size;
    const QByteArray file = bench::progressiveFileOfAbout(20, size);
    constexpr std::size_t chunkBytes = 64 * 1024;
    // A short pause between chunks makes each its own arrival, as on a real network.
    BenchServer server(file, std::chrono::milliseconds(0), chunkBytes, std::chrono::milliseconds(1));
    std::printf("progressive JPEG: %d x %d, %.1f MB, %d scans, %lld chunks of 64 KB\n", size.width(),
        size.height(), file.size() / 1048576.0, int(progressivejpeg::sosPositions(file).size()),
        static_cast<long long>((file.size() + qsizetype(chunkBytes) - 1) / qsizetype(chunkBytes)));

    auto downloader = iris::ImageDownloader::create(QStringLiteral("bench-progressive"));
    QTemporaryDir folder;
    auto cache = iris::ImageCache::initNamed(QStringLiteral("bench"), QUrl::fromLocalFile(folder.path()));
    auto manager = iris::IrisManager::create(downloader, cache);
    // Warm the connection and the decoders.
    retrieve(*manager, *cache, server, 0, Display::progressive);

    double bestDecode = 1e300;
    Run bestShown, bestUnblurred, bestPlain;
    bestShown.cpuSeconds = bestUnblurred.cpuSeconds = bestPlain.cpuSeconds = 1e300;
    bool allSucceeded = true;
    int index = 1;
    for (int round = 0; round < 5; ++round) {
        const double decodeStart = processCpuSeconds();
        const bool decoded = !bareJpegDecode(file).isNull();
        bestDecode = std::min(bestDecode, processCpuSeconds() - decodeStart);
        const Run shown = retrieve(*manager, *cache, server, index++, Display::progressive);
        const Run unblurred = retrieve(*manager, *cache, server, index++, Display::progressiveUnblurred);
        const Run plain = retrieve(*manager, *cache, server, index++, Display::off);
        allSucceeded = allSucceeded && decoded && shown.succeeded && unblurred.succeeded && plain.succeeded;
        if (shown.cpuSeconds < bestShown.cpuSeconds)
            bestShown = shown;
        if (unblurred.cpuSeconds < bestUnblurred.cpuSeconds)
            bestUnblurred = unblurred;
        if (plain.cpuSeconds < bestPlain.cpuSeconds)
            bestPlain = plain;
    }
    std::printf("CPU time, best of 5: shown scan by scan %.0f ms (%d partial images, %.2f s wall); "
                "progressive display off %.0f ms (%.2f s wall); the file decoded alone %.0f ms\n",
        bestShown.cpuSeconds * 1e3, bestShown.partialImages, bestShown.wallSeconds,
        bestPlain.cpuSeconds * 1e3, bestPlain.wallSeconds, bestDecode * 1e3);
    std::printf("  bytes the accumulation copied to make room, shown / off: %.1f MB / %.1f MB\n",
        bestShown.relocatedBytes / 1048576.0, bestPlain.relocatedBytes / 1048576.0);
    std::printf("  shown / off: %.2fx; shown / decode alone: %.2fx; off / decode alone: %.2fx\n",
        bestShown.cpuSeconds / bestPlain.cpuSeconds, bestShown.cpuSeconds / bestDecode,
        bestPlain.cpuSeconds / bestDecode);
    std::printf("  shown without blurring %.0f ms (%d partial images); its ratio to off: %.2fx\n",
        bestUnblurred.cpuSeconds * 1e3, bestUnblurred.partialImages,
        bestUnblurred.cpuSeconds / bestPlain.cpuSeconds);
    return allSucceeded ? 0 : 1;
}

} // namespace bench
