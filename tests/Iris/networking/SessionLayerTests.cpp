#include "Iris/image/Image.h"
#include "Iris/image/ImageProcessor.h"
#include "Iris/networking/ImageDataProcessor.h"
#include "Iris/networking/SessionDelegate.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/UrlSession.h"
#include "platform/foundation/UrlSessionTask.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/TestImages.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using namespace iris;
using platform::UrlRequest;
using platform::UrlResponse;
using testsupport::waitUntil;

namespace {

// Transfers registered on a session that never sends them: the delegate's messages are called
// directly, so each rule is seen without a network.
class SessionLayerTest : public ::testing::Test {
protected:
    ~SessionLayerTest() override { session->invalidateAndCancel(); }

    std::shared_ptr<platform::UrlSessionDataTask> platformTask(const QString& path = QStringLiteral("/a.png"))
    {
        return session->dataTask(UrlRequest(QUrl(QStringLiteral("http://127.0.0.1:9") + path)));
    }

    // Registers a transfer for `dataTask` with one callback; records what its requests are told.
    DownloadTask registerTask(const std::shared_ptr<platform::UrlSessionDataTask>& dataTask)
    {
        auto made = delegate->addOrJoinTask(
            dataTask->originalRequest().url,
            [&] {
                auto task = std::make_shared<SessionDataTask>(dataTask);
                task->onTaskDone.delegate<SessionDataTask>(task,
                    [this](SessionDataTask&, std::pair<DownloadResult, SessionDataTask::Callbacks> input) {
                        for (const TaskCallback& callback : input.second)
                            outcomes.push_back({ callback.token, input.first });
                        return std::monostate {};
                    });
                return task;
            },
            TaskCallback {});
        return made->first;
    }

    DownloadTask join(const QUrl& url)
    {
        return delegate
            ->addOrJoinTask(
                url, [] { return nullptr; }, TaskCallback {})
            ->first;
    }

    std::shared_ptr<SessionDelegate> delegate = std::make_shared<SessionDelegate>();
    std::shared_ptr<platform::UrlSession> session
        = platform::UrlSession::create(platform::UrlSessionConfiguration::ephemeral(), nullptr);
    std::vector<std::pair<std::int64_t, DownloadResult>> outcomes;
};

UrlResponse httpResponse(int status)
{
    UrlResponse response;
    response.isHttp = true;
    response.statusCode = status;
    return response;
}

} // namespace

TEST_F(SessionLayerTest, TokensCountUpAndAreNeverReused)
{
    auto dataTask = platformTask();
    DownloadTask first = registerTask(dataTask);
    DownloadTask second = join(dataTask->originalRequest().url);
    EXPECT_EQ(first.cancelToken, 0);
    EXPECT_EQ(second.cancelToken, 1);
    first.cancel();
    EXPECT_EQ(join(dataTask->originalRequest().url).cancelToken, 2);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].first, 0);
    EXPECT_TRUE(outcomes[0].second.error().isCancelledTask());

    // Cancelling what is no longer there tells nobody.
    first.cancel();
    EXPECT_EQ(outcomes.size(), 1u);
}

TEST_F(SessionLayerTest, TheLastCancelStopsTheTransferAndLateRequestsStartAnew)
{
    auto dataTask = platformTask();
    DownloadTask first = registerTask(dataTask);
    DownloadTask second = join(dataTask->originalRequest().url);
    first.cancel();
    EXPECT_EQ(delegate->taskForURL(dataTask->originalRequest().url), first.sessionTask);
    second.cancel();
    EXPECT_FALSE(delegate->taskForURL(dataTask->originalRequest().url));
    EXPECT_TRUE(first.sessionTask->isClosed());
    EXPECT_TRUE(
        waitUntil([&] { return dataTask->state() == platform::UrlSessionDataTask::State::completed; }));

    // The cancelled transfer's completion report finds nothing and is ignored.
    delegate->didComplete(*session, dataTask, std::nullopt);
    EXPECT_EQ(outcomes.size(), 2u);
}

