// Dropping 200 photos of 12 megapixels onto a project: the time until every photo is copied (and
// on disk) with its thumbnail, recorded and saved, against the bare way to make the same thumbnails
// with Qt in this process, a QImageReader decoding at the reduced size (setScaledSize) and a
// QImageWriter writing the JPEG, on as many threads as the import decodes at once; and, since the
// import also writes 720 MB of copies to disk, against that baseline plus a QFile::copy of each photo
// flushed to disk (fsync), on the same number of threads. The import is
// timed twice: through the library alone, and dropped onto a workspace shown offscreen whose grid
// fills with thumbnails as the records arrive. Each is run three times, alternating with the
// baseline, and the medians are compared. During the workspace's import it also measures the
// longest gap between two ticks of a 1 ms timer on the main thread, and the peak of heap memory in
// use, for a drop of 50 and of 200 photos: the peak should follow the number of lanes, not the
// number of photos.

#include "app/TDStores.h"
#include "app/model/TDCategory.h"
#include "app/model/TDProject.h"
#include "app/screens/workspace/TDProjectDetailView.h"
#include "app/store/TDCategoryStore.h"
#include "app/store/TDImageImport.h"
#include "app/store/TDLibrary.h"
#include "app/store/TDLinkStore.h"
#include "app/store/TDMediaStore.h"
#include "app/store/TDProjectStore.h"
#include "bench/support/Memory.h"
#include "platform/foundation/Environment.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int photoCount = 200;
constexpr int smallDropCount = 50;
constexpr int distinctPhotos = 8;
constexpr QSize photoSize(4000, 3000);

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_import: %s\n", what);
    std::exit(1);
}

// A photo-like picture: a sky-to-ground gradient, soft shapes and grain, so the JPEG has the size
// and the detail of a camera's.
QImage makePhoto(int seed)
{
    QRandomGenerator random(quint32(seed) * 7919u + 17u);
    QImage photo(photoSize, QImage::Format_RGB32);
    QPainter painter(&photo);
    QLinearGradient sky(0, 0, 0, photoSize.height());
    sky.setColorAt(0, QColor::fromHsv(int(random.bounded(360)), 120, 230));
    sky.setColorAt(1, QColor::fromHsv(int(random.bounded(360)), 160, 90));
    painter.fillRect(photo.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < 60; ++i) {
        QColor color
            = QColor::fromHsv(int(random.bounded(360)), int(random.bounded(255)), int(random.bounded(255)));
        color.setAlpha(int(80 + random.bounded(150)));
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        const int w = int(100 + random.bounded(1200)), h = int(100 + random.bounded(900));
        painter.drawEllipse(int(random.bounded(photoSize.width())) - w / 2,
            int(random.bounded(photoSize.height())) - h / 2, w, h);
    }
    painter.end();
    for (int y = 0; y < photo.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const int grain = int(random.bounded(24)) - 12;
            const QRgb pixel = line[x];
            line[x] = qRgb(std::clamp(qRed(pixel) + grain, 0, 255), std::clamp(qGreen(pixel) + grain, 0, 255),
                std::clamp(qBlue(pixel) + grain, 0, 255));
        }
    }
    return photo;
}

QStringList makePhotos(const QString& folder)
{
    QDir().mkpath(folder);
    std::vector<QByteArray> encoded;
    for (int i = 0; i < distinctPhotos; ++i) {
        QFile file(folder + QStringLiteral("/source-%1.jpg").arg(i));
        QImageWriter writer(&file, "jpeg");
        writer.setQuality(90);
        if (!file.open(QIODevice::WriteOnly) || !writer.write(makePhoto(i)))
            fail("cannot write a photo");
        file.close();
        if (!file.open(QIODevice::ReadOnly))
            fail("cannot read a photo");
        encoded.push_back(file.readAll());
        file.remove();
    }
    QStringList paths;
    for (int i = 0; i < photoCount; ++i) {
        const QString path = folder + QStringLiteral("/IMG_%1.jpg").arg(1000 + i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(encoded[std::size_t(i % distinctPhotos)]) < 0)
            fail("cannot copy a photo");
        paths.append(path);
    }
    std::printf("photos: %d of %dx%d, %.1f MB each on average\n", photoCount, photoSize.width(),
        photoSize.height(),
        double(QFileInfo(paths.front()).size() + QFileInfo(paths.back()).size()) / 2 / 1e6);
    return paths;
}

struct ImportFigures {
    double milliseconds = 0;
    double longestGapMs = 0;
    qint64 peakHeapBytes = 0;
};

