// Times the image downloader against a bare QNetworkAccessManager doing the same fetches and the
// same decoding, in the same process, against one local server, and prints the ratio of their
// times (ours / baseline). Both decode with libjpeg-turbo on one worker thread, off the main thread,
// and hand the image back to the main thread. With DOWNLOAD_PROGRESSIVE set it measures progressive
// display instead (ProgressiveDownload.cpp).

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/networking/ImageDownloader.h"
#include "Iris/networking/SessionDataTask.h"

#include "bench/download/ProgressiveDownload.h"
#include "bench/support/BareJpeg.h"
#include "bench/support/BenchServer.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/UrlSession.h"
#include "platform/foundation/UrlSessionTask.h"
#include "platform/graphics/Image.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int imageCount = 200;
constexpr int concurrency = 6;
constexpr int sharedRequests = 100;

using bench::BenchServer;

// A JPEG of about `bytes` bytes: noise compresses poorly, so its size follows its pixel count.
QByteArray noiseJpeg(int bytes)
{
    for (int side = 64;; side += 8) {
        QImage image(side, side, QImage::Format_RGB32);
        QRandomGenerator random(42);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                image.setPixel(x, y, random.generate() | 0xff000000u);
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setQuality(90);
        writer.write(image);
        if (data.size() >= bytes)
            return data;
    }
}

void runUntil(const std::function<bool()>& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
}

double timed(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The baseline's decoding: libjpeg-turbo (what the downloader decodes JPEG with) on one worker
// thread, as the downloader decodes on one serial queue; `done` then runs on the main thread with
// whether an image came out.
class BareDecoder {
public:
    BareDecoder() { m_pool.setMaxThreadCount(1); }
    ~BareDecoder() { m_pool.waitForDone(); }

    void decode(QByteArray body, std::function<void(bool)> done)
    {
        m_pool.start([body = std::move(body), done = std::move(done)] {
            const bool decoded = !bench::bareJpegDecode(body).isNull();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [done, decoded] { done(decoded); }, Qt::QueuedConnection);
        });
    }

private:
    QThreadPool m_pool;
};

QUrl urlFor(int port, int index)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/img/%2.jpg").arg(port).arg(index));
}

// Fetches `count` URLs through the downloader, `concurrency` at a time, answers on the main thread.
int viaDownloader(iris::ImageDownloader& downloader, const std::vector<QUrl>& urls, int inFlight)
{
    int next = 0, finished = 0, images = 0;
    std::function<void()> startOne = [&] {
        const QUrl url = urls[next++];
        downloader.downloadImage(
            url, iris::IrisParsedOptionsInfo(), [&](iris::ImageLoadingResultOrError result) {
                finished += 1;
                images += result.isSuccess() ? 1 : 0;
                if (next < static_cast<int>(urls.size()))
                    startOne();
            });
    };
    for (int i = 0; i < inFlight && next < static_cast<int>(urls.size()); ++i)
        startOne();
    runUntil([&] { return finished == static_cast<int>(urls.size()); });
    return images;
}

// The same with a bare QNetworkAccessManager on the main thread, each body decoded on the worker.
int viaBareManager(
    QNetworkAccessManager& manager, BareDecoder& decoder, const std::vector<QUrl>& urls, int inFlight)
{
    int next = 0, finished = 0, images = 0;
    std::function<void()> startOne = [&] {
        QNetworkRequest request(urls[next++]);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        QNetworkReply* reply = manager.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply] {
            decoder.decode(reply->readAll(), [&](bool decoded) {
                images += decoded ? 1 : 0;
                finished += 1;
                if (next < static_cast<int>(urls.size()))
                    startOne();
            });
            reply->deleteLater();
        });
    };
    for (int i = 0; i < inFlight && next < static_cast<int>(urls.size()); ++i)
        startOne();
    runUntil([&] { return finished == static_cast<int>(urls.size()); });
    return images;
}

// The URL session under the downloader on its own: bodies gathered on its network thread, decoded
// on the worker as the bare manager's are. It shows how much of the difference is the session's.
class GatheringDelegate final : public platform::UrlSessionDelegate {
public:
    std::function<void(QByteArray)> onBody;

    void didReceiveData(platform::UrlSession&, const std::shared_ptr<platform::UrlSessionDataTask>& task,
        const QByteArray& chunk) override
    {
        std::lock_guard lock(m_mutex);
        m_bodies[task.get()].append(chunk);
    }
    void didComplete(platform::UrlSession&, const std::shared_ptr<platform::UrlSessionDataTask>& task,
        const std::optional<platform::UrlError>&) override
    {
        QByteArray body;
        {
            std::lock_guard lock(m_mutex);
            body = m_bodies.take(task.get());
        }
        platform::DispatchQueue::main()->async([this, body] { onBody(body); });
    }

private:
    std::mutex m_mutex;
    QHash<const void*, QByteArray> m_bodies;
};

