#include "DownloaderTestSupport.h"

#include "Iris/cache/ImageCache.h"
#include "Iris/general/DelayRetryStrategy.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/general/RetrieveImageResult.h"
#include "Iris/networking/RequestModifier.h"
#include "Iris/networking/SessionDelegate.h"

#include "platform/graphics/Image.h"

#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <thread>

using namespace iris;
using namespace iristest;
using testsupport::waitUntil;

namespace {

struct Retrieval {
    std::atomic<int> calls { 0 };
    std::optional<RetrieveImageResultOrError> result;
};

class NetworkRetrieval : public DownloaderTest {
protected:
    void SetUp() override
    {
        DownloaderTest::SetUp();
        ASSERT_TRUE(m_caches.isValid());
        cache = ImageCache::initNamed(QStringLiteral("network"), QUrl::fromLocalFile(m_caches.path()));
        manager = IrisManager::create(downloader, cache);
    }

    std::shared_ptr<Retrieval> retrieve(const std::shared_ptr<IrisManager>& through, const QUrl& url,
        std::optional<IrisOptionsInfo> options = std::nullopt)
    {
        auto retrieval = std::make_shared<Retrieval>();
        through->retrieveSource(
            convertToSource(url), options, {}, {}, [retrieval](RetrieveImageResultOrError result) {
                retrieval->result = std::move(result);
                ++retrieval->calls;
            });
        EXPECT_TRUE(waitUntil([&] { return retrieval->calls > 0; }, 10000));
        return retrieval;
    }

    QTemporaryDir m_caches;
    std::shared_ptr<ImageCache> cache;
    std::shared_ptr<IrisManager> manager;
};

} // namespace

// An image by web address: downloaded once, then a memory hit, then (in a new cache over the same
// folder) a disk hit; the server sees one request.
TEST_F(NetworkRetrieval, DeliversAnHttpImageThenFromMemoryThenFromDisk)
{
    server.start();
    const QUrl url = server.url(QStringLiteral("/image.png"));

    auto first = retrieve(manager, url);
    ASSERT_TRUE(first->result && first->result->isSuccess());
    EXPECT_EQ(first->result->value().cacheType, CacheType::none);
    EXPECT_EQ(first->result->value().image->pixelSize(), (platform::Size { 8, 6 }));
    EXPECT_EQ(server.requestCount("/image.png"), 1);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(cache->filePathForKey(url.toString())); }));

    auto second = retrieve(manager, url);
    ASSERT_TRUE(second->result && second->result->isSuccess());
    EXPECT_EQ(second->result->value().cacheType, CacheType::memory);
    EXPECT_EQ(second->result->value().image, first->result->value().image);

    cache->ioQueue()->sync([] {});
    auto freshCache = ImageCache::initNamed(QStringLiteral("network"), QUrl::fromLocalFile(m_caches.path()));
    auto third = retrieve(IrisManager::create(downloader, freshCache), url);
    ASSERT_TRUE(third->result && third->result->isSuccess());
    EXPECT_EQ(third->result->value().cacheType, CacheType::disk);
    EXPECT_EQ(third->result->value().image->pixelSize(), (platform::Size { 8, 6 }));
    EXPECT_EQ(server.requestCount("/image.png"), 1);
    EXPECT_EQ(first->calls + second->calls + third->calls, 3);
}

TEST_F(NetworkRetrieval, RetriesAFlakyServerWithTheStrategysDelays)
{
    server.addFailingThenBody("/flaky.png", 2, 503, pngBody());
    server.start();
    auto waits = std::make_shared<std::vector<double>>();
    auto strategy = std::make_shared<DelayRetryStrategy>(3, DelayRetryStrategy::Interval::accumulated(0.5),
        [waits](double seconds, std::function<void()> work) {
            waits->push_back(seconds);
            platform::DispatchQueue::main()->async(std::move(work));
        });
    auto retrieval = retrieve(manager, server.url(QStringLiteral("/flaky.png")),
        IrisOptionsInfo { IrisOptionsInfoItem::retryStrategy(strategy) });
    ASSERT_TRUE(retrieval->result);
    EXPECT_TRUE(retrieval->result->isSuccess());
    EXPECT_EQ(server.requestCount("/flaky.png"), 3);
    EXPECT_EQ(*waits, (std::vector { 0.5, 1.0 }));
    EXPECT_EQ(retrieval->calls, 1);
}

