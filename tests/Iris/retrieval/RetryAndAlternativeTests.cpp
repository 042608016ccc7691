#include "Iris/cache/ImageCache.h"
#include "Iris/general/DelayRetryStrategy.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/general/RetryStrategy.h"
#include "RetrievalTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <latch>
#include <random>
#include <thread>

using namespace iris;
using namespace retrievaltest;
using Item = IrisOptionsInfoItem;

namespace {

// Answers `retry` a number of times, then `stop`, recording what it was shown; optionally from a
// thread of its own.
class ScriptedStrategy final : public RetryStrategy {
public:
    ScriptedStrategy(int retries, bool answerOnOtherThread)
        : m_retries(retries)
        , m_otherThread(answerOnOtherThread)
    {
    }

    void retry(const std::shared_ptr<RetryContext>& context, RetryHandler handler) const override
    {
        {
            std::lock_guard lock(m_mutex);
            seenCounts.push_back(context->retriedCount());
            seenKeys.push_back(context->source().cacheKey());
            seenCodes.push_back(context->error().errorCode());
            seenUserInfo.push_back(context->userInfo() ? std::any_cast<int>(*context->userInfo()) : -1);
        }
        const std::int64_t count = context->retriedCount();
        RetryDecision decision
            = count < m_retries ? RetryDecision::retry(int(count) + 100) : RetryDecision::stop();
        if (m_otherThread)
            std::thread([handler, decision] { handler(decision); }).detach();
        else
            handler(decision);
    }

    mutable std::mutex m_mutex;
    mutable std::vector<std::int64_t> seenCounts;
    mutable std::vector<QString> seenKeys;
    mutable std::vector<int> seenCodes;
    mutable std::vector<int> seenUserInfo;

private:
    int m_retries;
    bool m_otherThread;
};

// Fails every request at once, on the calling thread, with a server-side failure a strategy retries.
class FailingDownloader final : public ImageDownloader {
public:
    FailingDownloader()
        : ImageDownloader(QStringLiteral("failing"))
    {
    }
    std::optional<DownloadTask> downloadImage(
        const QUrl&, const IrisParsedOptionsInfo&, DownloadCompletion completion) override
    {
        ++requests;
        completion(ImageLoadingResultOrError::failure(IrisError::responseError(
            IrisError::ResponseErrorReason::URLSessionError({ "url", -1004, "refused", nullptr }))));
        return std::nullopt;
    }
    std::atomic<int> requests { 0 };
};

// Refuses URLs whose path holds "bad" at once, inside the call, as a downloader does with a request
// it cannot make; hands every other request to `pending`.
class RefusingDownloader final : public ImageDownloader {
public:
    explicit RefusingDownloader(std::shared_ptr<FakeDownloader> pending)
        : ImageDownloader(QStringLiteral("refusing"))
        , m_pending(std::move(pending))
    {
    }
    std::optional<DownloadTask> downloadImage(
        const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion) override
    {
        if (!url.path().contains("bad"))
            return m_pending->downloadImage(url, options, std::move(completion));
        completion(ImageLoadingResultOrError::failure(
            IrisError::requestError(IrisError::RequestErrorReason::emptyRequest())));
        return std::nullopt;
    }

private:
    std::shared_ptr<FakeDownloader> m_pending;
};

class RetryAndAlternatives : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_caches.isValid());
        cache = ImageCache::initNamed("retry", QUrl::fromLocalFile(m_caches.path()));
        downloader = std::make_shared<FakeDownloader>();
        manager = IrisManager::create(downloader, cache);
    }

    std::shared_ptr<Outcome> start(const Source& source, IrisOptionsInfo options,
        DownloadTaskUpdatedCallback taskUpdated = {}, std::optional<DownloadTask>* task = nullptr)
    {
        auto outcome = std::make_shared<Outcome>();
        std::optional<DownloadTask> started = manager->retrieveSource(
            source, options, {}, std::move(taskUpdated), outcome->completion(outcome));
        if (task)
            *task = started;
        return outcome;
    }

    QTemporaryDir m_caches;
    std::shared_ptr<ImageCache> cache;
    std::shared_ptr<FakeDownloader> downloader;
    std::shared_ptr<IrisManager> manager;
};

Source networkSource(const QString& name)
{
    return convertToSource(QUrl("http://127.0.0.1/" + name));
}

} // namespace

