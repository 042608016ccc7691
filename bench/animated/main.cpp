// Two measurements of the image views.
//
// 1. Playback: 10 s of a 100-frame 800 x 800 GIF at the screen's 60 refreshes a second, in a shown
//    offscreen window. Ours is the animated image view given the GIF's frame source, decoding a window
//    of frames as it plays; the baseline decodes every frame once up front with QImageReader and shows
//    each for its delay from a 60 Hz timer. Each side runs in a child process of its own (so each
//    peak is its own), alternately, several times; the medians of CPU time (user + system, every
//    thread) and of peak resident memory are compared.
// 2. Setting images: 1,000 setImage calls on 1,000 image views, every one a memory-cache hit, against
//    setting the same images on the views directly; the difference per call is the overhead.
// 3. Two players of one GIF: two views showing the same image share its frame source, and play it at
//    points half a loop apart. One loop of each, frame by frame in turn, at 200 and 2,000 frames,
//    against two readers of the GIF's own, each decoding its frames in order.
//
// Usage: bench_animated [--part setimage|playback|players] [--seconds S] [--runs N]
//        [--delay-cs frame delay]

#include "../support/Compare.h"
#include "../support/Memory.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/IrisManager.h"
#include "Iris/image/ImageFrameSource.h"
#include "Iris/views/ImageSettingRoad.h"
#include "Iris/views/ImageViewWrapper.h"

#include "platform/graphics/ImageEncoding.h"
#include "platform/graphics/ImageSource.h"
#include "platform/ui/AnimatedImageView.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int frameCount = 100;
constexpr int side = 800;

QByteArray makeGif(int delayCentiseconds)
{
    std::vector<platform::ImageFrame> frames;
    for (int i = 0; i < frameCount; ++i) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromHsv((i * 7) % 360, 120, 230));
        QPainter painter(&image);
        for (int band = 0; band < 16; ++band) {
            painter.fillRect(
                QRect((band * 50 + i * 8) % side, 0, 25, side), QColor::fromHsv(band * 22, 200, 180));
            painter.fillRect(
                QRect(0, (band * 50 + i * 5) % side, side, 12), QColor::fromHsv(band * 22, 90, 90));
        }
        painter.end();
        frames.push_back({ *platform::Bitmap::fromImage(image), delayCentiseconds / 100.0 });
    }
    return *platform::encodeGif(frames, 0);
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& value) { return double(value.tv_sec) + double(value.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The GIF's frames as the image library hands them out, decoded on demand.
class GifFrames final : public platform::AnimationFrameSource {
public:
    explicit GifFrames(std::shared_ptr<iris::ImageFrameSource> source)
        : m_source(std::move(source))
    {
    }
    int frameCount() const override { return m_source->frameCount(); }
    std::optional<platform::Bitmap> frame(int index, std::optional<platform::Size> maxSize) const override
    {
        return m_source->frameImage(index, maxSize);
    }
    double frameDuration(int index) const override { return m_source->frameDuration(index); }

private:
    std::shared_ptr<iris::ImageFrameSource> m_source;
};

// The baseline's player: every frame decoded, each shown for its delay.
class DecodedPlayer : public QWidget {
public:
    DecodedPlayer(std::vector<QImage> frames, std::vector<int> delays)
        : m_frames(std::move(frames))
        , m_delays(std::move(delays))
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1000 / 60);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_elapsed += 1000.0 / 60;
            if (m_elapsed < m_delays[std::size_t(m_index)])
                return;
            m_elapsed -= m_delays[std::size_t(m_index)];
            m_index = (m_index + 1) % int(m_frames.size());
            ++shown;
            update();
        });
        m_timer.start();
    }
    int shown = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawImage(rect(), m_frames[std::size_t(m_index)]);
    }

private:
    std::vector<QImage> m_frames;
    std::vector<int> m_delays;
    QTimer m_timer;
    int m_index = 0;
    double m_elapsed = 0;
};

