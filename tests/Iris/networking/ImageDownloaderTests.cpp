#include "DownloaderTestSupport.h"

#include "Iris/image/ImageProcessor.h"
#include "Iris/networking/ImagePrefetcher.h"
#include "Iris/networking/RedirectHandler.h"
#include "Iris/networking/RequestModifier.h"
#include "Iris/networking/SessionDelegate.h"

#include "platform/foundation/UrlError.h"
#include "platform/foundation/UrlSession.h"
#include "platform/foundation/UrlSessionTask.h"
#include "platform/graphics/Image.h"

#include <QCoreApplication>
#include <QThread>

#include <latch>

#include <mutex>
#include <thread>

using namespace iris;
using namespace iristest;
using platform::UrlError;
using platform::UrlRequest;
using testsupport::HttpTestServer;
using testsupport::waitUntil;

TEST_F(DownloaderTest, RequestsForOneUrlShareOneTransferAndAllComplete)
{
    server.addGated("/shared.png", pngBody());
    server.start();
    const QUrl url = server.url(QStringLiteral("/shared.png"));

    std::vector<std::shared_ptr<Answers>> answers;
    std::vector<DownloadTask> tasks;
    for (int i = 0; i < 10; ++i) {
        std::optional<DownloadTask> task;
        answers.push_back(download(url, {}, &task));
        ASSERT_TRUE(task);
        tasks.push_back(*task);
    }
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(tasks[i].sessionTask, tasks[0].sessionTask);
        EXPECT_EQ(tasks[i].cancelToken, i);
    }
    server.openGate();
    ASSERT_TRUE(waitUntil([&] {
        for (auto& answer : answers)
            if (answer->count() == 0)
                return false;
        return true;
    }));
    EXPECT_EQ(server.requestCount("/shared.png"), 1);
    for (auto& answer : answers) {
        EXPECT_EQ(answer->count(), 1);
        ASSERT_TRUE(answer->first().isSuccess());
        EXPECT_EQ(answer->first().value().url, url);
        EXPECT_EQ(answer->first().value().image->pixelSize().width, 8);
    }

    // The ended transfer is gone: a new request makes a new one, with tokens from 0 again.
    std::optional<DownloadTask> again;
    auto last = download(url, {}, &again);
    ASSERT_TRUE(again);
    EXPECT_NE(again->sessionTask, tasks[0].sessionTask);
    EXPECT_EQ(again->cancelToken, 0);
    ASSERT_TRUE(waitUntil([&] { return last->count() == 1; }));
    EXPECT_EQ(server.requestCount("/shared.png"), 2);
}

TEST_F(DownloaderTest, CancellingOneRequestLeavesTheOtherToSucceed)
{
    server.addGated("/shared.png", pngBody());
    server.start();
    const QUrl url = server.url(QStringLiteral("/shared.png"));
    std::optional<DownloadTask> first, second;
    auto cancelled = download(url, {}, &first);
    auto kept = download(url, {}, &second);

    first->cancel();
    first->cancel(); // a second cancel changes nothing
    ASSERT_TRUE(waitUntil([&] { return cancelled->count() == 1; }));
    const ImageLoadingResultOrError outcome = cancelled->first();
    ASSERT_TRUE(outcome.isFailure());
    const auto* reason = outcome.error().requestReason();
    ASSERT_TRUE(reason);
    EXPECT_EQ(reason->kind, IrisError::RequestErrorReason::Kind::taskCancelled);
    EXPECT_EQ(reason->token, 0);

    server.openGate();
    ASSERT_TRUE(waitUntil([&] { return kept->count() == 1; }));
    EXPECT_TRUE(kept->first().isSuccess());
    EXPECT_EQ(cancelled->count(), 1);
    second->cancel(); // after the end: no effect
    EXPECT_EQ(kept->count(), 1);
}