TEST_F(SessionLayerTest, AnOldTransferNeverUnregistersItsReplacement)
{
    auto oldTask = platformTask();
    DownloadTask old = registerTask(oldTask);
    delegate->retireAllTasks();
    auto newTask = session->dataTask(oldTask->originalRequest());
    DownloadTask fresh = registerTask(newTask);
    ASSERT_NE(fresh.sessionTask, old.sessionTask);

    old.cancel(); // the old transfer's last request goes
    EXPECT_EQ(delegate->taskForURL(oldTask->originalRequest().url), fresh.sessionTask);
    delegate->didComplete(*session, oldTask, std::nullopt);
    EXPECT_FALSE(fresh.sessionTask->isClosed());
}

TEST_F(SessionLayerTest, ResponsesAreCheckedBeforeAnyByteIsRead)
{
    struct Case {
        UrlResponse response;
        bool hookBound;
        bool valid;
        int expectedCode;
        platform::UrlSessionResponseDisposition disposition;
    };
    UrlResponse notHttp;
    notHttp.url = QUrl(QStringLiteral("data:,x"));
    const Case cases[] = {
        { notHttp, true, true, 2001, platform::UrlSessionResponseDisposition::cancel },
        { httpResponse(404), true, false, 2002, platform::UrlSessionResponseDisposition::cancel },
        { httpResponse(200), false, true, 2002, platform::UrlSessionResponseDisposition::cancel },
        { httpResponse(200), true, true, 0, platform::UrlSessionResponseDisposition::allow },
    };
    auto owner = std::make_shared<int>(0);
    for (const Case& c : cases) {
        delegate = std::make_shared<SessionDelegate>();
        outcomes.clear();
        if (c.hookBound)
            delegate->onValidStatusCode.delegate<int>(owner, [valid = c.valid](int&, int) { return valid; });
        delegate->onResponseReceived.delegate<int>(
            owner, [](int&, std::pair<UrlResponse, platform::UrlResponseDispositionHandler> input) {
                input.second(platform::UrlSessionResponseDisposition::allow);
                return std::monostate {};
            });
        auto dataTask = platformTask();
        registerTask(dataTask);
        std::optional<platform::UrlSessionResponseDisposition> told;
        delegate->didReceiveResponse(
            *session, dataTask, c.response, [&](auto disposition) { told = disposition; });
        EXPECT_EQ(told, c.disposition) << c.expectedCode;
        if (c.expectedCode) {
            ASSERT_EQ(outcomes.size(), 1u);
            EXPECT_EQ(outcomes[0].second.error().errorCode(), c.expectedCode);
            EXPECT_FALSE(delegate->taskForURL(dataTask->originalRequest().url));
        } else {
            EXPECT_TRUE(outcomes.empty());
        }
    }
}

TEST_F(SessionLayerTest, CompletionDeliversTheOwnersBytesAndReportsAMissingResponse)
{
    auto owner = std::make_shared<int>(0);
    std::optional<UrlResponseOrError> finishing;
    delegate->onDownloadingFinished.delegate<int>(
        owner, [&](int&, std::pair<QUrl, UrlResponseOrError> input) {
            finishing = input.second;
            return std::monostate {};
        });
    delegate->onDidDownloadData.delegate<int>(
        owner, [](int&, std::shared_ptr<SessionDataTask> task) -> std::optional<QByteArray> {
            return task->mutableData() + "!";
        });
    auto dataTask = platformTask();
    DownloadTask task = registerTask(dataTask);
    delegate->didReceiveData(*session, dataTask, "abc");
    delegate->didComplete(*session, dataTask, std::nullopt);

    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(outcomes[0].second.isSuccess());
    EXPECT_EQ(outcomes[0].second.value().data, QByteArray("abc!"));
    EXPECT_FALSE(outcomes[0].second.value().response);
    EXPECT_EQ(task.sessionTask->mutableData(), QByteArray("abc"));
    ASSERT_TRUE(finishing);
    EXPECT_EQ(finishing->error().errorCode(), 2005);

    // Without an owner to hand over the bytes, the download fails.
    delegate = std::make_shared<SessionDelegate>();
    outcomes.clear();
    auto second = platformTask(QStringLiteral("/b.png"));
    registerTask(second);
    delegate->didComplete(*session, second, std::nullopt);
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].second.error().errorCode(), 2004);
}

