// Retrieves 200 cover images (1 MP JPEG files) through the retrieval manager, cold, then as memory
// hits, then as disk hits in a new cache over the same folder, then cold again into a memory tier
// limited to a quarter of their decoded size, and compares each pass with bare libjpeg-turbo decodes
// of the same files in the same run: on as many threads as cores, each image dropped at once (so
// that they never touch fresh memory), the strongest bare way to decode many files; the same keeping
// the images; and serial decodes for the serial disk hits. Prints the times, the CPU times, the page
// faults, the ratios (ours / baseline), and the peak heap of the limited pass against the tier's limit.

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/networking/ImageDownloader.h"

#include "bench/support/BareJpeg.h"
#include "platform/graphics/DecodeAhead.h"
#include "platform/graphics/Image.h"

#include <QAbstractEventDispatcher>
#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace iris;

namespace {

constexpr int coverCount = 200;
constexpr int repetitions = 5;

std::atomic<std::uint64_t> g_sink { 0 };

double seconds(const std::function<void()>& run)
{
    auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A 1152 x 864 picture (about 1 MP) with gradients and noise, so that it decodes like a photo.
QImage makePicture(int seed)
{
    QImage image(1152, 864, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random() % 24);
            line[x] = qRgb((x * 255 / image.width() + noise + seed * 13) & 255,
                (y * 255 / image.height() + noise) & 255, ((x + y) / 8 + noise) & 255);
        }
    }
    return image;
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Page faults served without a read from disk: mostly fresh memory touched for the first time, each
// page of it zeroed and mapped by the system before the first write can go on.
long minorPageFaults()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Bytes the allocator has handed out and not had back, over all its arenas: what live objects hold.
// The resident set also keeps what was freed but not yet returned to the system.
qint64 heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// Samples the heap in use on a thread of its own until destroyed, and keeps the highest figure.
class HeapPeak {
public:
    HeapPeak()
        : m_base(heapInUse())
        , m_sampler([this] {
            while (!m_stop) {
                m_peak = std::max<qint64>(m_peak, heapInUse());
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        })
    {
    }
    ~HeapPeak() { stop(); }
    qint64 growth()
    {
        stop();
        return m_peak - m_base;
    }

private:
    void stop()
    {
        m_stop = true;
        if (m_sampler.joinable())
            m_sampler.join();
    }
    const qint64 m_base;
    std::atomic<qint64> m_peak { 0 };
    std::atomic<bool> m_stop { false };
    std::thread m_sampler;
};

bool runUntil(const std::function<bool()>& done, int timeoutMs = 120000)
{
    QDeadlineTimer deadline(timeoutMs);
    // Wakes the wait below at the deadline when nothing else does.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        // Sleeps until the next event, as an application's main thread does, rather than spinning on
        // a core the retrievals' work could use. (QCoreApplication::processEvents with a time limit
        // never sleeps: it drops WaitForMoreEvents, and its loop polled 50-200 ms of CPU a pass.)
        QCoreApplication::eventDispatcher()->processEvents(
            QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Retrieves every source through `manager` and waits for all completions on the main thread.
bool retrieveAll(const std::shared_ptr<IrisManager>& manager, const std::vector<Source>& sources,
    CacheType expected, const std::optional<IrisOptionsInfo>& options = std::nullopt)
{
    int completed = 0;
    bool allExpected = true;
    for (const Source& source : sources) {
        manager->retrieveSource(source, options, {}, {}, [&](RetrieveImageResultOrError result) {
            ++completed;
            if (!result.isSuccess() || result.value().cacheType != expected) {
                allExpected = false;
                return;
            }
            g_sink += std::uint64_t(result.value().image->size().width);
        });
    }
    return runUntil([&] { return completed == int(sources.size()); }) && allExpected;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTemporaryDir files;
    std::vector<QString> paths;
    std::vector<Source> sources;
    for (int index = 0; index < coverCount; ++index) {
        static std::vector<QByteArray> variants;
        if (variants.empty()) {
            for (int seed = 0; seed < 8; ++seed) {
                QByteArray bytes;
                QBuffer buffer(&bytes);
                buffer.open(QIODevice::WriteOnly);
                QImageWriter writer(&buffer, "jpeg");
                writer.setQuality(90);
                writer.write(makePicture(seed));
                variants.push_back(bytes);
            }
        }
        const QString path = files.filePath(QStringLiteral("%1-cover-image.jpeg").arg(index));
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(variants[index % variants.size()]);
        out.close();
        paths.push_back(path);
        sources.push_back(convertToSource(QUrl::fromLocalFile(path)));
    }

    // Reads and decodes one cover the bare way; the image is dropped, or kept in `kept`.
    auto bareDecodeOne = [&](std::size_t index, QImage* kept) {
        QFile file(paths[index]);
        if (!file.open(QIODevice::ReadOnly))
            std::abort();
        QImage image = bench::bareJpegDecode(file.readAll());
        g_sink += std::uint64_t(image.width());
        if (kept)
            *kept = std::move(image);
    };
    auto bareDecode = [&](bool keep) {
        std::vector<QImage> kept(keep ? paths.size() : 0);
        for (std::size_t index = 0; index < paths.size(); ++index)
            bareDecodeOne(index, keep ? &kept[index] : nullptr);
    };
    // The same on as many threads as there are cores, each taking the next file.
    const int threadCount = std::max(1, QThread::idealThreadCount());
    auto bareParallelDecode = [&](bool keep) {
        std::vector<QImage> kept(keep ? paths.size() : 0);
        std::atomic<std::size_t> next { 0 };
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back([&] {
                for (std::size_t index = next++; index < paths.size(); index = next++)
                    bareDecodeOne(index, keep ? &kept[index] : nullptr);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    };

    // Each pass is timed on the wall clock and by the CPU time the whole process spent in it (every
    // thread, user and system): on a machine shared with other work the wall figures swing with the
    // others' load, the CPU figures much less. The page faults are those of the fastest round.
    struct Pass {
        double seconds = 1e300;
        double cpuSeconds = 1e300;
        long pageFaults = 0;
        void keepBest(double wall, double cpu, long faults)
        {
            if (wall < seconds)
                pageFaults = faults;
            seconds = std::min(seconds, wall);
            cpuSeconds = std::min(cpuSeconds, cpu);
        }
    };
    auto timed = [](Pass& pass, const std::function<void()>& run) {
        const double cpuBefore = processCpuSeconds();
        const long faultsBefore = minorPageFaults();
        const double wall = seconds(run);
        pass.keepBest(wall, processCpuSeconds() - cpuBefore, minorPageFaults() - faultsBefore);
    };

    // Memory: a cold pass into a cache whose memory tier holds at most 200 MB, a quarter of the
    // covers' decoded size, caching in memory only (the disk tier's writes would hold each image
    // until it is encoded). The images on their way into the tier hold room in it.
    constexpr qint64 smallLimit = 200 << 20;
    qint64 boundedHeapPeak = 0, waitingAfter = 0;
    Pass parallel, parallelKeeping, serial, cold, bounded, memory, disk;
    double bestWrites = 1e300;
    auto downloader = std::make_shared<ImageDownloader>(QStringLiteral("bench"));
    for (int round = 0; round < repetitions; ++round) {
        QTemporaryDir cacheFolder;
        const QUrl folder = QUrl::fromLocalFile(cacheFolder.path());
        auto cache = ImageCache::initNamed(QStringLiteral("bench"), folder);
        auto manager = IrisManager::create(downloader, cache);

        // The keeping baseline runs last in a round, so that the memory it frees is not what the
        // cold pass then finds ready.
        timed(parallel, [&] { bareParallelDecode(false); });
        bool ok = true;
        // The cold pass ends with the last completion; the cache's disk writes (each image encoded
        // again and written on the cache's one I/O queue) go on after it and are timed apart.
        const auto coldStart = std::chrono::steady_clock::now();
        timed(cold, [&] { ok = retrieveAll(manager, sources, CacheType::none) && ok; });
        cache->ioQueue()->sync([] {});
        bestWrites = std::min(
            bestWrites, std::chrono::duration<double>(std::chrono::steady_clock::now() - coldStart).count());
        timed(memory, [&] { ok = retrieveAll(manager, sources, CacheType::memory) && ok; });
        auto diskCache = ImageCache::initNamed(QStringLiteral("bench"), folder);
        auto diskManager = IrisManager::create(downloader, diskCache);
        timed(disk, [&] { ok = retrieveAll(diskManager, sources, CacheType::disk) && ok; });
        diskCache->ioQueue()->sync([] {});
        {
            QTemporaryDir boundedFolder;
            auto boundedCache
                = ImageCache::initNamed(QStringLiteral("bench"), QUrl::fromLocalFile(boundedFolder.path()));
            boundedCache->memoryStorage()->modifyConfig(
                [](auto& config) { config.totalCostLimit = smallLimit; });
            auto boundedManager = IrisManager::create(downloader, boundedCache);
            HeapPeak heap;
            timed(bounded, [&] {
                ok = retrieveAll(boundedManager, sources, CacheType::none,
                         IrisOptionsInfo { IrisOptionsInfoItem::cacheMemoryOnly() })
                    && ok;
            });
            boundedHeapPeak = std::max(boundedHeapPeak, heap.growth());
            waitingAfter = std::max(waitingAfter, platform::decodeAhead::waitingBytes());
        }
        if (!ok) {
            std::fprintf(stderr, "retrieval bench: a retrieval failed or came from the wrong place\n");
            return 1;
        }
        timed(serial, [&] { bareDecode(false); });
        timed(parallelKeeping, [&] { bareParallelDecode(true); });
    }

    auto row = [](const char* name, const Pass& pass) {
        std::printf("  %-52s %8.1f ms  (CPU %7.1f ms, %6ld page faults)", name, pass.seconds * 1e3,
            pass.cpuSeconds * 1e3, pass.pageFaults);
    };
    std::printf("retrieval: %d covers of 1 MP JPEG on %d cores, best of %d rounds\n", coverCount, threadCount,
        repetitions);
    row("bare libjpeg-turbo decodes, one thread a core, dropped", parallel);
    std::printf("\n");
    row("the same, images kept", parallelKeeping);
    std::printf("\n");
    row("bare serial libjpeg-turbo decodes, images dropped", serial);
    std::printf("\n");
    row("cold retrieval", cold);
    std::printf("   ratio to the parallel dropping decode %.2fx (target <= 1.1x), CPU %.2fx; to the parallel "
                "keeping one %.2fx\n",
        cold.seconds / parallel.seconds, cold.cpuSeconds / parallel.cpuSeconds,
        cold.seconds / parallelKeeping.seconds);
    row("cold retrieval, memory only, tier limited to 200 MB", bounded);
    std::printf("   ratio to the parallel dropping decode %.2fx, CPU %.2fx\n",
        bounded.seconds / parallel.seconds, bounded.cpuSeconds / parallel.cpuSeconds);
    std::printf("  %-52s %8.1f ms  (the writes are outside the cold figure)\n",
        "cold retrieval until its disk-cache writes end", bestWrites * 1e3);
    std::printf("  %-52s %8.3f ms   ratio to cold %.4f%% (target < 1%%)\n", "memory hits",
        memory.seconds * 1e3, 100.0 * memory.seconds / cold.seconds);
    row("disk hits (new cache)", disk);
    std::printf("   ratio to the serial dropping decode %.2fx\n", disk.seconds / serial.seconds);
    std::printf(
        "  tier limited to %lld MB: peak heap in use %.0f MB over the rounds (the covers decode to %.0f "
        "MB); decoded images left waiting %lld\n",
        smallLimit >> 20, boundedHeapPeak / 1048576.0, coverCount * 1152.0 * 864 * 4 / 1048576.0,
        waitingAfter);
    std::printf("  (sink %llu)\n", static_cast<unsigned long long>(g_sink.load() % 10));
    return 0;
}
