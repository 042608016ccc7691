// Shows 500 image views of 200 distinct local covers in an offscreen window and compares the time
// until all are shown, and the peak memory, with 500 QLabel pixmaps decoded by QImageReader. Each
// side runs in a child process of its own (so each peak is its own), alternately, several times;
// the medians are compared and printed as ratios (ours / baseline).

#include "Iris/cache/ImageCache.h"
#include "Iris/declarative/IRImageView.h"
#include "Iris/general/IrisManager.h"
#include "bench/support/Memory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int viewCount = 500;
constexpr int coverCount = 200;
constexpr int columns = 25;
constexpr QSize cellSize(64, 48);
constexpr int runsPerSide = 5;

QString coverPath(const QString& folder, int index)
{
    return folder + QStringLiteral("/cover-%1.jpg").arg(index);
}

void writeCovers(const QString& folder)
{
    for (int i = 0; i < coverCount; ++i) {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(QColor::fromHsv((i * 37) % 360, 160, 200));
        QPainter painter(&image);
        painter.setPen(Qt::white);
        painter.drawText(image.rect(), Qt::AlignCenter, QString::number(i));
        for (int line = 0; line < 30; ++line)
            painter.drawLine(0, line * 10 + i % 10, 400, 300 - line * 10);
        painter.end();
        image.save(coverPath(folder, i), "JPEG", 85);
    }
}

void waitFor(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

// Runs one side in this process; prints "seconds kilobytes".
int runSide(const QString& side, const QString& folder)
{
    QTemporaryDir caches;
    std::shared_ptr<iris::ImageCache> cache;
    if (side == QLatin1String("ours")) {
        cache = iris::ImageCache::initNamed(QStringLiteral("bench"), QUrl::fromLocalFile(caches.path()));
        // Local files need no downloader.
        auto manager = iris::IrisManager::create(nullptr, cache);
        iris::ImageRetrieving::setShared(iris::ImageRetrieving::through(manager));
    }
    QWidget window;
    auto* grid = new QGridLayout(&window);
    grid->setSpacing(2);
    window.resize(columns * (cellSize.width() + 2), (viewCount / columns) * (cellSize.height() + 2));
    QCoreApplication::processEvents();

    const long residentBefore = bench::statusKilobytes("VmRSS");
    bench::resetPeak();
    QElapsedTimer timer;
    timer.start();
    if (side == QLatin1String("ours")) {
        std::vector<iris::IRImageView*> views;
        for (int i = 0; i < viewCount; ++i) {
            const QUrl url = QUrl::fromLocalFile(coverPath(folder, i % coverCount));
            auto* view = new iris::IRImageView(iris::IRImage(url).resizable(), &window);
            view->setFixedSize(cellSize);
            grid->addWidget(view, i / columns, i % columns);
            views.push_back(view);
        }
        window.show();
        waitFor([&] {
            return std::all_of(views.begin(), views.end(), [](iris::IRImageView* view) {
                return view->binder()->loadedImage && !view->isRenderPending();
            });
        });
    } else {
        for (int i = 0; i < viewCount; ++i) {
            QImageReader reader(coverPath(folder, i % coverCount));
            auto* label = new QLabel(&window);
            label->setPixmap(QPixmap::fromImage(reader.read()));
            label->setScaledContents(true);
            label->setFixedSize(cellSize);
            grid->addWidget(label, i / columns, i % columns);
        }
        window.show();
    }
    window.repaint();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    const long peak = bench::statusKilobytes("VmHWM") - residentBefore;
    std::printf("%.6f %ld\n", seconds, peak);
    std::fflush(stdout);
    iris::ImageRetrieving::setShared(nullptr);
    return 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() == 4 && arguments[1] == QLatin1String("--side"))
        return runSide(arguments[2], arguments[3]);
    if (arguments.size() == 3 && arguments[1] == QLatin1String("--write-covers")) {
        writeCovers(arguments[2]);
        return 0;
    }

    QTemporaryDir home;
    QTemporaryDir covers;
    writeCovers(covers.path());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    std::vector<double> times[2];
    std::vector<double> memory[2];
    const QString sides[2] = { QStringLiteral("ours"), QStringLiteral("baseline") };
    for (int run = 0; run < runsPerSide; ++run) {
        for (int side = 0; side < 2; ++side) {
            QProcess child;
            child.setProcessEnvironment(environment);
            child.start(app.applicationFilePath(), { QStringLiteral("--side"), sides[side], covers.path() });
            if (!child.waitForFinished(120000) || child.exitCode() != 0) {
                std::fprintf(stderr, "the %s run failed (exit %d, %s): %s\n", qPrintable(sides[side]),
                    child.exitCode(), child.exitStatus() == QProcess::CrashExit ? "crashed" : "exited",
                    child.readAllStandardError().constData());
                return 1;
            }
            const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
            times[side].push_back(fields.value(0).toDouble());
            memory[side].push_back(fields.value(1).toDouble());
        }
    }
    const double oursTime = median(times[0]);
    const double baseTime = median(times[1]);
    const double oursMemory = median(memory[0]);
    const double baseMemory = median(memory[1]);
    std::printf("%d image views of %d covers, median of %d runs each\n", viewCount, coverCount, runsPerSide);
    std::printf("time to all shown: ours %.1f ms, QLabel+QImageReader %.1f ms, ratio %.2f (target <= 1.5)\n",
        oursTime * 1000, baseTime * 1000, oursTime / baseTime);
    std::printf(
        "peak memory growth: ours %.1f MiB, QLabel+QImageReader %.1f MiB, ratio %.2f (target <= 1.2)\n",
        oursMemory / 1024, baseMemory / 1024, oursMemory / baseMemory);
    return 0;
}