TEST_F(RetryAndAlternatives, AlternativesAreTriedInOrderAndEveryFailureIsReported)
{
    auto [first, firstCalls] = countingSource("first", std::nullopt);
    auto [second, secondCalls] = countingSource("second", std::nullopt);
    auto [third, thirdCalls] = countingSource("third", std::nullopt);
    auto outcome = start(first, { Item::alternativeSources({ second, third }) });
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->onMainThread);
    ASSERT_FALSE(outcome->succeeded());
    const auto* reason = outcome->error().imageSettingReason();
    ASSERT_TRUE(reason);
    ASSERT_EQ(reason->kind, IrisError::ImageSettingErrorReason::Kind::alternativeSourcesExhausted);
    ASSERT_EQ(reason->errors->size(), 3u);
    EXPECT_EQ((*reason->errors)[0].source.object->cacheKey(), "first");
    EXPECT_EQ((*reason->errors)[1].source.object->cacheKey(), "second");
    EXPECT_EQ((*reason->errors)[2].source.object->cacheKey(), "third");
    EXPECT_EQ(*firstCalls + *secondCalls + *thirdCalls, 3);

    // The second alternative works: it is the source of the result, the first one its original.
    auto [good, goodCalls] = countingSource("good", jpegData());
    auto rescued = start(first, { Item::alternativeSources({ second, good, third }) });
    ASSERT_TRUE(rescued->wait());
    ASSERT_TRUE(rescued->succeeded());
    EXPECT_EQ(rescued->value().source, good);
    EXPECT_EQ(rescued->value().originalSource, first);
    EXPECT_EQ(*thirdCalls, 1);

    // Without alternatives the single error comes back unchanged.
    auto alone = start(first, {});
    ASSERT_TRUE(alone->wait());
    EXPECT_EQ(alone->error().errorCode(), 5003);
}

TEST_F(RetryAndAlternatives, StrategyRetriesTwiceThenStops)
{
    auto [source, calls] = countingSource("flaky", std::nullopt);
    auto strategy = std::make_shared<ScriptedStrategy>(2, false);
    auto outcome = start(source, { Item::retryStrategy(strategy) });
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(*calls, 3);
    EXPECT_EQ(strategy->seenCounts, (std::vector<std::int64_t> { 0, 1, 2 }));
    EXPECT_EQ(strategy->seenKeys, (std::vector<QString> { "flaky", "flaky", "flaky" }));
    EXPECT_EQ(strategy->seenUserInfo, (std::vector<int> { -1, 100, 101 }));
    EXPECT_EQ(outcome->error().errorCode(), 5003);
}

// Retries that are decided at once after failures that come at once do not nest: a hundred thousand
// of them neither run out of stack nor go past the strategy's count, on either kind of caller queue.
TEST_F(RetryAndAlternatives, ImmediateRetriesOfImmediateFailuresDoNotGrowTheStack)
{
    constexpr int retries = 100000;
    auto failing = std::make_shared<FailingDownloader>();
    auto strategy = std::make_shared<DelayRetryStrategy>(retries, DelayRetryStrategy::Interval::seconds(0));
    const Item queues[] = { Item::callbackQueue(CallbackQueue::mainCurrentOrAsync()),
        Item::callbackQueue(CallbackQueue::untouch()) };
    for (const auto& queue : queues) {
        failing->requests = 0;
        auto outcome = start(networkSource("refused.png"),
            { Item::downloader(failing), Item::retryStrategy(strategy), queue });
        ASSERT_TRUE(outcome->wait(120000));
        Outcome::settle(manager);
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_EQ(failing->requests, retries + 1);
        EXPECT_EQ(outcome->error().errorCase(), IrisError::Case::responseError);
    }
}

// A strategy that decides on a thread of its own still ends the retrieval on the caller's queue.
TEST_F(RetryAndAlternatives, DecisionsFromAnotherThreadStillCompleteOnTheCallersQueue)
{
    auto [source, calls] = countingSource("elsewhere", std::nullopt);
    auto strategy = std::make_shared<ScriptedStrategy>(1, true);
    auto outcome = start(source, { Item::retryStrategy(strategy) });
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->onMainThread);
    EXPECT_EQ(*calls, 2);

    auto queue = platform::DispatchQueue::makeSerial("caller");
    auto onQueue = std::make_shared<Outcome>();
    onQueue->expectedQueue = queue;
    auto [other, otherCalls] = countingSource("elsewhere2", std::nullopt);
    auto [good, goodCalls] = countingSource("good", jpegData());
    manager->retrieveSource(other,
        IrisOptionsInfo { Item::retryStrategy(std::make_shared<ScriptedStrategy>(1, true)),
            Item::callbackQueue(CallbackQueue::dispatch(queue)), Item::alternativeSources({ good }) },
        {}, {}, onQueue->completion(onQueue));
    ASSERT_TRUE(onQueue->wait());
    EXPECT_TRUE(onQueue->onExpectedQueue);
    ASSERT_TRUE(onQueue->succeeded());
    EXPECT_EQ(onQueue->value().source, good);
}