TEST_F(DownloaderTest, CancelAllAnswersEveryRequestAndStopsTheTransfers)
{
    server.addStall("/a.png");
    server.addStall("/b.png");
    server.start();
    auto a1 = download(server.url(QStringLiteral("/a.png")));
    auto a2 = download(server.url(QStringLiteral("/a.png")));
    auto b = download(server.url(QStringLiteral("/b.png")));
    ASSERT_TRUE(waitUntil([&] { return server.totalRequests() == 2; }));

    downloader->cancelAllDownloads();
    ASSERT_TRUE(waitUntil([&] { return a1->count() + a2->count() + b->count() == 3; }));
    for (auto* answers : { a1.get(), a2.get(), b.get() })
        EXPECT_TRUE(answers->first().error().isCancelledTask());
    EXPECT_TRUE(downloader->sessionDelegate()->allTasks().empty());
}

TEST_F(DownloaderTest, StatusCodesFrom200To399AreValid)
{
    struct Case {
        int status;
        bool valid;
    };
    for (Case c : { Case { 199, false }, Case { 200, true }, Case { 399, true }, Case { 400, false } })
        EXPECT_EQ(downloader->isValidStatusCode(c.status, *downloader), c.valid) << c.status;

    for (int status : { 199, 200, 299, 399, 400, 404, 500 })
        server.addBody("/status" + std::to_string(status), pngBody(), status, "image/png");
    server.start();
    for (int status : { 199, 200, 299, 399, 400, 404, 500 }) {
        const ImageLoadingResultOrError result = fetch(QStringLiteral("/status%1").arg(status));
        if (status >= 200 && status < 400) {
            EXPECT_TRUE(result.isSuccess()) << status;
        } else {
            ASSERT_TRUE(result.isFailure());
            EXPECT_TRUE(result.error().isInvalidResponseStatusCode(status)) << status;
        }
    }
}

TEST_F(DownloaderTest, TransportFailuresReachEveryRequestAsSessionErrors)
{
    server.addShortBody("/short.png", pngBody().substr(0, 20), 5000);
    server.addBody("/text", "not an image", 200, "text/plain");
    server.start();

    auto first = download(server.url(QStringLiteral("/short.png")));
    auto second = download(server.url(QStringLiteral("/short.png")));
    ASSERT_TRUE(waitUntil([&] { return first->count() == 1 && second->count() == 1; }));
    EXPECT_EQ(urlErrorCode(first->first()), UrlError::networkConnectionLost);
    EXPECT_EQ(urlErrorCode(second->first()), UrlError::networkConnectionLost);

    // Bytes that are no image fail in processing, naming the processor.
    const ImageLoadingResultOrError text = fetch(QStringLiteral("/text"));
    ASSERT_TRUE(text.isFailure());
    EXPECT_EQ(text.error().errorCode(), 4001);

    // Only http and https are loaded.
    Answers local;
    downloader->downloadImage(
        QUrl(QStringLiteral("ftp://127.0.0.1/x.png")), IrisParsedOptionsInfo(), local.completion());
    ASSERT_TRUE(waitUntil([&] { return local.count() == 1; }));
    EXPECT_EQ(urlErrorCode(local.first()), UrlError::unsupportedUrl);
}