enum class Shown { workspace, libraryOnly };

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One drop onto a fresh library's project, timed from the drop to the end of its save.
ImportFigures importOnce(const QString& root, const QStringList& photos, Shown shown = Shown::workspace)
{
    QDir(root + "/Documents").removeRecursively();
    QDir().mkpath(root + "/Documents/Tindrel.folder/Field Study");
    TDStores stores { std::make_shared<TDProjectStore>(), std::make_shared<TDMediaStore>(),
        std::make_shared<TDLinkStore>(), std::make_shared<TDCategoryStore>() };
    TDProject::Fields fields;
    fields.name = QStringLiteral("Field Study");
    fields.category = stores.categoryStore->tdCategories().front();
    fields.id = platform::Uuid::random();
    auto project = TDProject::make(std::move(fields));
    stores.projectStore->setTdProjects({ project });
    TDLibrary library(stores);
    TDProjectDetailView* view = nullptr;
    if (shown == Shown::workspace) {
        view = new TDProjectDetailView(project, stores);
        view->resize(1400, 900);
        view->show();
    }
    QCoreApplication::processEvents();

    std::vector<QUrl> urls;
    for (const QString& path : photos)
        urls.push_back(QUrl::fromLocalFile(path));
    malloc_trim(0);
    const qint64 heapBefore = bench::heapInUse();
    ImportFigures figures;
    qint64 peak = heapBefore;
    QElapsedTimer clock, tick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        figures.longestGapMs = std::max(figures.longestGapMs, tick.nsecsElapsed() / 1e6);
        tick.restart();
        peak = std::max(peak, bench::heapInUse());
    });
    clock.start();
    tick.start();
    ticker.start();
    if (view)
        view->importImages(std::move(urls));
    else
        library.importImages(project, std::move(urls));
    while ((view ? view->savesInFlight() : library.operationsInFlight()) > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    figures.milliseconds = clock.nsecsElapsed() / 1e6;
    ticker.stop();
    figures.peakHeapBytes = peak - heapBefore;
    if (int(stores.mediaStore->tdMedia().size()) != photos.size())
        fail("not every photo was imported");
    delete view;
    QCoreApplication::processEvents();
    return figures;
}

enum class Copies { none, flushed };

// The bare alternative: each photo decoded by QImageReader at the thumbnail's size and written by
// QImageWriter as a JPEG of the same quality, on `threads` threads taking the next photo in turn;
// with `flushed` copies, each photo is also copied with QFile::copy and the copy flushed to disk.
double bareQtOnce(const QString& out, const QStringList& photos, int threads, Copies copies = Copies::none)
{
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    std::atomic<int> next { 0 };
    std::atomic<bool> failed { false };
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = next++; i < photos.size(); i = next++) {
                QImageReader reader(photos[i]);
                reader.setAutoTransform(true);
                reader.setScaledSize(tdimageimport::thumbnailSize(reader.size()));
                const QImage thumbnail = reader.read();
                QImageWriter writer(out + QStringLiteral("/%1.jpg").arg(i), "jpeg");
                writer.setQuality(int(tdimageimport::thumbnailQuality * 100));
                if (thumbnail.isNull() || !writer.write(thumbnail))
                    failed = true;
                if (copies == Copies::flushed) {
                    QFile copy(out + QStringLiteral("/%1-copy.jpg").arg(i));
                    if (!QFile::copy(photos[i], copy.fileName()) || !copy.open(QIODevice::ReadWrite)
                        || ::fsync(copy.handle()) != 0)
                        failed = true;
                }
            }
        });
    }
    for (auto& worker : workers)
        worker.join();
    if (failed)
        fail("the bare decode failed");
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir temporary;
    if (!temporary.isValid())
        fail("no temporary folder");
    const QString root = temporary.path();
    platform::Environment::setRoots(
        { root + "/Documents", root + "/Caches", root + "/settings.ini", std::nullopt });
    const QStringList photos = makePhotos(root + "/drop");
    const int lanes = tdimageimport::laneCount;
    const int decoders = tdimageimport::decodeCount;

    // One untimed round of each, which loads the plug-ins and fills the page cache with the photos.
    importOnce(root, photos.mid(0, 10));
    bareQtOnce(root + "/bare", photos.mid(0, 10), decoders);

    std::vector<double> library, workspace, bare, bareCopies;
    ImportFigures ours;
    for (int round = 0; round < 3; ++round) {
        library.push_back(importOnce(root, photos, Shown::libraryOnly).milliseconds);
        bare.push_back(bareQtOnce(root + "/bare", photos, decoders));
        bareCopies.push_back(bareQtOnce(root + "/bare", photos, decoders, Copies::flushed));
        const ImportFigures shown = importOnce(root, photos);
        workspace.push_back(shown.milliseconds);
        ours.longestGapMs = std::max(ours.longestGapMs, shown.longestGapMs);
        ours.peakHeapBytes = std::max(ours.peakHeapBytes, shown.peakHeapBytes);
    }
    const double bareSerial = bareQtOnce(root + "/bare", photos, 1);
    const ImportFigures small = importOnce(root, photos.mid(0, smallDropCount));

    std::printf(
        "import of %d photos (copies on disk, thumbnails, records, one save; %d lanes, %d decoding at "
        "once), medians of 3: through the library %.0f ms, onto a shown workspace %.0f ms; bare Qt "
        "thumbnails on %d threads %.0f ms (on one thread %.0f ms); ratios %.2f and %.2f\n",
        photoCount, lanes, decoders, median(library), median(workspace), decoders, median(bare), bareSerial,
        median(library) / median(bare), median(workspace) / median(bare));
    std::printf("bare Qt thumbnails plus a flushed QFile::copy of each, on %d threads: %.0f ms; ratios %.2f "
                "and %.2f\n",
        decoders, median(bareCopies), median(library) / median(bareCopies),
        median(workspace) / median(bareCopies));
    std::printf(
        "longest gap between event-loop ticks during the workspace's imports: %.1f ms\n", ours.longestGapMs);
    std::printf("peak heap in use above the start: %.1f MB for %d photos, %.1f MB for %d photos (%d lanes)\n",
        ours.peakHeapBytes / 1e6, photoCount, small.peakHeapBytes / 1e6, smallDropCount, lanes);
    return 0;
}