TEST_F(RetryAndAlternatives, CancellingCompletesOnceWithTheCancelErrorAndTriesNoAlternative)
{
    auto [alternative, alternativeCalls] = countingSource("alt", jpegData());
    std::optional<DownloadTask> task;
    auto outcome = start(networkSource("a.png"), { Item::alternativeSources({ alternative }) }, {}, &task);
    ASSERT_TRUE(task);
    EXPECT_EQ(outcome->calls, 0);
    downloader->cancel(task->cancelToken);
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    ASSERT_FALSE(outcome->succeeded());
    EXPECT_TRUE(outcome->error().isCancelledTask());
    EXPECT_EQ(*alternativeCalls, 0);
}

// A strategy that throws instead of answering stops the retries, as `stop` does.
class ThrowingStrategy final : public RetryStrategy {
public:
    void retry(const std::shared_ptr<RetryContext>&, RetryHandler) const override
    {
        throw std::runtime_error("no");
    }
};

TEST_F(RetryAndAlternatives, AStrategyThatThrowsStopsRetrying)
{
    auto [failing, failingCalls] = countingSource("unreadable", std::nullopt);
    auto [alternative, alternativeCalls] = countingSource("readable", jpegData());
    auto outcome = start(failing,
        { Item::retryStrategy(std::make_shared<ThrowingStrategy>()),
            Item::alternativeSources({ alternative }) });
    ASSERT_TRUE(outcome->wait());
    ASSERT_TRUE(outcome->succeeded());
    EXPECT_EQ(outcome->value().source.cacheKey(), "readable");
}

// A download whose transfer has ended has nothing left to cancel while its image is made; the
// retrieval called off then still ends as cancelled.
TEST_F(RetryAndAlternatives, ACancelWhileTheDownloadedImageIsMadeEndsAsCancelled)
{
    std::optional<DownloadTask> task;
    auto outcome = start(networkSource("late.png"), {}, {}, &task);
    task->cancel();
    downloader->succeed(task->cancelToken, jpegData());
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(!outcome->succeeded() && outcome->error().isCancelledTask());
}

TEST_F(RetryAndAlternatives, ACancelledRetrievalIsNeverRetried)
{
    auto strategy = std::make_shared<ScriptedStrategy>(5, false);
    std::vector<std::optional<DownloadTask>> updates;
    std::optional<DownloadTask> task;
    auto outcome = start(networkSource("c.png"), { Item::retryStrategy(strategy) },
        [&](std::optional<DownloadTask> updated) { updates.push_back(updated); }, &task);
    ASSERT_TRUE(task);
    downloader->cancel(task->cancelToken);
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->error().isCancelledTask());
    EXPECT_TRUE(strategy->seenCounts.empty());
    EXPECT_TRUE(updates.empty());
}

TEST_F(RetryAndAlternatives, NetworkRoadUsesTheDownloaderAndReportsNewTasks)
{
    std::vector<std::optional<DownloadTask>> updates;
    auto strategy = std::make_shared<ScriptedStrategy>(1, false);
    std::optional<DownloadTask> task;
    auto outcome = start(
        networkSource("b.png"), { Item::retryStrategy(strategy) },
        [&](std::optional<DownloadTask> updated) { updates.push_back(updated); }, &task);
    ASSERT_TRUE(task);
    downloader->finish(task->cancelToken,
        ImageLoadingResultOrError::failure(IrisError::responseError(
            IrisError::ResponseErrorReason::URLSessionError({ "url", -1001, "timed out", nullptr }))));
    ASSERT_TRUE(testsupport::waitUntil([&] { return updates.size() == 1; }));
    ASSERT_TRUE(updates[0]);
    EXPECT_NE(updates[0]->cancelToken, task->cancelToken);
    downloader->succeed(updates[0]->cancelToken, jpegData());
    ASSERT_TRUE(outcome->wait());
    ASSERT_TRUE(outcome->succeeded());
    EXPECT_EQ(outcome->value().cacheType, CacheType::none);
    EXPECT_EQ(cache->cacheTypeOfKey("http://127.0.0.1/b.png"), CacheType::memory);
    EXPECT_EQ(downloader->pendingCount(), 0);
}