TEST_F(DownloaderTest, RedirectsAreFollowedUnlessAHandlerRefusesThem)
{
    server.addRedirect("/moved.png", "/image.png");
    server.addRedirect("/loop-a", "/loop-b");
    server.addRedirect("/loop-b", "/loop-a");
    server.addRedirect("/to-file", "file:///etc/passwd");
    server.start();

    const ImageLoadingResultOrError followed = fetch(QStringLiteral("/moved.png"));
    ASSERT_TRUE(followed.isSuccess());
    EXPECT_EQ(followed.value().url, server.url(QStringLiteral("/moved.png")));
    EXPECT_EQ(server.requestCount("/image.png"), 1);

    IrisParsedOptionsInfo refusing;
    auto asked = std::make_shared<std::atomic<int>>(0);
    refusing.redirectHandler = std::make_shared<AnyRedirectHandler>(
        [asked](const std::shared_ptr<SessionDataTask>& task, const platform::UrlResponse& response,
            const UrlRequest&, RedirectCompletion completion) {
            EXPECT_TRUE(task);
            EXPECT_EQ(response.statusCode, 302);
            asked->fetch_add(1);
            completion(std::nullopt);
        });
    // The refused redirect's own response ("moved") is what arrives, and it is no image.
    const ImageLoadingResultOrError refused = fetch(QStringLiteral("/moved.png"), refusing);
    EXPECT_EQ(asked->load(), 1);
    EXPECT_EQ(errorCode(refused), 4001);
    EXPECT_EQ(server.requestCount("/image.png"), 1);

    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/loop-a"))), UrlError::httpTooManyRedirects);
    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/to-file"))), UrlError::unsupportedUrl);

    // A handler that rewrites the redirect to a local file is refused like a server that does, and
    // the error names the refused file.
    IrisParsedOptionsInfo rewriting;
    rewriting.redirectHandler = std::make_shared<AnyRedirectHandler>(
        [](const std::shared_ptr<SessionDataTask>&, const platform::UrlResponse&, const UrlRequest& proposed,
            RedirectCompletion completion) {
            UrlRequest local = proposed;
            local.url = QUrl(QStringLiteral("file:///etc/passwd"));
            completion(local);
        });
    const ImageLoadingResultOrError toFile = fetch(QStringLiteral("/moved.png"), rewriting);
    EXPECT_EQ(urlErrorCode(toFile), UrlError::unsupportedUrl);
    ASSERT_TRUE(toFile.isFailure());
    EXPECT_TRUE(toFile.error().localizedDescription().contains(QStringLiteral("file:///etc/passwd")));
    EXPECT_EQ(server.requestCount("/image.png"), 1);
}

TEST_F(DownloaderTest, TheLatestRequestWithARedirectHandlerDecides)
{
    server.start();
    // Built on a registered transfer without network: the first request refuses redirects, a later
    // one without a handler joins; the refusal still stands.
    auto sessionDelegate = downloader->sessionDelegate();
    IrisParsedOptionsInfo refusing;
    refusing.redirectHandler = std::make_shared<AnyRedirectHandler>(
        [](auto&, auto&, auto&, RedirectCompletion completion) { completion(std::nullopt); });
    auto session = platform::UrlSession::create(platform::UrlSessionConfiguration::ephemeral(), nullptr);
    auto dataTask = session->dataTask(UrlRequest(server.url(QStringLiteral("/moved.png"))));
    auto made = sessionDelegate->addOrJoinTask(
        dataTask->originalRequest().url, [&] { return std::make_shared<SessionDataTask>(dataTask); },
        TaskCallback { {}, refusing, -1 });
    ASSERT_TRUE(made);
    sessionDelegate->addOrJoinTask(
        dataTask->originalRequest().url, [] { return nullptr; }, TaskCallback {});

    std::optional<std::optional<UrlRequest>> decision;
    platform::UrlResponse redirect;
    redirect.isHttp = true;
    redirect.statusCode = 302;
    sessionDelegate->willPerformHttpRedirection(*session, dataTask, redirect,
        UrlRequest(server.url(QStringLiteral("/image.png"))),
        [&](std::optional<UrlRequest> request) { decision = request; });
    ASSERT_TRUE(decision);
    EXPECT_FALSE(*decision);
    made->first.sessionTask->cancelAllCallbacks();
    session->invalidateAndCancel();
}

