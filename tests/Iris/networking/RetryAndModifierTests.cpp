#include "DownloaderTestSupport.h"

#include "Iris/general/DelayRetryStrategy.h"
#include "Iris/networking/ImageModifier.h"
#include "Iris/networking/RequestModifier.h"

#include "platform/graphics/Image.h"

#include <QThread>

#include <cmath>
#include <stdexcept>

using namespace iris;
using namespace iristest;
using testsupport::waitUntil;

namespace {

IrisError responseFailure()
{
    return IrisError::responseError(IrisError::ResponseErrorReason::noURLResponse({}));
}

IrisError cancelled()
{
    return IrisError::requestError(IrisError::RequestErrorReason::taskCancelled({}, 0));
}

std::shared_ptr<RetryContext> contextWith(IrisError error, std::int64_t retried)
{
    auto context
        = std::make_shared<RetryContext>(convertToSource(QUrl(QStringLiteral("http://x/a.png"))), error);
    context->setRetriedCount(retried);
    return context;
}

} // namespace

TEST(DelayRetryStrategy, DecidesFromTheFirstErrorAndTheCount)
{
    using Interval = DelayRetryStrategy::Interval;
    struct Case {
        const char* name;
        int maxRetryCount;
        Interval interval;
        IrisError error;
        std::int64_t retried;
        std::optional<double> wait;
    };
    const Case cases[] = {
        { "no retries", 0, Interval::seconds(1), responseFailure(), 0, std::nullopt },
        { "negative limit", -1, Interval::seconds(1), responseFailure(), 0, std::nullopt },
        { "limit reached", 2, Interval::seconds(0), responseFailure(), 2, std::nullopt },
        { "immediate", 2, Interval::seconds(0), responseFailure(), 1, 0.0 },
        { "accumulated 0", 5, Interval::accumulated(1.5), responseFailure(), 0, 1.5 },
        { "accumulated 1", 5, Interval::accumulated(1.5), responseFailure(), 1, 3.0 },
        { "accumulated 2", 5, Interval::accumulated(1.5), responseFailure(), 2, 4.5 },
        { "custom gets the count", 5, Interval::custom([](std::int64_t n) { return n * 10.0; }),
            responseFailure(), 3, 30.0 },
        { "custom negative", 5, Interval::custom([](std::int64_t) { return -2.0; }), responseFailure(), 0,
            -2.0 },
        { "custom NaN", 5, Interval::custom([](std::int64_t) { return std::nan(""); }), responseFailure(), 0,
            std::nullopt },
        { "custom endless", 5, Interval::custom([](std::int64_t) { return INFINITY; }), responseFailure(), 0,
            std::nullopt },
        { "custom throws", 5,
            Interval::custom([](std::int64_t) -> double { throw std::runtime_error("no wait"); }),
            responseFailure(), 0, std::nullopt },
        { "cancelled", 5, Interval::seconds(0), cancelled(), 0, std::nullopt },
        { "empty request", 5, Interval::seconds(0),
            IrisError::requestError(IrisError::RequestErrorReason::emptyRequest()), 0, std::nullopt },
        { "processing", 5, Interval::seconds(0),
            IrisError::processorError(IrisError::ProcessorErrorReason::processingFailed({}, {})), 0,
            std::nullopt },
    };
    for (const Case& c : cases) {
        DelayRetryStrategy strategy(c.maxRetryCount, c.interval);
        EXPECT_EQ(strategy.waitBeforeRetry(*contextWith(c.error, c.retried)), c.wait) << c.name;
    }
}

TEST(DelayRetryStrategy, AZeroWaitRetriesAtOnceAndOthersGoThroughTheScheduler)
{
    std::vector<double> scheduled;
    std::vector<std::function<void()>> pending;
    DelayRetryStrategy strategy(3,
        DelayRetryStrategy::Interval::custom([](std::int64_t n) { return n * 0.5; }),
        [&](double seconds, std::function<void()> work) {
            scheduled.push_back(seconds);
            pending.push_back(std::move(work));
        });
    std::vector<RetryDecision::Kind> decisions;
    auto handler = [&](RetryDecision decision) { decisions.push_back(decision.kind); };

    strategy.retry(contextWith(responseFailure(), 0), handler);
    ASSERT_EQ(decisions.size(), 1u); // on the calling thread, before returning
    strategy.retry(contextWith(responseFailure(), 1), handler);
    EXPECT_EQ(decisions.size(), 1u);
    ASSERT_EQ(scheduled, std::vector<double> { 0.5 });
    pending.front()();
    EXPECT_EQ(decisions, (std::vector { RetryDecision::Kind::retry, RetryDecision::Kind::retry }));
    strategy.retry(contextWith(responseFailure(), 3), handler);
    EXPECT_EQ(decisions.back(), RetryDecision::Kind::stop);
    DelayRetryStrategy throwing(3, DelayRetryStrategy::Interval::custom([](std::int64_t) -> double {
        throw std::runtime_error("no wait");
    }));
    throwing.retry(contextWith(responseFailure(), 0), handler);
    EXPECT_EQ(decisions.size(), 4u);
    EXPECT_EQ(decisions.back(), RetryDecision::Kind::stop);

    // Without a scheduler, a delayed retry runs on the main queue.
    DelayRetryStrategy onMain(1, DelayRetryStrategy::Interval::seconds(0.01));
    std::atomic<bool> onMainThread { false }, ran { false };
    QThread* worker = QThread::create([&] {
        onMain.retry(contextWith(responseFailure(), 0), [&](RetryDecision) {
            onMainThread = testsupport::isMainThread();
            ran = true;
        });
    });
    worker->start();
    worker->wait();
    delete worker;
    ASSERT_TRUE(waitUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMainThread);
}

TEST(BlockModifiers, BlocksStandInForTheInterfaces)
{
    const platform::UrlRequest request(QUrl(QStringLiteral("http://127.0.0.1/a.png")));
    AnyModifier dropping([](const platform::UrlRequest&) { return std::nullopt; });
    bool answered = false;
    dropping.modifyRequest(request, [&](std::optional<platform::UrlRequest> answer) {
        EXPECT_FALSE(answer);
        answered = true;
    });
    EXPECT_TRUE(answered); // before modifyRequest returned
    EXPECT_FALSE(dropping.taskStartedHandler());

    auto image = platform::Image::createEmpty({ 2, 2 });
    auto other = platform::Image::createEmpty({ 3, 3 });
    AnyImageModifier replacing([other](std::shared_ptr<platform::Image>) { return other; });
    AnyImageModifier throwing([](std::shared_ptr<platform::Image>) -> std::shared_ptr<platform::Image> {
        throw std::runtime_error("no");
    });
    AnyImageModifier nothing(
        [](std::shared_ptr<platform::Image>) { return std::shared_ptr<platform::Image>(); });
    EXPECT_EQ(replacing.modifiedImage(image), other);
    EXPECT_EQ(throwing.modifiedImage(image), image);
    EXPECT_EQ(nothing.modifiedImage(image), image);
}
