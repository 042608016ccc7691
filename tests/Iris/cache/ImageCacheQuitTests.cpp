#include "Iris/cache/ImageCache.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <vector>

using namespace iris;

namespace {

constexpr int writeCount = 200;
constexpr int imageSide = 128;
const char* const folderVariable = "TINDREL_QUIT_TEST_CACHE";

QImage noise(int seed)
{
    QImage image(imageSide, imageSide, QImage::Format_ARGB32);
    quint32 state = 2654435761u * quint32(seed + 1);
    for (int y = 0; y < imageSide; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < imageSide; ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = state | 0xff000000u;
        }
    }
    return image;
}

} // namespace

// The child half of the test below: queues 200 PNG cache writes, waits until a few have landed and
// returns, so the test program quits with the rest still queued or running.
TEST(ImageCacheQuit, DISABLED_ChildQuitsInTheMiddleOfItsCacheWrites)
{
    const QString folder = qEnvironmentVariable(folderVariable);
    ASSERT_FALSE(folder.isEmpty());
    auto cache = ImageCache::initNamed(QStringLiteral("quit"), QUrl::fromLocalFile(folder));
    auto written = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < writeCount; ++i) {
        auto image = platform::Image::create(*platform::Bitmap::fromImage(noise(i)));
        cache->storeImage(image, std::nullopt, QString::number(i), IrisParsedOptionsInfo(), true,
            [written](CacheStoreResult) { ++*written; });
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return *written >= 5; }, 30000));
}

// Quitting while the cache writes never crashes and never leaves a cache file that is not whole.
TEST(ImageCacheQuit, QuittingWhileTheCacheWritesIsClean)
{
#if defined(__SANITIZE_THREAD__)
    // QProcess starts its children with vfork, whose child shares the parent's sanitizer state.
    GTEST_SKIP() << "ThreadSanitizer cannot follow QProcess's vfork";
#endif
    constexpr int runs = 50;
    constexpr int atOnce = 5;
    std::vector<std::unique_ptr<QTemporaryDir>> folders;
    for (int started = 0; started < runs; started += atOnce) {
        std::vector<std::unique_ptr<QProcess>> children;
        for (int i = started; i < std::min(runs, started + atOnce); ++i) {
            folders.push_back(std::make_unique<QTemporaryDir>());
            auto child = std::make_unique<QProcess>();
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QString::fromLatin1(folderVariable), folders.back()->path());
            child->setProcessEnvironment(environment);
            child->start(QCoreApplication::applicationFilePath(),
                { QStringLiteral("--gtest_also_run_disabled_tests"),
                    QStringLiteral(
                        "--gtest_filter=ImageCacheQuit.DISABLED_ChildQuitsInTheMiddleOfItsCacheWrites") });
            children.push_back(std::move(child));
        }
        for (std::size_t i = 0; i < children.size(); ++i) {
            QProcess& child = *children[i];
            SCOPED_TRACE(started + int(i));
            ASSERT_TRUE(child.waitForFinished(60000));
            EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << child.readAllStandardError().toStdString();
            EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
        }
    }
    int whole = 0;
    for (const auto& folder : folders) {
        const QDir cacheFolder(folder->path() + QStringLiteral("/org.tindrel.Iris.ImageCache.quit"));
        for (const QString& name : cacheFolder.entryList(QDir::Files | QDir::Hidden)) {
            if (name.startsWith(QLatin1Char('.')))
                continue;
            SCOPED_TRACE(name.toStdString());
            EXPECT_EQ(name.size(), 32) << "only finished files carry a final name";
            QImageReader reader(cacheFolder.filePath(name));
            const QImage image = reader.read();
            EXPECT_EQ(image.size(), QSize(imageSide, imageSide)) << reader.errorString().toStdString();
            ++whole;
        }
    }
    EXPECT_GE(whole, runs * 5);
}