TEST_F(DownloaderTest, ChallengesTrustOnlyListedHostsAndSendNoCredentials)
{
    HttpTestServer secure(HttpTestServer::Scheme::https);
    secure.addBody("/image.png", pngBody(), 200, "image/png");
    secure.start();
    server.addBasicAuth("/private.png", "user", "secret", pngBody());
    server.start();
    const QUrl url = secure.url(QStringLiteral("/image.png"));

    auto refused = download(url);
    ASSERT_TRUE(waitUntil([&] { return refused->count() == 1; }));
    EXPECT_EQ(urlErrorCode(refused->first()), UrlError::serverCertificateUntrusted);

    downloader->setTrustedHosts(std::set<QString> { QStringLiteral("example.org") });
    auto stillRefused = download(url);
    ASSERT_TRUE(waitUntil([&] { return stillRefused->count() == 1; }));
    EXPECT_TRUE(stillRefused->first().isFailure());

    downloader->setTrustedHosts(std::set<QString> { QStringLiteral("127.0.0.1") });
    auto trusted = download(url);
    ASSERT_TRUE(waitUntil([&] { return trusted->count() == 1; }));
    EXPECT_TRUE(trusted->first().isSuccess());

    const ImageLoadingResultOrError denied = fetch(QStringLiteral("/private.png"));
    ASSERT_TRUE(denied.isFailure());
    EXPECT_TRUE(denied.error().isInvalidResponseStatusCode(401));
}

TEST_F(DownloaderTest, StallingAndEndlessServersAreCutOff)
{
    server.addStall("/stall.png");
    server.addStallAfterHeaders("/half.png");
    server.addEndlessStream("/endless.png");
    server.addShortBody("/huge.png", "x", std::size_t(256) * 1024 * 1024 + 1);
    server.start();
    // By default an image body may be 256 MiB; a larger declared one fails before it is read.
    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/huge.png"))), UrlError::dataLengthExceedsMaximum);

    downloader->setDownloadTimeout(0.3);
    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/stall.png"))), UrlError::timedOut);
    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/half.png"))), UrlError::timedOut);

    platform::UrlSessionConfiguration capped = downloader->sessionConfiguration();
    capped.maximumResponseBodyBytes = 1024 * 1024;
    downloader->setSessionConfiguration(capped);
    downloader->setDownloadTimeout(15);
    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/endless.png"))), UrlError::dataLengthExceedsMaximum);
}

TEST_F(DownloaderTest, RequestModifiersRewriteDelayOrDropTheRequest)
{
    server.addBody("/other.png", pngBody(4, 4), 200, "image/png");
    server.start();
    const QUrl original = server.url(QStringLiteral("/image.png"));
    const QUrl changed = server.url(QStringLiteral("/other.png"));

    IrisParsedOptionsInfo rewriting;
    rewriting.requestModifier = std::make_shared<AnyModifier>([changed](const UrlRequest& request) {
        UrlRequest copy = request;
        copy.url = changed;
        return std::optional<UrlRequest>(copy);
    });
    std::optional<DownloadTask> task;
    auto answers = download(original, rewriting, &task);
    ASSERT_TRUE(task); // a synchronous modifier registers before returning
    ASSERT_TRUE(waitUntil([&] { return answers->count() == 1; }));
    ASSERT_TRUE(answers->first().isSuccess());
    EXPECT_EQ(answers->first().value().url, changed);
    EXPECT_EQ(server.requestCount("/image.png"), 0);

    // One that answers later, from another thread: no task at once; the started handler gets it on
    // that thread, in no promised order with the download's own answer.
    struct Later final : AsyncImageDownloadRequestModifier {
        struct State {
            std::mutex mutex;
            std::optional<UrlRequest> request;
            RequestModifierCompletion completion;
            // Only whether a task came: the task holds the options, which hold this modifier.
            bool startedWithTask = false;
            int startedCalls = 0;
        };
        std::shared_ptr<State> state = std::make_shared<State>();
        void modifyRequest(const UrlRequest& request, RequestModifierCompletion completion) const override
        {
            std::lock_guard lock(state->mutex);
            state->request = request;
            state->completion = std::move(completion);
        }
        DownloadTaskStartedHandler taskStartedHandler() const override
        {
            return [state = state](std::optional<DownloadTask> task) {
                std::lock_guard lock(state->mutex);
                state->startedWithTask = task.has_value();
                ++state->startedCalls;
            };
        }
        void answerFromAnotherThread() const
        {
            UrlRequest request;
            RequestModifierCompletion completion;
            {
                std::lock_guard lock(state->mutex);
                // Taken out, not copied: the completion holds the options, which hold this modifier.
                request = *state->request;
                completion = std::exchange(state->completion, nullptr);
            }
            std::thread([request, completion] {
                completion(request);
                completion(std::nullopt); // a second answer is ignored
            }).join();
        }
        int startedCalls() const
        {
            std::lock_guard lock(state->mutex);
            return state->startedCalls;
        }
    };
    auto later = std::make_shared<Later>();
    IrisParsedOptionsInfo delayed;
    delayed.requestModifier = later;
    std::optional<DownloadTask> none;
    auto laterAnswers = download(original, delayed, &none);
    EXPECT_FALSE(none);
    later->answerFromAnotherThread();
    ASSERT_TRUE(waitUntil([&] { return laterAnswers->count() == 1 && later->startedCalls() == 1; }));
    EXPECT_TRUE(laterAnswers->first().isSuccess());
    {
        std::lock_guard lock(later->state->mutex);
        EXPECT_TRUE(later->state->startedWithTask);
    }
    EXPECT_EQ(laterAnswers->count(), 1);

    IrisParsedOptionsInfo dropping;
    dropping.requestModifier = std::make_shared<AnyModifier>([](const UrlRequest&) { return std::nullopt; });
    EXPECT_EQ(errorCode(fetch(QStringLiteral("/image.png"), dropping)), 1001);

    // Nor can a modifier point the request at a local file.
    IrisParsedOptionsInfo toFile;
    toFile.requestModifier = std::make_shared<AnyModifier>([](const UrlRequest& request) {
        UrlRequest copy = request;
        copy.url = QUrl(QStringLiteral("file:///etc/passwd"));
        return std::optional<UrlRequest>(copy);
    });
    EXPECT_EQ(urlErrorCode(fetch(QStringLiteral("/image.png"), toFile)), UrlError::unsupportedUrl);

    IrisParsedOptionsInfo emptying;
    emptying.requestModifier = std::make_shared<AnyModifier>([](const UrlRequest& request) {
        UrlRequest copy = request;
        copy.url = QUrl();
        return std::optional<UrlRequest>(copy);
    });
    EXPECT_EQ(errorCode(fetch(QStringLiteral("/image.png"), emptying)), 1002);
    EXPECT_EQ(server.requestCount("/image.png"), 1);
}