namespace {

struct CountingProcessor final : ImageProcessor {
    CountingProcessor(QString identifier, int failures = 0, bool throws = false)
        : m_identifier(std::move(identifier))
        , m_failures(failures)
        , m_throws(throws)
    {
    }
    QString identifier() const override { return m_identifier; }
    std::shared_ptr<platform::Image> process(
        const ImageProcessItem& item, const IrisParsedOptionsInfo& options) const override
    {
        runs += 1;
        if (m_throws)
            throw std::runtime_error("broken processor");
        if (runs <= m_failures)
            return nullptr;
        return DefaultImageProcessor::shared()->process(item, options);
    }
    QString m_identifier;
    int m_failures;
    bool m_throws;
    mutable std::atomic<int> runs { 0 };
};

std::vector<ImageOrError> processAll(
    const QByteArray& data, const std::vector<IrisParsedOptionsInfo>& optionsList)
{
    SessionDataTask::Callbacks callbacks;
    for (const IrisParsedOptionsInfo& options : optionsList)
        callbacks.push_back(TaskCallback { {}, options, static_cast<std::int64_t>(callbacks.size()) });
    auto processor = std::make_shared<ImageDataProcessor>(data, callbacks, CallbackQueue::untouch());
    std::vector<ImageOrError> results;
    processor->onImageProcessed.delegate<ImageDataProcessor>(
        processor, [&](ImageDataProcessor&, std::pair<ImageOrError, TaskCallback> input) {
            EXPECT_EQ(input.second.token, static_cast<std::int64_t>(results.size()));
            results.push_back(input.first);
            return std::monostate {};
        });
    processor->startProcessing();
    return results;
}

} // namespace