// Runs the event loop, idle between events, for `seconds`.
void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// Plays one side for `seconds`; prints "cpu-seconds peak-kilobytes frames-shown frames-held".
int runPlayback(const QString& which, const QString& path, double seconds)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray data = file.readAll();
    QWidget window;
    window.resize(side, side);
    window.show();
    QCoreApplication::processEvents();
    const long residentBefore = bench::statusKilobytes("VmRSS");
    bench::resetPeak();
    const double cpuBefore = cpuSeconds();
    int shown = 0;
    int held = 0;

    if (which == QLatin1String("ours")) {
        auto source = platform::ImageSource::create(data);
        if (!source)
            return 1;
        auto frames = std::make_shared<GifFrames>(
            std::make_shared<iris::CGImageFrameSource>(data, std::move(source).value()));
        platform::AnimatedImageView::setFrameSourceLookup(
            [frames](const std::shared_ptr<platform::Image>&) { return frames; });
        auto* view = new platform::AnimatedImageView(&window);
        view->setGeometry(0, 0, side, side);
        view->show();
        view->setImage(platform::Image::create(*frames->frame(0, std::nullopt)));
        // Sampled rather than watched: the sampling wakes the program far less often than the
        // refreshes do.
        int last = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const auto& animator = view->animator();
            if (animator->currentFrameIndex() != last) {
                last = animator->currentFrameIndex();
                ++shown;
            }
            held = std::max(held, animator->decodedFrameCount());
        });
        sampler.start(20);
        runFor(seconds);
        view->stopAnimating();
        view->preloadQueue()->sync([] {});
    } else {
        QImageReader reader(path);
        std::vector<QImage> frames;
        std::vector<int> delays;
        QImage frame;
        while (reader.read(&frame)) {
            frames.push_back(frame);
            delays.push_back(reader.nextImageDelay());
        }
        held = int(frames.size());
        auto* player = new DecodedPlayer(std::move(frames), std::move(delays));
        player->setParent(&window);
        player->setGeometry(0, 0, side, side);
        player->show();
        // The animation plays for the same time on both sides; decoding it first comes on top.
        runFor(seconds);
        shown = player->shown;
    }
    const double cpu = cpuSeconds() - cpuBefore;
    const long peak = bench::statusKilobytes("VmHWM") - residentBefore;
    std::printf("%.4f %ld %d %d\n", cpu, peak, shown, held);
    std::fflush(stdout);
    return 0;
}

struct Sample {
    double cpu = 0;
    double peakMegabytes = 0;
    int shown = 0;
    int held = 0;
};

std::optional<Sample> runChild(const QString& which, const QString& path, double seconds)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
        { QStringLiteral("--side"), which, QStringLiteral("--gif"), path, QStringLiteral("--seconds"),
            QString::number(seconds) });
    if (!child.waitForFinished(int(seconds * 1000) + 120'000) || child.exitCode() != 0)
        return std::nullopt;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 4)
        return std::nullopt;
    return Sample { fields[0].toDouble(), fields[1].toDouble() / 1024, fields[2].toInt(), fields[3].toInt() };
}

void comparePlayback(double seconds, int runs, int delayCentiseconds)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("bench.gif"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(makeGif(delayCentiseconds)) < 0)
        return;
    file.close();
    const double decodedMegabytes = double(frameCount) * side * side * 4 / (1024 * 1024);
    std::vector<double> oursCpu, baseCpu, oursPeak, basePeak;
    int oursShown = 0, baseShown = 0, oursHeld = 0;
    for (int run = 0; run < runs; ++run) {
        auto ours = runChild(QStringLiteral("ours"), path, seconds);
        auto base = runChild(QStringLiteral("baseline"), path, seconds);
        if (!ours || !base) {
            std::printf("playback: a child failed\n");
            return;
        }
        oursCpu.push_back(ours->cpu);
        baseCpu.push_back(base->cpu);
        oursPeak.push_back(ours->peakMegabytes);
        basePeak.push_back(base->peakMegabytes);
        oursShown = ours->shown;
        baseShown = base->shown;
        oursHeld = std::max(oursHeld, ours->held);
    }
    const double cpuOurs = bench::median(oursCpu), cpuBase = bench::median(baseCpu);
    const double peakOurs = bench::median(oursPeak), peakBase = bench::median(basePeak);
    std::printf(
        "playback, %d frames of %dx%d, %d ms each, for %.0f s (%d frame changes ours, %d baseline; all "
        "%d frames decoded = %.0f MB):\n",
        frameCount, side, side, delayCentiseconds * 10, seconds, oursShown, baseShown, frameCount,
        decodedMegabytes);
    std::printf("  cpu: ours %.2f s, baseline %.2f s, ratio %.2f (target <= 1.5)\n", cpuOurs, cpuBase,
        cpuOurs / cpuBase);
    std::printf("  peak memory: ours %.0f MB, baseline %.0f MB, ratio %.2f; ours held at most %d decoded "
                "frames (%.0f MB)\n",
        peakOurs, peakBase, peakOurs / peakBase, oursHeld,
        oursHeld * double(side) * side * 4 / (1024 * 1024));
    std::fflush(stdout);
}