TEST_F(RetryAndAlternatives, LowDataConstraintSwitchesOnceToTheLowDataSource)
{
    auto constrained = [] {
        platform::PlatformError reason { networkUnavailableReasonDomain,
            int(NetworkUnavailableReason::constrained), "constrained", nullptr };
        platform::PlatformError error { urlErrorDomain, -1009, "offline",
            std::make_shared<platform::PlatformError>(reason) };
        return ImageLoadingResultOrError::failure(
            IrisError::responseError(IrisError::ResponseErrorReason::URLSessionError(error)));
    };
    const Source lowData = networkSource("small.png");
    auto [alternative, alternativeCalls] = countingSource("alt", jpegData());
    std::vector<std::optional<DownloadTask>> updates;
    std::optional<DownloadTask> task;
    auto outcome = start(
        networkSource("big.png"), { Item::lowDataMode(lowData), Item::alternativeSources({ alternative }) },
        [&](std::optional<DownloadTask> updated) { updates.push_back(updated); }, &task);
    ASSERT_TRUE(task);
    downloader->finish(task->cancelToken, constrained());
    ASSERT_TRUE(testsupport::waitUntil([&] { return updates.size() == 1; }));
    downloader->finish(updates[0]->cancelToken, constrained());
    ASSERT_TRUE(outcome->wait());
    ASSERT_FALSE(outcome->succeeded());
    EXPECT_TRUE(outcome->error().isLowDataConstrained());
    EXPECT_EQ(*alternativeCalls, 0);
}

namespace {

IrisError serverFailure()
{
    return IrisError::responseError(
        IrisError::ResponseErrorReason::URLSessionError({ "url", -1011, "bad response", nullptr }));
}

} // namespace

// Sources refused inside the call give way to an alternative there and then: the caller is handed
// the alternative's download, by the call and as the last task reported, so cancelling what it
// holds calls the download off.
TEST_F(RetryAndAlternatives, TheTaskHandedOutIsTheOneOfTheAttemptStillRunning)
{
    auto refusing = std::make_shared<RefusingDownloader>(downloader);
    std::vector<std::optional<DownloadTask>> updates;
    std::optional<DownloadTask> task;
    auto outcome = start(
        networkSource("bad-first.png"),
        { Item::downloader(refusing),
            Item::alternativeSources({ networkSource("bad-second.png"), networkSource("good.png") }) },
        [&](std::optional<DownloadTask> updated) { updates.push_back(updated); }, &task);
    ASSERT_EQ(downloader->pendingCount(), 1);
    ASSERT_TRUE(task);
    ASSERT_FALSE(updates.empty());
    ASSERT_TRUE(updates.back());
    EXPECT_EQ(updates.back()->cancelToken, task->cancelToken);

    task->cancel();
    ASSERT_TRUE(task->retrieval);
    EXPECT_TRUE(task->retrieval->isCancelled());
    downloader->cancel(task->cancelToken);
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->error().isCancelledTask());
}

// A delayed retry that is waiting is called off by cancelling the task the caller holds: the
// retrieval ends with the cancel there and then, once, and the retry, when its time comes, starts
// nothing.
TEST_F(RetryAndAlternatives, CancellingDuringARetryWaitEndsOnceAndStartsNothing)
{
    std::vector<std::function<void()>> waiting;
    auto strategy = std::make_shared<DelayRetryStrategy>(3, DelayRetryStrategy::Interval::seconds(30),
        [&](double, std::function<void()> work) { waiting.push_back(std::move(work)); });
    auto [alternative, alternativeCalls] = countingSource("alt", jpegData());
    std::vector<std::optional<DownloadTask>> updates;
    std::optional<DownloadTask> task;
    auto outcome = start(
        networkSource("wait.png"),
        { Item::retryStrategy(strategy), Item::alternativeSources({ alternative }) },
        [&](std::optional<DownloadTask> updated) { updates.push_back(updated); }, &task);
    ASSERT_TRUE(task);
    downloader->finish(task->cancelToken, ImageLoadingResultOrError::failure(serverFailure()));
    ASSERT_TRUE(testsupport::waitUntil([&] { return waiting.size() == 1; }));

    task->cancel();
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->error().isCancelledTask());
    waiting.front()();
    task->cancel();
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(downloader->pendingCount(), 0);
    EXPECT_TRUE(updates.empty());
    EXPECT_EQ(*alternativeCalls, 0);
}