TEST_F(NetworkRetrieval, TheSharedManagerLoadsThroughTheSharedDownloader)
{
    EXPECT_EQ(IrisManager::sharedManager()->downloader(), ImageDownloader::sharedDownloader());
    EXPECT_EQ(ImageDownloader::sharedDownloader()->name(), QStringLiteral("default"));
    server.start();
    auto manager = IrisManager::create(ImageDownloader::sharedDownloader(), cache);
    auto retrieval = retrieve(manager, server.url(QStringLiteral("/image.png")));
    ASSERT_TRUE(retrieval->result);
    EXPECT_TRUE(retrieval->result->isSuccess());
}

// A body whose Content-Encoding fails to decompress, or stops half-way while the transfer itself
// ends whole, is a failed download: nothing is delivered (no half picture) and nothing is cached.
TEST_F(NetworkRetrieval, ABodyThatFailsToDecompressOrIsCutShortIsNeitherDeliveredNorCached)
{
    const std::string whole
        = testsupport::gzipped(testimages::encoded(testimages::pattern(320, 240), "jpeg").toStdString());
    const std::map<std::string, std::string> bodies = {
        { "/corrupt.png", testsupport::corruptGzipped(pngBody(640, 480)) },
        { "/cut.jpg", whole.substr(0, whole.size() / 2) },
    };
    for (const auto& [path, body] : bodies) {
        server.server().Get(path, [body](const httplib::Request&, httplib::Response& response) {
            response.set_header("Content-Encoding", "gzip");
            response.set_content(body, "application/octet-stream");
        });
    }
    server.start();
    for (const auto& [path, body] : bodies) {
        SCOPED_TRACE(path);
        const QUrl url = server.url(QString::fromStdString(path));
        auto retrieval = retrieve(manager, url);
        ASSERT_TRUE(retrieval->result);
        ASSERT_TRUE(retrieval->result->isFailure());
        EXPECT_EQ(urlErrorCode(ImageLoadingResultOrError::failure(retrieval->result->error())),
            platform::UrlError::cannotDecodeContentData);
        cache->ioQueue()->sync([] {});
        EXPECT_EQ(cache->cacheTypeOfKey(url.toString()), CacheType::none);
    }
}

// A request modifier that answers later, from another thread: a retrieval called off before it
// answers sends no request, and one called off once the download has started cancels that download.
TEST_F(NetworkRetrieval, ARetrievalCalledOffAroundALateRequestModifierLeavesNoDownloadRunning)
{
    server.addStall("/stalled.png");
    server.start();
    struct Later final : AsyncImageDownloadRequestModifier {
        // Taken out when answered: the completion holds the options, which hold this modifier.
        mutable std::function<void()> answer;
        void modifyRequest(const platform::UrlRequest& request, RequestModifierCompletion done) const override
        {
            answer = [request, done] { std::thread([&] { done(request); }).join(); };
        }
    };
    for (const bool startFirst : { false, true }) {
        SCOPED_TRACE(startFirst ? "called off after the download started" : "called off before");
        auto modifier = std::make_shared<Later>();
        IrisParsedOptionsInfo options;
        options.requestModifier = modifier;
        auto cancellation = std::make_shared<RetrievalCancellation>();
        auto answered = std::make_shared<std::atomic<int>>(0);
        manager->runRetrieval(
            convertToSource(server.url(QStringLiteral("/stalled.png"))), options, {}, {}, {},
            [answered](auto) { ++*answered; }, cancellation);
        ASSERT_TRUE(modifier->answer);
        if (!startFirst)
            cancellation->cancel();
        std::exchange(modifier->answer, nullptr)();
        ASSERT_TRUE(waitUntil([&] { return server.requestCount("/stalled.png") == int(startFirst); }, 10000));
        cancellation->cancel();
        ASSERT_TRUE(waitUntil([&] { return answered->load() > 0; }, 10000));
        EXPECT_TRUE(waitUntil([&] { return downloader->sessionDelegate()->allTasks().empty(); }, 3000));
        EXPECT_EQ(server.requestCount("/stalled.png"), int(startFirst));
        EXPECT_EQ(answered->load(), 1);
    }
}