TEST_F(DownloaderTest, ReplacingTheSessionCancelsOldTransfersAndStartsNewOnes)
{
    server.addStall("/slow.png");
    server.start();
    auto old = download(server.url(QStringLiteral("/slow.png")));
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/slow.png") == 1; }));

    downloader->setSessionConfiguration(platform::UrlSessionConfiguration::ephemeral());
    // A request made right away does not join the dying transfer.
    std::optional<DownloadTask> fresh;
    auto renewed = download(server.url(QStringLiteral("/slow.png")), {}, &fresh);
    ASSERT_TRUE(waitUntil([&] { return old->count() == 1; }));
    EXPECT_EQ(urlErrorCode(old->first()), UrlError::cancelled);
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/slow.png") == 2; }));
    EXPECT_EQ(renewed->count(), 0);
    fresh->cancel();
    ASSERT_TRUE(waitUntil([&] { return renewed->count() == 1; }));
    EXPECT_TRUE(renewed->first().error().isCancelledTask());
}

// A request that reaches the downloader while its session is being replaced is answered: it may
// be cancelled with the old session or go to the new one, but it never waits on a session that can
// no longer tell anyone about it. The old delegate's lock is held meanwhile, so a request that took
// the old session cannot register until that session has ended.
TEST_F(DownloaderTest, ARequestRacingASessionReplacementIsAnswered)
{
    struct EndingDelegate final : SessionDelegate {
        std::atomic<bool> ended { false };
        void didBecomeInvalid(platform::UrlSession&, const std::optional<UrlError>&) override
        {
            ended = true;
        }
    };
    server.start();
    auto current = std::make_shared<EndingDelegate>();
    downloader->setSessionDelegate(current);
    for (int round = 0; round < 12; ++round) {
        // The last round's transfer unregisters under the lock held below; it must be done first.
        ASSERT_TRUE(waitUntil([&] { return current->allTasks().empty(); }));
        std::latch holding(1), released(1), asked(1);
        // The transfer maker runs under the delegate's lock.
        std::thread holder([&] {
            current->addOrJoinTask(
                server.url(QStringLiteral("/held")),
                [&]() -> std::shared_ptr<SessionDataTask> {
                    holding.count_down();
                    released.wait();
                    return nullptr;
                },
                TaskCallback {});
        });
        holding.wait();
        IrisParsedOptionsInfo options;
        options.callbackQueue = CallbackQueue::untouch();
        options.requestModifier = std::make_shared<AnyModifier>([&asked](const UrlRequest& request) {
            asked.count_down();
            return std::optional<UrlRequest>(request);
        });
        auto answers = std::make_shared<Answers>();
        std::thread requester([&] {
            downloader->downloadImage(
                server.url(QStringLiteral("/image.png")), options, answers->completion());
        });
        asked.wait();
        auto replaced = std::exchange(current, std::make_shared<EndingDelegate>());
        downloader->setSessionDelegate(current);
        EXPECT_TRUE(waitUntil([&] { return replaced->ended.load(); }));
        released.count_down();
        holder.join();
        requester.join();
        ASSERT_TRUE(waitUntil([&] { return answers->count() == 1; }, 3000)) << "round " << round;
        const ImageLoadingResultOrError outcome = answers->first();
        EXPECT_TRUE(outcome.isSuccess() || urlErrorCode(outcome) == UrlError::cancelled);
    }
}

