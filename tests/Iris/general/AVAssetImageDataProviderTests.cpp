#include "Iris/general/AVAssetImageDataProvider.h"

#include "platform/graphics/ImageEncoding.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace iris;

namespace {

platform::ImageFrame solidFrame(QColor color, double seconds)
{
    QImage image(32, 24, QImage::Format_ARGB32);
    image.fill(color);
    return { *platform::Bitmap::fromImage(image), seconds };
}

// A two-second clip: red for the first second, blue for the next. FFmpeg reads GIF as video.
QString writeClip(const QTemporaryDir& folder)
{
    const QString path = folder.filePath("clip.gif");
    std::optional<QByteArray> bytes
        = platform::encodeGif({ solidFrame(Qt::red, 1.0), solidFrame(Qt::blue, 1.0) });
    QFile out(path);
    if (!bytes || !out.open(QIODevice::WriteOnly) || out.write(*bytes) != bytes->size())
        return {};
    return path;
}

std::optional<ProviderDataResult> frameAt(const AVAssetImageDataProvider& provider)
{
    auto outcome = std::make_shared<std::optional<ProviderDataResult>>();
    auto calls = std::make_shared<std::atomic<int>>(0);
    provider.data([outcome, calls](ProviderDataResult result) {
        *outcome = std::move(result);
        ++*calls;
    });
    if (!testsupport::waitUntil([&] { return *calls > 0; }, 10000))
        return std::nullopt;
    return *outcome;
}

// A GIF whose screen is `side` pixels square around one 1x1 image: a few dozen bytes.
QByteArray gifDeclaring(int side)
{
    QByteArray gif("GIF89a");
    auto le16 = [&](int value) {
        gif.append(char(value & 0xFF));
        gif.append(char(value >> 8));
    };
    le16(side);
    le16(side);
    gif.append(QByteArray("\x80\x00\x00"
                          "\x00\x00\x00\xff\xff\xff",
        9));
    gif.append(',');
    for (int value : { 0, 0, 1, 1 })
        le16(value);
    gif.append(QByteArray("\x00\x02\x02\x4c\x01\x00;", 7));
    return gif;
}

long peakResidentKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(AVAssetImageDataProvider, KeysAndTimes)
{
    const QUrl movie = QUrl::fromLocalFile("/Users/u/m.mov");
    EXPECT_EQ(AVAssetImageDataProvider(movie, 1.5).cacheKey(), "iris.local.cacheKey///Users/u/m.mov_1.5");
    EXPECT_EQ(AVAssetImageDataProvider(movie, 2.0).cacheKey(), "iris.local.cacheKey///Users/u/m.mov_2.0");
    EXPECT_EQ(AVAssetImageDataProvider(QUrl("https://h/v.mp4"), 0.25).cacheKey(), "https://h/v.mp4_0.25");

    const MediaTime time = AVAssetImageDataProvider(movie, 2.5).time();
    EXPECT_EQ(time.value, 1500);
    EXPECT_EQ(time.timescale, 600);
    EXPECT_TRUE(AVAssetImageDataProvider(movie, 0.0).assetImageGenerator()->appliesPreferredTrackTransform());

    auto noUrl = std::make_shared<AssetImageGenerator>(std::make_shared<const Asset>());
    AVAssetImageDataProvider anonymous(noUrl, MediaTime::fromSeconds(1, 600));
    EXPECT_NE(anonymous.cacheKey(), anonymous.cacheKey());
    EXPECT_FALSE(anonymous.contentURL());
}

TEST(AVAssetImageDataProvider, GivesTheFrameAtTheTimeAsJpeg)
{
    QTemporaryDir folder;
    const QString path = writeClip(folder);
    ASSERT_FALSE(path.isEmpty());
    struct Case {
        double seconds;
        QColor color;
    };
    for (const Case& c : { Case { 0.2, Qt::red }, Case { 1.5, Qt::blue } }) {
        std::optional<ProviderDataResult> result
            = frameAt(AVAssetImageDataProvider(QUrl::fromLocalFile(path), c.seconds));
        ASSERT_TRUE(result && result->isSuccess()) << c.seconds;
        QImage image = QImage::fromData(result->value(), "JPEG");
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(32, 24));
        const QColor pixel = image.pixelColor(16, 12);
        EXPECT_NEAR(pixel.red(), c.color.red(), 40) << c.seconds;
        EXPECT_NEAR(pixel.blue(), c.color.blue(), 40) << c.seconds;
    }
}