// A download started because the cached entry could not be used reaches the caller as any other
// load's task does, and cancelling it calls the retrieval off.
TEST_F(RetryAndAlternatives, AReloadAfterAnUnusableCacheEntryIsHandedToTheCaller)
{
    const Source source = networkSource("broken.png");
    std::atomic<bool> written { false };
    cache->writeDataToDisk("garbage that is no image", source.cacheKey(), {}, std::nullopt,
        CallbackQueue::untouch(), [&](CacheStoreResult) { written = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return written.load(); }));
    ASSERT_EQ(cache->cacheTypeOfKey(source.cacheKey()), CacheType::disk);

    auto cancellation = std::make_shared<RetrievalCancellation>();
    auto [alternative, alternativeCalls] = countingSource("alt", jpegData());
    std::vector<std::optional<DownloadTask>> updates;
    auto outcome = std::make_shared<Outcome>();
    IrisParsedOptionsInfo options(IrisOptionsInfo {
        Item::targetCache(cache), Item::downloader(downloader), Item::alternativeSources({ alternative }) });
    const std::optional<DownloadTask> returned = manager->retrieveWithParsedOptions(
        source, options, {}, [&](std::optional<DownloadTask> updated) { updates.push_back(updated); },
        outcome->completion(outcome), cancellation);
    EXPECT_FALSE(returned);
    ASSERT_TRUE(testsupport::waitUntil([&] { return updates.size() == 1; }));
    ASSERT_TRUE(updates[0]);
    EXPECT_EQ(downloader->pendingCount(), 1);
    EXPECT_EQ(updates[0]->retrieval, cancellation);

    updates[0]->cancel();
    EXPECT_TRUE(cancellation->isCancelled());
    // What the transfer answers once its request has been called off does not revive the retrieval.
    downloader->finish(updates[0]->cancelToken, ImageLoadingResultOrError::failure(serverFailure()));
    ASSERT_TRUE(outcome->wait());
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->error().isCancelledTask());
    EXPECT_EQ(*alternativeCalls, 0);
}

// A retrieval called off while its cache entry is being read starts no load when the entry turns out
// unusable: nobody waits for the image any more.
TEST_F(RetryAndAlternatives, AnUnusableCacheEntryFoundAfterACancelStartsNoLoad)
{
    const Source source = networkSource("broken-late.png");
    std::atomic<bool> written { false };
    cache->writeDataToDisk("garbage that is no image", source.cacheKey(), {}, std::nullopt,
        CallbackQueue::untouch(), [&](CacheStoreResult) { written = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return written.load(); }));
    auto release = std::make_shared<std::latch>(1);
    cache->ioQueue()->async([release] { release->wait(); });

    auto cancellation = std::make_shared<RetrievalCancellation>();
    auto outcome = std::make_shared<Outcome>();
    IrisParsedOptionsInfo options(IrisOptionsInfo { Item::targetCache(cache), Item::downloader(downloader) });
    manager->retrieveWithParsedOptions(source, options, {}, {}, outcome->completion(outcome), cancellation);
    cancellation->cancel();
    ASSERT_TRUE(outcome->wait());
    EXPECT_TRUE(outcome->error().isCancelledTask());

    release->count_down();
    Outcome::settle(manager);
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_EQ(downloader->pendingCount(), 0);
}

// Cancels racing with a strategy that answers from threads of its own and with attempts that fail at
// once: each retrieval still ends exactly once, and a cancelled one with the cancel.
TEST_F(RetryAndAlternatives, ACancelRacingWithRetriesEndsEachRetrievalOnce)
{
    auto failing = std::make_shared<FailingDownloader>();
    auto strategy = std::make_shared<ScriptedStrategy>(20, true);
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        auto cancellation = std::make_shared<RetrievalCancellation>();
        auto outcome = std::make_shared<Outcome>();
        IrisParsedOptionsInfo options(IrisOptionsInfo { Item::targetCache(cache), Item::downloader(failing),
            Item::retryStrategy(strategy),
            Item::callbackQueue(CallbackQueue::dispatch(manager->processingQueue())) });
        manager->retrieveWithParsedOptions(
            networkSource("race.png"), options, {}, {}, outcome->completion(outcome), cancellation);
        const auto delay = std::chrono::microseconds(random() % 400);
        std::thread canceller([cancellation, delay] {
            std::this_thread::sleep_for(delay);
            cancellation->cancel();
        });
        canceller.join();
        ASSERT_TRUE(outcome->wait());
        Outcome::settle(manager);
        EXPECT_EQ(outcome->calls, 1);
        if (outcome->error().isCancelledTask())
            continue;
        // Not cancelled in time: the strategy gave up first.
        EXPECT_EQ(outcome->error().errorCase(), IrisError::Case::responseError);
    }
}