// A new session delegate answers for the downloader from its session's first request, even while
// the downloader is still being set up around it.
TEST_F(DownloaderTest, ANewSessionDelegateAnswersFromTheFirstRequest)
{
    struct PausingSetUp final : ImageDownloader {
        PausingSetUp()
            : ImageDownloader(QStringLiteral("pausing"))
        {
        }
        std::latch* paused = nullptr;
        std::latch* resume = nullptr;
        void setupSessionHandler() override
        {
            if (paused) {
                paused->count_down();
                resume->wait();
            }
            ImageDownloader::setupSessionHandler();
        }
    };
    server.start();
    auto pausing = std::make_shared<PausingSetUp>();
    downloader = pausing;
    ASSERT_TRUE(fetch(QStringLiteral("/image.png")).isSuccess());
    std::latch paused(1), resume(1);
    pausing->paused = &paused;
    pausing->resume = &resume;
    std::thread replacing([&] { pausing->setSessionDelegate(std::make_shared<SessionDelegate>()); });
    paused.wait();
    const ImageLoadingResultOrError during = fetch(QStringLiteral("/image.png"));
    resume.count_down();
    replacing.join();
    EXPECT_TRUE(during.isSuccess()) << during.error().localizedDescription().toStdString();
}

TEST_F(DownloaderTest, AReleasedDownloaderAnswersItsWaitingRequests)
{
    server.addStall("/slow.png");
    server.start();
    auto answers = download(server.url(QStringLiteral("/slow.png")));
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/slow.png") == 1; }));
    downloader.reset();
    ASSERT_TRUE(waitUntil([&] { return answers->count() == 1; }));
    EXPECT_TRUE(answers->first().error().isCancelledTask());
}

