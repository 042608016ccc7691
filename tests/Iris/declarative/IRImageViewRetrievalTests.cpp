#include "Iris/cache/ImageCache.h"
#include "Iris/declarative/IRImageView.h"
#include "Iris/general/IrisManager.h"
#include "support/TestSupport.h"

#include <QGraphicsEffect>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace iris;

namespace {

// Views on the real manager, over a cache of their own in a temporary folder.
class IRImageViewRetrieval : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_files.isValid() && m_caches.isValid());
        cache = ImageCache::initNamed("views", QUrl::fromLocalFile(m_caches.path()));
        // Local files need no downloader.
        manager = IrisManager::create(nullptr, cache);
        ImageRetrieving::setShared(ImageRetrieving::through(manager));
    }
    void TearDown() override { ImageRetrieving::setShared(nullptr); }

    QUrl writeCover(const QString& name, QColor color)
    {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(color);
        const QString path = m_files.filePath(name);
        EXPECT_TRUE(image.save(path, "PNG"));
        return QUrl::fromLocalFile(path);
    }

    QTemporaryDir m_files;
    QTemporaryDir m_caches;
    std::shared_ptr<ImageCache> cache;
    std::shared_ptr<IrisManager> manager;
};

bool isRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 50 && qBlue(pixel) < 50;
}

} // namespace

TEST_F(IRImageViewRetrieval, ACoverAppearsAndTheSecondViewIsServedFromMemoryWithoutAFade)
{
    const QUrl url = writeCover(QStringLiteral("Cover.png"), Qt::red);
    QWidget window;
    window.resize(300, 100);
    std::vector<CacheType> served;
    auto cover = [&] {
        return IRImage(url).resizable().fade(0.05).onSuccess(
            [&served](const RetrieveImageResult& result) { served.push_back(result.cacheType); });
    };

    auto* first = new IRImageView(cover(), &window);
    first->setGeometry(0, 0, 120, 90);
    window.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return first->binder()->loadedImage != nullptr; }));
    EXPECT_EQ(first->binder()->loadedImage->size(), (platform::Size { 40, 30 }));
    EXPECT_EQ(first->binder()->fadeTransactionCount(), 1u) << "a loaded cover fades in";
    // The view re-renders on the main queue after the binder changed; on a busy machine the short
    // fade may be over before a poll sees it, so wait for its end state rather than its middle.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return !first->placeholderLayer() && first->imageLayer()->isVisible()
            && first->imageLayer()->graphicsEffect() == nullptr;
    }));
    const QImage shown = first->grab().toImage();
    for (QPoint probe : { QPoint(1, 1), QPoint(118, 1), QPoint(1, 88), QPoint(118, 88) })
        EXPECT_TRUE(isRed(shown.pixel(probe)))
            << "the resizable cover fills its frame at " << probe.x() << "," << probe.y();
    ASSERT_TRUE(testsupport::waitUntil([&] { return served.size() == 1; }));
    EXPECT_EQ(served[0], CacheType::none);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return cache->cacheTypeOfKey(localFileCacheKey(url)) == CacheType::memory; }));

    auto* second = new IRImageView(cover(), &window);
    second->setGeometry(150, 0, 120, 90);
    second->show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return served.size() == 2; }));
    EXPECT_EQ(served[1], CacheType::memory);
    ASSERT_TRUE(second->binder()->loadedImage);
    EXPECT_FALSE(second->placeholderLayer());
    EXPECT_EQ(second->imageLayer()->graphicsEffect(), nullptr) << "no fade for a memory hit";
    EXPECT_EQ(second->binder()->fadeTransactionCount(), 0u);
}
