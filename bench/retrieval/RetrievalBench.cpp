// Retrieves 200 cover images (1 MP JPEG files) through the retrieval manager, cold, then as memory
// hits, then as disk hits in a new cache over the same folder, and compares each pass with bare
// QImageReader decodes of the same files in the same run. Prints the ratios (ours / baseline).

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/networking/ImageDownloader.h"

#include "platform/graphics/Image.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

using namespace iris;

namespace {

constexpr int coverCount = 200;
constexpr int repetitions = 3;

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

bool runUntil(const std::function<bool()>& done, int timeoutMs = 120000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Retrieves every source through `manager` and waits for all completions on the main thread.
bool retrieveAll(
    const std::shared_ptr<IrisManager>& manager, const std::vector<Source>& sources, CacheType expected)
{
    int completed = 0;
    bool allExpected = true;
    for (const Source& source : sources) {
        manager->retrieveSource(source, std::nullopt, {}, {}, [&](RetrieveImageResultOrError result) {
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

    // The baseline keeps its images, as the caches do: a grid of covers holds all of them at once,
    // and first touching 800 MB of fresh pixels costs as much as a third of the decoding. The
    // variant that drops each image at once is printed too.
    auto bareDecodeDropping = [&] {
        for (const QString& path : paths) {
            QImageReader reader(path);
            g_sink += std::uint64_t(reader.read().width());
        }
    };
    auto bareDecode = [&] {
        std::vector<QImage> kept;
        kept.reserve(paths.size());
        for (const QString& path : paths) {
            QImageReader reader(path);
            kept.push_back(reader.read());
            g_sink += std::uint64_t(kept.back().width());
        }
    };

    double bestBareDropping = 1e300, bestBare = 1e300, bestCold = 1e300, bestMemory = 1e300, bestDisk = 1e300;
    auto downloader = std::make_shared<ImageDownloader>(QStringLiteral("bench"));
    for (int round = 0; round < repetitions; ++round) {
        QTemporaryDir cacheFolder;
        const QUrl folder = QUrl::fromLocalFile(cacheFolder.path());
        auto cache = ImageCache::initNamed(QStringLiteral("bench"), folder);
        auto manager = IrisManager::create(downloader, cache);

        bestBareDropping = std::min(bestBareDropping, seconds(bareDecodeDropping));
        bestBare = std::min(bestBare, seconds(bareDecode));
        bool ok = true;
        bestCold
            = std::min(bestCold, seconds([&] { ok = retrieveAll(manager, sources, CacheType::none) && ok; }));
        bestMemory = std::min(
            bestMemory, seconds([&] { ok = retrieveAll(manager, sources, CacheType::memory) && ok; }));
        // Every disk write of the cold pass has finished before the new cache reads the folder.
        cache->ioQueue()->sync([] {});
        auto diskCache = ImageCache::initNamed(QStringLiteral("bench"), folder);
        auto diskManager = IrisManager::create(downloader, diskCache);
        bestDisk = std::min(
            bestDisk, seconds([&] { ok = retrieveAll(diskManager, sources, CacheType::disk) && ok; }));
        if (!ok) {
            std::fprintf(stderr, "retrieval bench: a retrieval failed or came from the wrong place\n");
            return 1;
        }
        diskCache->ioQueue()->sync([] {});
    }

    std::printf("retrieval: %d covers of 1 MP JPEG, best of %d rounds\n", coverCount, repetitions);
    std::printf("  bare QImageReader decode, images kept     %8.1f ms\n", bestBare * 1e3);
    std::printf("  bare QImageReader decode, images dropped  %8.1f ms\n", bestBareDropping * 1e3);
    std::printf(
        "  cold retrieval                            %8.1f ms   ratio to bare decode %.2fx (target <= 1.3x); "
        "to the dropping decode %.2fx\n",
        bestCold * 1e3, bestCold / bestBare, bestCold / bestBareDropping);
    std::printf(
        "  memory hits                               %8.3f ms   ratio to cold %.4f%% (target < 1%%)\n",
        bestMemory * 1e3, 100.0 * bestMemory / bestCold);
    std::printf("  disk hits (new cache)                     %8.1f ms   ratio to bare decode %.2fx\n",
        bestDisk * 1e3, bestDisk / bestBare);
    std::printf("  (sink %llu)\n", static_cast<unsigned long long>(g_sink.load() % 10));
    return 0;
}
