#include "Comparison.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "bench/support/BareJpeg.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {

// A 1000 × 1000 photo-like picture: gradients, shapes and a little noise.
QImage photo()
{
    QImage image(1000, 1000, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 1000, 1000);
    gradient.setColorAt(0, QColor(20, 90, 150));
    gradient.setColorAt(1, QColor(230, 180, 80));
    painter.fillRect(image.rect(), gradient);
    QRandomGenerator random(7);
    for (int i = 0; i < 80; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate() | 0xff000000));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(
            QPointF(random.bounded(1000), random.bounded(1000)), random.bounded(120), random.bounded(120));
    }
    painter.end();
    for (int y = 0; y < image.height(); y += 2) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); x += 2)
            line[x] ^= random.generate() & 0x070707;
    }
    return image;
}

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    if (QByteArray(format) == "jpeg")
        writer.setQuality(90);
    writer.write(image);
    return bytes;
}

// One cache on a folder of its own, holding one file per format.
struct CacheFixture {
    std::unique_ptr<QTemporaryDir> dir;
    std::shared_ptr<iris::ImageCache> cache;
    iris::IrisParsedOptionsInfo options;

    void prepare()
    {
        if (cache)
            return;
        dir = std::make_unique<QTemporaryDir>();
        cache = iris::ImageCache::initNamed("bench", QUrl::fromLocalFile(dir->path()));
        const QImage picture = photo();
        for (const char* format : { "jpeg", "png" }) {
            cache->writeDataToDiskNow(
                encoded(picture, format), format, {}, iris::CallbackQueue::untouch(), std::nullopt, {}, {});
        }
        options.loadDiskFileSynchronously = true;
        options.callbackQueue = iris::CallbackQueue::untouch();
    }

    // A disk hit, read and decoded on this thread; the memory level is left alone.
    void diskHit(const QString& key) const
    {
        bool found = false;
        cache->lookUpDisk(key, options, iris::CallbackQueue::untouch(),
            [&](platform::Result<std::shared_ptr<platform::Image>, iris::IrisError> result) {
                found = result.isSuccess() && result.value() && result.value()->pixelSize().width == 1000;
            });
        if (!found)
            std::abort();
    }

    // The strongest bare decode of each format: libjpeg-turbo straight to 32-bit pixels for JPEG
    // (Qt's own reader is slower), Qt's libpng reader for PNG (libspng measured no faster).
    void bareDecode(const QString& key) const
    {
        QImage image;
        if (key == "jpeg") {
            QFile file(cache->filePathForKey(key));
            if (!file.open(QIODevice::ReadOnly))
                std::abort();
            image = bench::bareJpegDecode(file.readAll());
        } else {
            image = QImageReader(cache->filePathForKey(key)).read();
        }
        if (image.width() != 1000)
            std::abort();
    }
};

CacheFixture fixture;
constexpr int memoryHitsPerRun = 50;
// Each timed run is one hit or one decode (about 2 ms), and many runs alternate: a short run is
// seldom cut by another process on a busy machine, and the medians leave out those that are.
constexpr int singleDecodeRuns = 301;

bench::Registration jpegDiskHit({
    "disk-cache hit of a 1 MP JPEG, read and decoded (vs a bare libjpeg-turbo decode of the file, read with "
    "QFile; medians of 301; target <= 1.03)",
    [] { fixture.prepare(); },
    [] { fixture.diskHit("jpeg"); },
    [] { fixture.bareDecode("jpeg"); },
    singleDecodeRuns,
});

bench::Registration pngDiskHit({
    "disk-cache hit of a 1 MP PNG, read and decoded (vs a bare QImageReader decode of the file; medians of "
    "301; "
    "target <= 1.0)",
    [] { fixture.prepare(); },
    [] { fixture.diskHit("png"); },
    [] { fixture.bareDecode("png"); },
    singleDecodeRuns,
});

bench::Registration memoryHit({
    "50 memory-cache hits of a 1 MP JPEG (vs 50 disk-cache hits of it)",
    [] {
        fixture.prepare();
        fixture.cache->lookUpImage("jpeg", fixture.options, iris::CallbackQueue::untouch(),
            [](platform::Result<iris::ImageCacheResult, iris::IrisError>) {});
    },
    [] {
        for (int i = 0; i < memoryHitsPerRun; ++i) {
            bool memory = false;
            fixture.cache->lookUpImage("jpeg", fixture.options, iris::CallbackQueue::untouch(),
                [&](platform::Result<iris::ImageCacheResult, iris::IrisError> result) {
                    memory = result.isSuccess() && result.value().cacheType() == iris::CacheType::memory;
                });
            if (!memory)
                std::abort();
        }
    },
    [] {
        for (int i = 0; i < memoryHitsPerRun; ++i)
            fixture.diskHit("jpeg");
    },
    3,
});

} // namespace