TEST_F(DownloaderTest, DelegateReplacesDataAndIsToldOfEachStep)
{
    struct Observer final : ImageDownloaderDelegate {
        std::atomic<int> willStart { 0 }, finished { 0 }, images { 0 };
        std::atomic<bool> dropData { false };
        void downloadWillStart(ImageDownloader&, const QUrl&, const std::optional<UrlRequest>&) override
        {
            ++willStart;
        }
        void downloadDidFinish(ImageDownloader&, const QUrl&, const std::optional<platform::UrlResponse>&,
            const std::optional<IrisError>&) override
        {
            ++finished;
        }
        std::optional<QByteArray> modifiedDataForURL(
            ImageDownloader&, const QByteArray& data, const QUrl&) override
        {
            return dropData ? std::nullopt : std::optional<QByteArray>(data);
        }
        void imageDidDownload(ImageDownloader&, const std::shared_ptr<platform::Image>&, const QUrl&,
            const std::optional<platform::UrlResponse>&) override
        {
            ++images;
        }
    };
    server.start();
    auto observer = std::make_shared<Observer>();
    downloader->setDelegate(observer);
    EXPECT_TRUE(fetch(QStringLiteral("/image.png")).isSuccess());
    EXPECT_EQ(observer->willStart, 1);
    // Once by the session when the transfer ends, once with the download's outcome.
    EXPECT_EQ(observer->finished, 2);
    EXPECT_TRUE(waitUntil([&] { return observer->images == 1; }));

    observer->dropData = true;
    EXPECT_EQ(errorCode(fetch(QStringLiteral("/image.png"))), 2004);
}

TEST_F(DownloaderTest, ConcurrentFirstRequestsFromManyThreadsMakeOneTransfer)
{
    server.addGated("/race.png", pngBody());
    server.start();
    const QUrl url = server.url(QStringLiteral("/race.png"));
    auto answers = std::make_shared<Answers>();
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&] {
            IrisParsedOptionsInfo options;
            options.callbackQueue = CallbackQueue::untouch();
            downloader->downloadImage(url, options, answers->completion());
        });
    for (auto& thread : threads)
        thread.join();
    server.openGate();
    ASSERT_TRUE(waitUntil([&] { return answers->count() == 16; }));
    EXPECT_EQ(server.requestCount("/race.png"), 1);
}

TEST_F(DownloaderTest, CancelsRacingTheEndOfTransfersAnswerEachRequestOnce)
{
    server.start();
    const QUrl url = server.url(QStringLiteral("/image.png"));
    std::vector<std::shared_ptr<Answers>> kept, cancelled;
    std::vector<std::thread> cancellers;
    for (int i = 0; i < 100; ++i) {
        IrisParsedOptionsInfo options;
        options.callbackQueue = CallbackQueue::untouch();
        std::optional<DownloadTask> first, second;
        cancelled.push_back(download(url, options, &first));
        kept.push_back(download(url, options, &second));
        // Cancel from another thread at whatever moment it runs: before, during or after the end.
        cancellers.emplace_back([task = *first, spin = i % 7] {
            for (int k = 0; k < spin * 200; ++k)
                std::this_thread::yield();
            task.cancel();
        });
    }
    for (auto& thread : cancellers)
        thread.join();
    ASSERT_TRUE(waitUntil(
        [&] {
            for (std::size_t i = 0; i < kept.size(); ++i)
                if (kept[i]->count() == 0 || cancelled[i]->count() == 0)
                    return false;
            return true;
        },
        20000));
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i]->count(), 1);
        EXPECT_EQ(cancelled[i]->count(), 1);
        EXPECT_TRUE(kept[i]->first().isSuccess());
        const ImageLoadingResultOrError outcome = cancelled[i]->first();
        EXPECT_TRUE(outcome.isSuccess() || outcome.error().isCancelledTask());
    }
}

TEST_F(DownloaderTest, ProgressIsReportedOnTheMainQueueAndLowDataRequestsRefuseConstrainedNetworks)
{
    const std::string body = pngBody(64, 64);
    server.addBody("/big.png", body, 200, "image/png");
    server.start();
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    bool onMain = true;
    Answers answers;
    downloader->downloadImage(
        server.url(QStringLiteral("/big.png")), std::nullopt,
        [&](std::int64_t received, std::int64_t total) {
            onMain = onMain && testsupport::isMainThread();
            progress.emplace_back(received, total);
        },
        answers.completion());
    ASSERT_TRUE(waitUntil([&] {
        return answers.count() == 1 && !progress.empty()
            && progress.back().first == std::int64_t(body.size());
    }));
    EXPECT_TRUE(onMain);
    EXPECT_EQ(progress.back().second, std::int64_t(body.size()));

    platform::UrlSessionConfiguration constrained = downloader->sessionConfiguration();
    constrained.networkIsConstrained = true;
    downloader->setSessionConfiguration(constrained);
    EXPECT_TRUE(fetch(QStringLiteral("/image.png")).isSuccess());
    IrisParsedOptionsInfo lowData;
    lowData.lowDataModeSource = convertToSource(server.url(QStringLiteral("/small.png")));
    const ImageLoadingResultOrError refused = fetch(QStringLiteral("/image.png"), lowData);
    ASSERT_TRUE(refused.isFailure());
    EXPECT_TRUE(refused.error().isLowDataConstrained());
}