// The bytes accumulate in place: a declared length is reserved at the first chunk, so no chunk
// moves the ones before it; without one (or past a length that was too small) the buffer grows by
// doubling, so the bytes moved stay within a small multiple of the total. A declared length far
// beyond what comes reserves only a bounded room. Readers see exactly the bytes received so far.
TEST(SessionDataTask, ChunksAccumulateWithoutMovingTheBytesBeforeThem)
{
    struct Row {
        std::int64_t declared;
        bool moves;
    };
    QByteArray body(300 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char(i % 251);
    for (const Row& row : { Row { body.size(), false }, Row { -1, true }, Row { body.size() / 3, true },
             Row { std::int64_t(1) << 40, false } }) {
        SessionDataTask task(nullptr);
        for (qsizetype offset = 0; offset < body.size(); offset += 1000) {
            task.didReceiveData(body.mid(offset, 1000), row.declared);
            task.readReceivedData([&](QByteArrayView bytes) {
                EXPECT_TRUE(
                    bytes == QByteArrayView(body).first(std::min<qsizetype>(offset + 1000, body.size())))
                    << row.declared << " " << offset;
            });
        }
        EXPECT_EQ(task.mutableData(), body) << row.declared;
        EXPECT_EQ(task.relocatedBytes() > 0, row.moves) << row.declared;
        EXPECT_LE(task.relocatedBytes(), 3 * body.size()) << row.declared;
    }
}

TEST(ImageDataProcessor, EachProcessorRunsOncePerDownload)
{
    const QByteArray png = testimages::encoded(testimages::pattern(10, 5), "png");
    auto other = std::make_shared<CountingProcessor>(QStringLiteral("other"));
    auto failingOnce = std::make_shared<CountingProcessor>(QStringLiteral("flaky"), 1);
    auto throwing = std::make_shared<CountingProcessor>(QStringLiteral("throws"), 0, true);
    IrisParsedOptionsInfo plain, decoded, withOther, withFlaky, withThrowing;
    decoded.backgroundDecode = true;
    withOther.processor = other;
    withFlaky.processor = failingOnce;
    withThrowing.processor = throwing;

    const auto results = processAll(png, { plain, decoded, withOther, withFlaky, withFlaky, withThrowing });
    ASSERT_EQ(results.size(), 6u);
    EXPECT_TRUE(results[0].isSuccess());
    // Same processor, one run; the decoded copy is a new image of the same size.
    ASSERT_TRUE(results[1].isSuccess());
    EXPECT_NE(results[1].value(), results[0].value());
    EXPECT_EQ(results[1].value()->size().width, results[0].value()->size().width);
    EXPECT_EQ(other->runs, 1);
    EXPECT_TRUE(results[2].isSuccess());
    // A processor that gave no image runs again for the next request.
    EXPECT_EQ(results[3].error().errorCode(), 4001);
    EXPECT_TRUE(results[4].isSuccess());
    EXPECT_EQ(failingOnce->runs, 2);
    // One that throws gives no image, and the others are not disturbed.
    EXPECT_EQ(results[5].error().errorCode(), 4001);
    // Requests that ask for a decoded copy share one, as they share the image.
    const auto twice = processAll(png, { decoded, decoded });
    ASSERT_TRUE(twice[0].isSuccess() && twice[1].isSuccess());
    EXPECT_EQ(twice[0].value(), twice[1].value());

    EXPECT_TRUE(processAll(png, {}).empty());
}

// Requests joined on one download share an image only when they agree on wanting a GIF's first
// frame alone; a first frame made ready for drawing still carries the animation's data.
TEST(ImageDataProcessor, AFirstFrameRequestAndAnAnimationRequestEachGetTheirOwn)
{
    const QByteArray gif = testimages::writeGif(8, 8, { { QRect(0, 0, 8, 8), 0 }, { QRect(0, 0, 8, 8), 1 } });
    IrisParsedOptionsInfo animation, firstFrame;
    firstFrame.onlyLoadFirstFrame = true;
    firstFrame.backgroundDecode = true;
    for (const auto& order :
        { std::vector { animation, firstFrame }, std::vector { firstFrame, animation } }) {
        const auto results = processAll(gif, order);
        for (std::size_t index = 0; index < 2; ++index) {
            const ImageWrapper image = ir(results.at(index).value());
            EXPECT_EQ(
                image.images() ? image.images()->size() : 1u, order[index].onlyLoadFirstFrame ? 1u : 2u);
            EXPECT_EQ(image.animatedImageData(), gif);
        }
    }
}

TEST(ImageDataProcessor, ProcessingRunsOnTheSharedSerialQueueUnlessTheOptionsNameOne)
{
    EXPECT_EQ(
        ImageDataProcessor::sharedProcessingQueue()->label(), "org.tindrel.Iris.ImageDownloader.Process");
    const QByteArray png = testimages::encoded(testimages::pattern(4, 4), "png");
    auto own = platform::DispatchQueue::makeSerial("own");
    for (auto queue :
        { std::optional<CallbackQueue>(), std::optional<CallbackQueue>(CallbackQueue::dispatch(own)) }) {
        auto expected = queue ? own : ImageDataProcessor::sharedProcessingQueue();
        auto processor = std::make_shared<ImageDataProcessor>(
            png, SessionDataTask::Callbacks { TaskCallback {} }, queue);
        std::atomic<bool> onQueue { false }, done { false };
        processor->onImageProcessed.delegate<ImageDataProcessor>(processor, [&](ImageDataProcessor&, auto) {
            onQueue = expected->isCurrent();
            done = true;
            return std::monostate {};
        });
        processor->startProcessing();
        processor.reset();
        ASSERT_TRUE(waitUntil([&] { return done.load(); }));
        EXPECT_TRUE(onQueue);
    }
}

TEST(ImageDataProcessor, DecodingKeepsSizeAndToleratesAnyScale)
{
    auto bitmap = platform::Bitmap::fromImage(testimages::pattern(20, 10));
    auto image = platform::Image::create(*bitmap, 2.0);
    for (double scale : { 1.0, 2.0, 0.0, -1.0, std::nan("") }) {
        auto decoded = ImageDataProcessor::decodedImage(image, scale);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->pixelSize().width, 20);
        EXPECT_EQ(decoded->size().width, 10);
        EXPECT_EQ(decoded->bitmap()->image().pixel(7, 3), image->bitmap()->image().pixel(7, 3));
    }
    auto empty = platform::Image::createEmpty({ 5, 5 });
    EXPECT_EQ(ImageDataProcessor::decodedImage(empty, 1), empty);
}