int viaBareSession(platform::UrlSession& session, GatheringDelegate& delegate, BareDecoder& decoder,
    const std::vector<QUrl>& urls, int inFlight)
{
    int next = 0, finished = 0, images = 0;
    std::function<void()> startOne = [&] { session.dataTask(platform::UrlRequest(urls[next++]))->resume(); };
    delegate.onBody = [&](QByteArray body) {
        decoder.decode(std::move(body), [&](bool decoded) {
            images += decoded ? 1 : 0;
            finished += 1;
            if (next < static_cast<int>(urls.size()))
                startOne();
        });
    };
    for (int i = 0; i < inFlight && next < static_cast<int>(urls.size()); ++i)
        startOne();
    runUntil([&] { return finished == static_cast<int>(urls.size()); });
    return images;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    // DOWNLOAD_PROGRESSIVE=1: only the progressive JPEG measurement.
    if (qEnvironmentVariableIsSet("DOWNLOAD_PROGRESSIVE"))
        return bench::progressiveDownload();

    const QByteArray body = noiseJpeg(100 * 1024);
    BenchServer server(body);
    auto downloader = iris::ImageDownloader::create(QStringLiteral("bench"));
    QNetworkAccessManager manager;
    BareDecoder decoder;
    auto gathering = std::make_shared<GatheringDelegate>();
    auto session = platform::UrlSession::create(platform::UrlSessionConfiguration::ephemeral(), gathering);

    std::vector<QUrl> urls;
    for (int i = 0; i < imageCount; ++i)
        urls.push_back(urlFor(server.port(), i));

    // Warm both sides (connections, decoder plug-ins), then alternate runs and keep each side's best.
    viaDownloader(*downloader, std::vector<QUrl>(urls.begin(), urls.begin() + 12), concurrency);
    viaBareManager(manager, decoder, std::vector<QUrl>(urls.begin(), urls.begin() + 12), concurrency);
    viaBareSession(
        *session, *gathering, decoder, std::vector<QUrl>(urls.begin(), urls.begin() + 12), concurrency);
    double bestOurs = 1e300, bestBaseline = 1e300, bestSession = 1e300;
    int oursImages = 0, baselineImages = 0;
    for (int round = 0; round < 7; ++round) {
        bestOurs
            = std::min(bestOurs, timed([&] { oursImages = viaDownloader(*downloader, urls, concurrency); }));
        bestBaseline = std::min(bestBaseline,
            timed([&] { baselineImages = viaBareManager(manager, decoder, urls, concurrency); }));
        bestSession = std::min(
            bestSession, timed([&] { viaBareSession(*session, *gathering, decoder, urls, concurrency); }));
    }
    std::printf(
        "%d images of %lld KB, %d at a time: downloader %.1f ms (%d images), bare manager %.1f ms (%d "
        "images), ratio %.2f (target <= 1.20)\n",
        imageCount, static_cast<long long>(body.size() / 1024), concurrency, bestOurs * 1e3, oursImages,
        bestBaseline * 1e3, baselineImages, bestOurs / bestBaseline);
    std::printf(
        "  of which the URL session alone (same fetches and decoding): %.1f ms, ratio %.2f to the bare "
        "manager\n",
        bestSession * 1e3, bestSession / bestBaseline);

    // One URL asked for by many requests at once: one transfer serves them all.
    const QUrl shared = urlFor(server.port(), 9999);
    const int before = server.requests();
    int answered = 0;
    const double sharedTime = timed([&] {
        for (int i = 0; i < sharedRequests; ++i)
            downloader->downloadImage(shared, iris::IrisParsedOptionsInfo(),
                [&](iris::ImageLoadingResultOrError result) { answered += result.isSuccess() ? 1 : 0; });
        runUntil([&] { return answered == sharedRequests; });
    });
    const int transfers = server.requests() - before;
    const int beforeBaseline = server.requests();
    const double separateTime = timed(
        [&] { viaBareManager(manager, decoder, std::vector<QUrl>(sharedRequests, shared), sharedRequests); });
    std::printf(
        "%d concurrent requests for one URL: %d transfer(s), %d images, %.1f ms; the bare manager made %d "
        "transfers in %.1f ms; ratio %.2f\n",
        sharedRequests, transfers, answered, sharedTime * 1e3, server.requests() - beforeBaseline,
        separateTime * 1e3, sharedTime / separateTime);

    // The same with a decoded copy asked for: the requests share one copy, as they share the image.
    const QUrl decodedShared = urlFor(server.port(), 9998);
    iris::IrisParsedOptionsInfo decodeOptions;
    decodeOptions.backgroundDecode = true;
    std::set<const platform::Image*> distinct;
    std::vector<std::shared_ptr<platform::Image>> held;
    const double decodedTime = timed([&] {
        for (int i = 0; i < sharedRequests; ++i)
            downloader->downloadImage(
                decodedShared, decodeOptions, [&](iris::ImageLoadingResultOrError result) {
                    if (result.isSuccess()) {
                        held.push_back(result.value().image);
                        distinct.insert(held.back().get());
                    }
                });
        runUntil([&] { return int(held.size()) == sharedRequests; });
    });
    std::printf(
        "%d concurrent requests for one URL, each asking for a decoded copy: %zu distinct image(s) held, "
        "%.1f ms; ratio %.2f to the requests without\n",
        sharedRequests, distinct.size(), decodedTime * 1e3, decodedTime / sharedTime);

    downloader.reset();
    session->invalidateAndCancel();
    return transfers == 1 && oursImages == imageCount ? 0 : 1;
}