TEST(AVAssetImageDataProvider, FailuresAlwaysCallBack)
{
    QTemporaryDir folder;
    QFile junk(folder.filePath("junk.mp4"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a video at all");
    junk.close();
    // Opening a pipe would wait for a writer for ever.
    const QString pipe = folder.filePath("pipe.mp4");
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const QUrl urls[] = { QUrl::fromLocalFile(folder.filePath("missing.mp4")),
        QUrl::fromLocalFile(junk.fileName()), QUrl::fromLocalFile(pipe), QUrl::fromLocalFile(folder.path()),
        QUrl("ftp://127.0.0.1/v.mp4"), QUrl("concat:/etc/passwd") };
    for (const QUrl& url : urls) {
        std::optional<ProviderDataResult> result = frameAt(AVAssetImageDataProvider(url, 0.0));
        ASSERT_TRUE(result) << url.toString().toStdString();
        EXPECT_TRUE(result->isFailure()) << url.toString().toStdString();
    }

    auto noUrl = std::make_shared<AssetImageGenerator>(std::make_shared<const Asset>());
    std::optional<ProviderDataResult> result
        = frameAt(AVAssetImageDataProvider(noUrl, MediaTime::fromSeconds(0, 600)));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->isFailure());
}

TEST(AVAssetImageDataProvider, CancellationGivesUserCancelled)
{
    QTemporaryDir folder;
    const QString path = writeClip(folder);
    auto generator = std::make_shared<AssetImageGenerator>(
        std::make_shared<const Asset>(Asset { QUrl::fromLocalFile(path) }));
    generator->cancelAllImageGeneration();
    // Cancelling only affects requests already made: this one runs.
    std::optional<ProviderDataResult> result
        = frameAt(AVAssetImageDataProvider(generator, MediaTime::fromSeconds(0, 600)));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->isSuccess());

    auto calls = std::make_shared<std::atomic<int>>(0);
    auto error = std::make_shared<std::optional<platform::PlatformError>>();
    AVAssetImageDataProvider provider(generator, MediaTime::fromSeconds(0, 600));
    provider.data([calls, error](ProviderDataResult result) {
        if (result.isFailure())
            *error = result.error();
        ++*calls;
    });
    generator->cancelAllImageGeneration();
    ASSERT_TRUE(testsupport::waitUntil([&] { return *calls > 0; }));
    // The request either finished before the cancel or ended as cancelled.
    if (*error) {
        EXPECT_EQ((*error)->domain, AVAssetImageDataProvider::errorDomain());
        EXPECT_EQ((*error)->code, 1);
    }
}

TEST(AVAssetImageDataProvider, AFramePastThePixelLimitIsRefusedBeforeItIsDecoded)
{
    // 15,000 x 15,000 pixels would take 900 MB; the peak may not grow by a fraction of that.
    constexpr long allowedGrowthKilobytes = 200 * 1024;
    QTemporaryDir folder;
    QFile bomb(folder.filePath("bomb.gif"));
    ASSERT_TRUE(bomb.open(QIODevice::WriteOnly));
    bomb.write(gifDeclaring(15000));
    bomb.close();
    const long before = peakResidentKilobytes();
    std::optional<ProviderDataResult> result
        = frameAt(AVAssetImageDataProvider(QUrl::fromLocalFile(bomb.fileName()), 0.0));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->isFailure());
    EXPECT_LT(peakResidentKilobytes() - before, allowedGrowthKilobytes);
}
