#include "../networking/DownloaderTestSupport.h"
#include "../prefetch/ProgressiveJpegFixture.h"
#include "ImageSettingTestSupport.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/networking/ImageProgressive.h"
#include "Iris/views/ButtonWrapper.h"
#include "Iris/views/ImageViewWrapper.h"

#include "platform/ui/Button.h"
#include "platform/ui/ImageView.h"

#include <QPointer>
#include <QTemporaryDir>

using namespace iristest;
using namespace viewtest;
using testsupport::waitUntil;

namespace {

// Image setting through the real manager, downloader and cache, against a local server.
class ImageSettingOverNetwork : public DownloaderTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_caches.isValid());
        manager = IrisManager::create(
            downloader, ImageCache::initNamed(QStringLiteral("views"), QUrl::fromLocalFile(m_caches.path())));
        setImageSettingManager(manager);
    }
    void TearDown() override { setImageSettingManager(nullptr); }

    QTemporaryDir m_caches;
    std::shared_ptr<IrisManager> manager;
};

} // namespace

// A view or button destroyed while its image downloads cancels the download; its completion still
// comes, once, and says the target no longer waits, carrying the cancellation.
TEST_F(ImageSettingOverNetwork, ATargetDestroyedMidLoadCancelsItsDownload)
{
    server.addStall("/stall.png");
    server.start();
    const Source source = convertToSource(server.url(QStringLiteral("/stall.png")));

    auto* view = new platform::ImageView;
    ir(view).setIndicatorType(IndicatorType::activity());
    auto* button = new platform::Button;
    Outcome viewOutcome, imageOutcome, alternateOutcome;
    ir(view).setImage(source, nullptr, std::nullopt, {}, viewOutcome.completion());
    ir(button).setButtonImage(source, nullptr, std::nullopt, {}, imageOutcome.completion());
    ir(button).setButtonAlternateImage(source, nullptr, std::nullopt, {}, alternateOutcome.completion());
    ASSERT_TRUE(ir(view).imageTask());
    ASSERT_TRUE(ir(button).imageTask());

    delete view;
    delete button;
    for (Outcome* outcome : { &viewOutcome, &imageOutcome, &alternateOutcome }) {
        ASSERT_TRUE(waitUntil([&] { return !outcome->results.empty(); }, 5000));
        const auto* reason = outcome->settingFailure();
        ASSERT_TRUE(reason);
        EXPECT_EQ(reason->kind, IrisError::ImageSettingErrorReason::Kind::notCurrentSourceTask);
        ASSERT_TRUE(reason->error);
        EXPECT_EQ(reason->error->code,
            IrisError::requestError(IrisError::RequestErrorReason::taskCancelled({}, 0)).errorCode());
    }
    manager->processingQueue()->sync([] {});
    QCoreApplication::processEvents();
    EXPECT_EQ(viewOutcome.results.size(), 1u);
}

// A progressive JPEG arriving in steps shows in the view scan by scan, before the file is complete.
TEST_F(ImageSettingOverNetwork, AProgressiveJpegUpdatesTheViewAsItArrives)
{
    using namespace progressivejpeg;
    const QByteArray file = encode(picture(320, 240, true), true);
    const std::size_t chunkBytes = 1024;
    auto gate = server.addSteppedChunks("/progressive.jpg", file.toStdString(), chunkBytes);
    server.start();

    platform::ImageView view;
    std::vector<std::shared_ptr<platform::Image>> shown;
    Outcome outcome;
    ir(&view).setImage(convertToSource(server.url(QStringLiteral("/progressive.jpg"))), nullptr,
        IrisOptionsInfo { IrisOptionsInfoItem::progressiveJPEG(std::make_shared<ImageProgressive>()) }, {},
        outcome.completion());
    const std::vector<qsizetype> scans = sosPositions(file);
    gate->releaseChunks(std::size_t(scans.at(3)) / chunkBytes);
    ASSERT_TRUE(waitUntil([&] { return view.image() != nullptr; }, 10000));
    EXPECT_TRUE(outcome.results.empty()) << "shown before the download ended";
    EXPECT_EQ(view.image()->pixelSize(), (platform::Size { 320, 240 }));
    const auto partial = view.image();

    gate->releaseChunks(1000);
    ASSERT_TRUE(waitUntil([&] { return !outcome.results.empty(); }, 10000));
    ASSERT_TRUE(outcome.results.front().isSuccess());
    EXPECT_NE(view.image(), partial);
    EXPECT_EQ(view.image(), outcome.results.front().value().image);
    EXPECT_EQ(maxChannelDifference(view.image()->bitmap()->image(), QImage::fromData(file, "jpeg")), 0);
}
