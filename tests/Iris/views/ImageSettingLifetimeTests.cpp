#include "../networking/DownloaderTestSupport.h"
#include "ImageSettingTestSupport.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/views/ImageViewWrapper.h"
#include "Iris/views/Indicator.h"

#include "platform/ui/ImageView.h"

#include <QTemporaryDir>

using namespace iristest;
using namespace viewtest;
using testsupport::waitUntil;

namespace {

// Image setting through the real manager, downloader and cache against a local server, for targets
// that go away or change their minds while their images are on the way.
class ImageSettingLifetime : public DownloaderTest {
protected:
    void SetUp() override
    {
        DownloaderTest::SetUp();
        ASSERT_TRUE(m_caches.isValid());
        manager = IrisManager::create(downloader,
            ImageCache::initNamed(QStringLiteral("lifetime"), QUrl::fromLocalFile(m_caches.path())));
        setImageSettingManager(manager);
    }
    void TearDown() override
    {
        setImageSettingManager(nullptr);
        // Disk writes still queued would otherwise race the removal of the cache folder.
        manager->cache()->ioQueue()->sync([] {});
    }

    QTemporaryDir m_caches;
    std::shared_ptr<IrisManager> manager;
};

} // namespace

// A view on screen whose spinner turns, destroyed mid-load, as a window of its own and inside
// another: the spinner's placement, still watching it, takes no event as if it were a whole image
// view while it is being taken apart.
TEST_F(ImageSettingLifetime, AShownViewWithASpinnerDestroyedMidLoad)
{
    server.addStall("/stall.png");
    server.start();
    QWidget window;
    window.resize(200, 100);
    auto* inside = new platform::ImageView(&window);
    inside->setGeometry(0, 0, 80, 80);
    window.show();
    auto* alone = new platform::ImageView;
    alone->resize(80, 80);
    alone->show();

    Outcome insideOutcome, aloneOutcome;
    for (auto [view, outcome] :
        { std::pair { inside, &insideOutcome }, std::pair { alone, &aloneOutcome } }) {
        ir(view).setIndicatorType(IndicatorType::activity());
        ir(view).setImage(convertToSource(server.url(QStringLiteral("/stall.png"))), nullptr, std::nullopt,
            {}, outcome->completion());
        ASSERT_TRUE(ir(view).indicator()->view()->isVisible());
    }
    delete inside;
    delete alone;
    for (Outcome* outcome : { &insideOutcome, &aloneOutcome }) {
        ASSERT_TRUE(waitUntil([&] { return !outcome->results.empty(); }, 10000));
        EXPECT_EQ(outcome->results.size(), 1u);
    }
}