// A chunked body is framed by its chunks: a length header beside them is no total to report.
TEST_F(DownloaderTest, ProgressNeverPassesTheTotal)
{
    const std::string body = pngBody(64, 64);
    server.server().Get("/framed.png", [body](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Length", "100");
        response.set_chunked_content_provider("image/png", [body](size_t offset, httplib::DataSink& sink) {
            if (offset >= body.size()) {
                sink.done();
                return true;
            }
            return sink.write(body.data() + offset, std::min<size_t>(64, body.size() - offset));
        });
    });
    server.start();
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    Answers answers;
    downloader->downloadImage(
        server.url(QStringLiteral("/framed.png")), std::nullopt,
        [&](std::int64_t received, std::int64_t total) { progress.emplace_back(received, total); },
        answers.completion());
    ASSERT_TRUE(waitUntil([&] { return answers.count() == 1; }));
    EXPECT_TRUE(answers.first().isSuccess());
    QCoreApplication::processEvents(); // reports posted before the answer
    for (const auto& [received, total] : progress)
        EXPECT_LE(received, total);
}

// The session passes the declared length on, so a large body arriving in many chunks is gathered
// in place: no chunk copies the bytes before it.
TEST_F(DownloaderTest, ADeclaredLengthLetsTheBytesGatherInPlace)
{
    std::string body(3 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = char(i * 7 % 253);
    server.addBody("/large.bin", body, 200, "application/octet-stream");
    server.start();
    std::optional<DownloadTask> task;
    auto answers = download(server.url(QStringLiteral("/large.bin")), {}, &task);
    ASSERT_TRUE(waitUntil([&] { return answers->count() == 1; }, 10000));
    ASSERT_TRUE(task && task->sessionTask);
    EXPECT_EQ(task->sessionTask->mutableData(), QByteArray::fromStdString(body));
    EXPECT_EQ(task->sessionTask->relocatedBytes(), 0);
}

TEST(ImageDownloaderDeathTest, ADownloaderMustHaveAName)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(ImageDownloader::create(QString()), "You should specify a name for the downloader");
}

// What a new downloader and a new prefetcher start with.
TEST(IrisInitialValues, DownloaderAndPrefetcher)
{
    auto downloader = ImageDownloader::create(QStringLiteral("initial"));
    EXPECT_EQ(downloader->downloadTimeout(), 15.0);
    EXPECT_EQ(downloader->trustedHosts(), std::nullopt) << "absent, not an empty set";
    EXPECT_FALSE(downloader->requestsUsePipelining());
    EXPECT_FALSE(downloader->delegate());
    EXPECT_EQ(downloader->authenticationChallengeResponder(), downloader);
    EXPECT_EQ(downloader->sessionConfiguration().maximumResponseBodyBytes, 256 * 1024 * 1024);

    auto first = ImagePrefetcher::create(std::vector<QUrl> {}, std::nullopt, {});
    auto second = ImagePrefetcher::create(std::vector<QUrl> {}, std::nullopt, {});
    EXPECT_EQ(first->maxConcurrentDownloads(), 5);
    const auto firstQueue = first->optionsInfo().callbackQueue.queue();
    const auto secondQueue = second->optionsInfo().callbackQueue.queue();
    ASSERT_TRUE(firstQueue && secondQueue);
    EXPECT_NE(firstQueue, secondQueue);
    EXPECT_EQ(firstQueue->label(), secondQueue->label());
}