void compareSetImage(int runs)
{
    constexpr int count = 1000;
    QTemporaryDir caches;
    auto cache = iris::ImageCache::initNamed(QStringLiteral("bench"), QUrl::fromLocalFile(caches.path()));
    iris::setImageSettingManager(iris::IrisManager::create(nullptr, cache));
    std::vector<std::shared_ptr<platform::Image>> images;
    std::vector<iris::Source> sources;
    for (int i = 0; i < count; ++i) {
        QImage pixels(64, 48, QImage::Format_ARGB32_Premultiplied);
        pixels.fill(QColor::fromHsv(i % 360, 150, 200));
        images.push_back(platform::Image::create(*platform::Bitmap::fromImage(pixels)));
        sources.push_back(iris::convertToSource(QUrl(QStringLiteral("https://bench.invalid/%1.png").arg(i))));
        cache->storeImageForIdentifier(images.back(), std::nullopt, sources.back().cacheKey(), {},
            iris::DefaultCacheSerializer::shared(), false);
    }
    std::vector<std::unique_ptr<platform::ImageView>> views;
    for (int i = 0; i < count; ++i)
        views.push_back(std::make_unique<platform::ImageView>());
    int wrong = 0;
    auto clear = [&] {
        for (auto& view : views)
            view->setImage(nullptr);
    };
    const auto ours = [&] {
        for (int i = 0; i < count; ++i)
            iris::ir(views[std::size_t(i)].get()).setImage(sources[std::size_t(i)]);
    };
    const auto direct = [&] {
        for (int i = 0; i < count; ++i)
            views[std::size_t(i)]->setImage(images[std::size_t(i)]);
    };
    // Thread CPU time: on a busy machine wall time mostly measures the scheduler.
    auto cpuMilliseconds = [](const std::function<void()>& work) {
        auto now = [] {
            timespec value {};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &value);
            return double(value.tv_sec) * 1e3 + double(value.tv_nsec) / 1e6;
        };
        const double start = now();
        work();
        return now() - start;
    };
    std::vector<double> oursMs, directMs;
    clear();
    ours();
    for (int i = 0; i < count; ++i)
        wrong += views[std::size_t(i)]->image() != images[std::size_t(i)];
    for (int run = 0; run < runs; ++run) {
        clear();
        oursMs.push_back(cpuMilliseconds(ours));
        clear();
        directMs.push_back(cpuMilliseconds(direct));
    }
    const double o = bench::median(oursMs), d = bench::median(directMs);
    std::printf(
        "setImage, %d memory hits (thread CPU time): ours %.2f ms, direct %.2f ms, overhead %.2f us per "
        "call (target < 20)%s\n",
        count, o, d, (o - d) * 1000 / count, wrong ? ", SOME IMAGES WERE NOT SHOWN" : "");
    std::fflush(stdout);
    iris::setImageSettingManager(nullptr);
}

void compareTwoPlayers(int frames)
{
    constexpr int playerSide = 200;
    std::vector<platform::ImageFrame> list;
    for (int i = 0; i < frames; ++i) {
        QImage image(playerSide, playerSide, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromHsv((i * 7) % 360, 120, 230));
        QPainter painter(&image);
        painter.fillRect(QRect(i % playerSide, 0, 20, playerSide), QColor::fromHsv((i * 13) % 360, 200, 180));
        painter.end();
        list.push_back({ *platform::Bitmap::fromImage(image), 0.05 });
    }
    const QByteArray gif = *platform::encodeGif(list, 0);
    const auto ours = [&] {
        auto source
            = std::make_shared<iris::CGImageFrameSource>(gif, platform::ImageSource::create(gif).value());
        for (int step = 0; step < frames; ++step) {
            for (int player = 0; player < 2; ++player)
                (void)source->frameImage((step + player * frames / 2) % frames, std::nullopt);
        }
    };
    const auto baseline = [&] {
        QByteArray copies[2] = { gif, gif };
        QBuffer buffers[2] = { QBuffer(&copies[0]), QBuffer(&copies[1]) };
        QImageReader readers[2] = { QImageReader(&buffers[0], "gif"), QImageReader(&buffers[1], "gif") };
        // Each reader starts at its player's point, as a player of its own would have got there.
        for (int i = 0; i < frames / 2; ++i)
            (void)readers[1].read();
        for (int step = 0; step < frames; ++step) {
            for (QImageReader& reader : readers) {
                QImage image = reader.read();
                if (image.isNull()) {
                    reader.device()->seek(0);
                    reader.setDevice(reader.device());
                    image = reader.read();
                }
            }
        }
    };
    bench::compare("two players of one GIF, " + std::to_string(frames) + " frames of 200x200, one loop each",
        ours, baseline, 5);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    auto value = [&](const QString& name, const QString& fallback) {
        const qsizetype at = arguments.indexOf(name);
        return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : fallback;
    };
    const double seconds = value(QStringLiteral("--seconds"), QStringLiteral("10")).toDouble();
    if (arguments.contains(QStringLiteral("--side")))
        return runPlayback(value(QStringLiteral("--side"), {}), value(QStringLiteral("--gif"), {}), seconds);

    const QString part = value(QStringLiteral("--part"), QStringLiteral("all"));
    std::printf("screen refresh rate %.0f Hz\n", QGuiApplication::primaryScreen()->refreshRate());
    if (part == QLatin1String("all") || part == QLatin1String("players")) {
        compareTwoPlayers(200);
        compareTwoPlayers(2000);
    }
    if (part == QLatin1String("players"))
        return 0;
    if (part != QLatin1String("playback"))
        compareSetImage(value(QStringLiteral("--setimage-runs"), QStringLiteral("15")).toInt());
    if (part != QLatin1String("setimage"))
        comparePlayback(seconds, value(QStringLiteral("--runs"), QStringLiteral("3")).toInt(),
            value(QStringLiteral("--delay-cs"), QStringLiteral("10")).toInt());
    return 0;
}
