#include "platform/foundation/UrlSession.h"

#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <random>
#include <thread>

using namespace platform;
using testsupport::HttpTestServer;
using testsupport::statusKilobytes;
using testsupport::waitUntil;

namespace {

struct TaskRecord {
    std::optional<UrlResponse> response;
    QByteArray data;
    std::optional<UrlError> error;
    int completions = 0;
    QList<QUrl> redirects;
    QList<UrlAuthenticationChallenge> challenges;
    bool messageOffNetworkThread = false;
};

// Records every message per task, and answers as a test configures it.
class RecordingDelegate : public UrlSessionDelegate {
public:
    std::function<std::optional<UrlRequest>(const UrlRequest& proposed)> redirectAnswer
        = [](const UrlRequest& proposed) { return proposed; };
    UrlSessionResponseDisposition responseAnswer = UrlSessionResponseDisposition::allow;
    bool trustServers = false;
    std::optional<UrlCredential> taskCredential;
    // Held while a test checks that a call does not reach the delegate before returning.
    std::mutex gate;

    void didReceiveResponse(UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task,
        const UrlResponse& response, UrlResponseDispositionHandler completion) override
    {
        update(session, task, [&](TaskRecord& record) { record.response = response; });
        completion(responseAnswer);
    }

    void didReceiveData(
        UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task, const QByteArray& data) override
    {
        update(session, task, [&](TaskRecord& record) { record.data += data; });
    }

    void didComplete(UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task,
        const std::optional<UrlError>& error) override
    {
        std::lock_guard held(gate);
        update(session, task, [&](TaskRecord& record) {
            record.error = error;
            record.completions += 1;
        });
    }

    void willPerformHttpRedirection(UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task,
        const UrlResponse&, const UrlRequest& proposed, UrlRedirectHandler completion) override
    {
        update(session, task, [&](TaskRecord& record) { record.redirects.append(proposed.url); });
        completion(redirectAnswer(proposed));
    }

    void didReceiveChallenge(
        UrlSession&, const UrlAuthenticationChallenge& challenge, UrlChallengeHandler completion) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_sessionChallenges.append(challenge);
        }
        if (trustServers)
            completion(UrlSessionAuthChallengeDisposition::useCredential,
                UrlCredential::forTrust(challenge.protectionSpace.serverTrust));
        else
            completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
    }

    void didReceiveTaskChallenge(UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task,
        const UrlAuthenticationChallenge& challenge, UrlChallengeHandler completion) override
    {
        update(session, task, [&](TaskRecord& record) { record.challenges.append(challenge); });
        if (taskCredential && challenge.previousFailureCount == 0)
            completion(UrlSessionAuthChallengeDisposition::useCredential, taskCredential);
        else
            completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
    }

    void didBecomeInvalid(UrlSession&, const std::optional<UrlError>&) override { m_invalidated = true; }

    TaskRecord record(const std::shared_ptr<UrlSessionDataTask>& task)
    {
        std::lock_guard lock(m_mutex);
        return m_records[task->taskIdentifier()];
    }
    int completions(const std::shared_ptr<UrlSessionDataTask>& task) { return record(task).completions; }
    QList<UrlAuthenticationChallenge> sessionChallenges()
    {
        std::lock_guard lock(m_mutex);
        return m_sessionChallenges;
    }
    bool invalidated() const { return m_invalidated; }

private:
    template<class Change>
    void update(UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task, Change change)
    {
        std::lock_guard lock(m_mutex);
        TaskRecord& record = m_records[task->taskIdentifier()];
        change(record);
        if (!session.isNetworkThread())
            record.messageOffNetworkThread = true;
    }

    std::mutex m_mutex;
    std::map<std::uint64_t, TaskRecord> m_records;
    QList<UrlAuthenticationChallenge> m_sessionChallenges;
    std::atomic<bool> m_invalidated { false };
};

class UrlSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.addBody("/hello", "hello", 200, "text/plain; charset=utf-8");
        server.addBody("/other", "other body");
    }

    void TearDown() override
    {
        if (m_session) {
            m_session->invalidateAndCancel();
            EXPECT_TRUE(waitUntil([&] { return delegate->invalidated(); }));
        }
    }

    void startServer() { server.start(); }

    UrlSession& session(UrlSessionConfiguration configuration = UrlSessionConfiguration::ephemeral())
    {
        if (!m_session)
            m_session = UrlSession::create(configuration, delegate);
        return *m_session;
    }

    std::shared_ptr<UrlSessionDataTask> start(const UrlRequest& request)
    {
        auto task = session().dataTask(request);
        task->resume();
        return task;
    }

    TaskRecord run(const UrlRequest& request, int timeoutMs = 5000)
    {
        auto task = start(request);
        EXPECT_TRUE(waitUntil([&] { return delegate->completions(task) > 0; }, timeoutMs))
            << request.url.toString().toStdString();
        return delegate->record(task);
    }

    TaskRecord run(const QString& path) { return run(UrlRequest(server.url(path))); }

    HttpTestServer server;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<UrlSession> m_session;
};

int errorCode(const TaskRecord& record)
{
    return record.error ? record.error->code : 0;
}

TEST_F(UrlSessionTest, GetDeliversResponseAndBodyOnTheNetworkThread)
{
    startServer();
    auto task = start(UrlRequest(server.url("/hello")));
    ASSERT_TRUE(waitUntil([&] { return delegate->completions(task) > 0; }));
    const TaskRecord record = delegate->record(task);

    EXPECT_FALSE(record.error);
    ASSERT_TRUE(record.response);
    EXPECT_TRUE(record.response->isHttp);
    EXPECT_EQ(record.response->statusCode, 200);
    // The server compresses text, so the declared length is not the length delivered.
    EXPECT_FALSE(record.response->value("Content-Encoding").isEmpty());
    EXPECT_EQ(record.response->expectedContentLength, -1);
    EXPECT_EQ(record.response->mimeType, QStringLiteral("text/plain"));
    EXPECT_EQ(record.response->url, server.url("/hello"));
    EXPECT_EQ(record.data, QByteArray("hello"));
    EXPECT_FALSE(record.messageOffNetworkThread);
    EXPECT_EQ(task->state(), UrlSessionDataTask::State::completed);
    EXPECT_EQ(task->countOfBytesReceived(), 5);
    EXPECT_EQ(task->originalRequest().url, server.url("/hello"));
    EXPECT_EQ(server.requestCount("/hello"), 1);

    const TaskRecord plain = run("/other");
    ASSERT_TRUE(plain.response);
    EXPECT_EQ(plain.response->expectedContentLength, 10);
    EXPECT_EQ(plain.response->mimeType, QStringLiteral("application/octet-stream"));
}

TEST_F(UrlSessionTest, ChunkedBodiesArriveWholeWithUnknownLength)
{
    std::string body;
    for (int i = 0; i < 100 * 1024; ++i)
        body.push_back(static_cast<char>('a' + i % 26));
    server.addChunkedBody("/chunked", body, 7 * 1024);
    server.addFailingThenBody("/flaky", 2, 503, "finally");
    startServer();

    const TaskRecord chunked = run("/chunked");
    EXPECT_FALSE(chunked.error);
    ASSERT_TRUE(chunked.response);
    EXPECT_EQ(chunked.response->expectedContentLength, -1);
    EXPECT_EQ(chunked.data, QByteArray::fromStdString(body));

    QList<int> statuses;
    for (int i = 0; i < 3; ++i)
        statuses.append(run("/flaky").response->statusCode);
    EXPECT_EQ(statuses, (QList<int> { 503, 503, 200 }));
}

TEST_F(UrlSessionTest, TaskIdentifiersAreUniqueAcrossSessions)
{
    auto first = session().dataTask(UrlRequest(QUrl("http://127.0.0.1/")));
    auto other = UrlSession::create(UrlSessionConfiguration::ephemeral(), nullptr);
    auto second = other->dataTask(UrlRequest(QUrl("http://127.0.0.1/")));
    auto third = session().dataTask(UrlRequest(QUrl("http://127.0.0.1/")));
    EXPECT_NE(first->taskIdentifier(), second->taskIdentifier());
    EXPECT_NE(second->taskIdentifier(), third->taskIdentifier());
    EXPECT_NE(first->taskIdentifier(), third->taskIdentifier());
    other->invalidateAndCancel();
}

TEST_F(UrlSessionTest, HttpStatusesArriveAsResponsesNotErrors)
{
    for (int status : { 200, 202, 399, 400, 401, 403, 404, 407, 410, 500, 503 })
        server.addBody("/status/" + std::to_string(status), "status body", status);
    startServer();
    for (int status : { 200, 202, 399, 400, 401, 403, 404, 407, 410, 500, 503 }) {
        SCOPED_TRACE(status);
        const TaskRecord record = run(QStringLiteral("/status/%1").arg(status));
        EXPECT_FALSE(record.error);
        ASSERT_TRUE(record.response);
        EXPECT_EQ(record.response->statusCode, status);
        EXPECT_EQ(record.data, QByteArray("status body"));
    }
}

TEST_F(UrlSessionTest, RedirectsAreFollowedThroughTheDelegate)
{
    server.addRedirect("/first", "/second", 301);
    server.addRedirect("/second", "/hello", 307);
    startServer();
    auto task = start(UrlRequest(server.url("/first")));
    ASSERT_TRUE(waitUntil([&] { return delegate->completions(task) > 0; }));
    const TaskRecord record = delegate->record(task);

    EXPECT_FALSE(record.error);
    EXPECT_EQ(record.redirects, (QList<QUrl> { server.url("/second"), server.url("/hello") }));
    ASSERT_TRUE(record.response);
    EXPECT_EQ(record.response->statusCode, 200);
    EXPECT_EQ(record.data, QByteArray("hello"));
    EXPECT_EQ(task->originalRequest().url, server.url("/first"));
    EXPECT_EQ(task->currentRequest().url, server.url("/hello"));
}

TEST_F(UrlSessionTest, RefusedRedirectMakesTheRedirectTheResponse)
{
    server.addRedirect("/moved", "/hello", 302);
    startServer();
    delegate->redirectAnswer = [](const UrlRequest&) { return std::nullopt; };
    const TaskRecord record = run("/moved");

    EXPECT_FALSE(record.error);
    ASSERT_TRUE(record.response);
    EXPECT_EQ(record.response->statusCode, 302);
    EXPECT_EQ(record.data, QByteArray("moved"));
    EXPECT_EQ(server.requestCount("/hello"), 0);
}

TEST_F(UrlSessionTest, RedirectLoopFailsWithTooManyRedirects)
{
    server.addRedirect("/loop", "/loop");
    startServer();
    UrlSessionConfiguration configuration;
    configuration.maximumRedirects = 5;
    session(configuration);
    const TaskRecord record = run("/loop");

    EXPECT_EQ(errorCode(record), UrlError::httpTooManyRedirects);
    EXPECT_EQ(record.redirects.size(), 5);
    EXPECT_EQ(server.requestCount("/loop"), 6);
}

TEST_F(UrlSessionTest, RedirectsOnlyToHttpAndHttps)
{
    server.addRedirect("/to-file", "file:///etc/passwd");
    server.addRedirect("/to-ftp", "ftp://127.0.0.1/x");
    server.addRedirect("/to-hello", "/hello");
    startServer();
    for (const auto& [path, target] :
        { std::pair { "/to-file", "file:///etc/passwd" }, std::pair { "/to-ftp", "ftp://127.0.0.1/x" } }) {
        SCOPED_TRACE(path);
        const TaskRecord record = run(QString::fromLatin1(path));
        EXPECT_EQ(errorCode(record), UrlError::unsupportedUrl);
        ASSERT_TRUE(record.error);
        EXPECT_EQ(record.error->failingUrl.toString(), QString::fromLatin1(target))
            << "the error names the refused target";
        EXPECT_TRUE(record.redirects.isEmpty()) << "the delegate is never asked";
    }
    // A delegate that rewrites a redirect into a file URL is refused the same way.
    delegate->redirectAnswer = [](UrlRequest proposed) {
        proposed.url = QUrl("file:///etc/passwd");
        return proposed;
    };
    const TaskRecord rewritten = run("/to-hello");
    EXPECT_EQ(errorCode(rewritten), UrlError::unsupportedUrl);
    ASSERT_TRUE(rewritten.error);
    EXPECT_EQ(rewritten.error->failingUrl.toString(), QStringLiteral("file:///etc/passwd"));
}

TEST_F(UrlSessionTest, CredentialsAreNotCarriedToAnotherOrigin)
{
    HttpTestServer elsewhere;
    QByteArray authorizationSeen = "unset";
    QByteArray cookieSeen = "unset";
    std::mutex seenMutex;
    elsewhere.server().Get("/landing", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(seenMutex);
        authorizationSeen = QByteArray::fromStdString(request.get_header_value("Authorization"));
        cookieSeen = QByteArray::fromStdString(request.get_header_value("Cookie"));
        response.set_content("landed", "text/plain");
    });
    elsewhere.start();
    server.addRedirect("/away", elsewhere.url("/landing").toString().toStdString());
    QByteArray sameOriginAuthorization;
    server.server().Get("/same", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard lock(seenMutex);
        sameOriginAuthorization = QByteArray::fromStdString(request.get_header_value("Authorization"));
        response.set_content("same", "text/plain");
    });
    server.addRedirect("/stay", "/same");
    startServer();

    for (const char* path : { "/away", "/stay" }) {
        UrlRequest request(server.url(QString::fromLatin1(path)));
        request.setValue("Authorization", "Bearer secret");
        request.setValue("Cookie", "session=secret");
        EXPECT_FALSE(run(request).error);
    }
    std::lock_guard lock(seenMutex);
    EXPECT_EQ(authorizationSeen, QByteArray());
    EXPECT_EQ(cookieSeen, QByteArray());
    EXPECT_EQ(sameOriginAuthorization, QByteArray("Bearer secret"));
}

TEST_F(UrlSessionTest, UnusableRequestsFailWithoutNetwork)
{
    startServer();
    struct Case {
        QUrl url;
        int code;
    };
    // A port that was free a moment ago refuses connections.
    int closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closedPort = probe.serverPort();
    }
    const Case cases[] = {
        { QUrl(), UrlError::badUrl },
        { QUrl("ftp://127.0.0.1/file"), UrlError::unsupportedUrl },
        { QUrl("file:///etc/hostname"), UrlError::unsupportedUrl },
        { QUrl("http:///no-host"), UrlError::badUrl },
        { QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort)), UrlError::cannotConnectToHost },
    };
    for (const Case& entry : cases) {
        SCOPED_TRACE(entry.url.toString().toStdString());
        EXPECT_EQ(errorCode(run(UrlRequest(entry.url))), entry.code);
    }
}

TEST_F(UrlSessionTest, ConstrainedNetworkRefusesRequestsThatDoNotAllowIt)
{
    startServer();
    UrlSessionConfiguration configuration;
    configuration.networkIsConstrained = true;
    session(configuration);
    UrlRequest refusing(server.url("/hello"));
    refusing.allowsConstrainedNetworkAccess = false;
    const TaskRecord refused = run(refusing);
    EXPECT_EQ(errorCode(refused), UrlError::notConnectedToInternet);
    ASSERT_TRUE(refused.error);
    EXPECT_EQ(refused.error->networkUnavailableReason, UrlError::NetworkUnavailableReason::constrained);
    EXPECT_FALSE(run("/hello").error);
    EXPECT_EQ(server.requestCount("/hello"), 1);
}

class UrlSessionHttpsTest : public UrlSessionTest {
protected:
    HttpTestServer secure { HttpTestServer::Scheme::https };
};

TEST_F(UrlSessionHttpsTest, SelfSignedServerIsRefusedByDefault)
{
    secure.addBody("/secret", "secret");
    secure.start();
    const TaskRecord record = run(UrlRequest(secure.url("/secret")));

    EXPECT_EQ(errorCode(record), UrlError::serverCertificateUntrusted);
    EXPECT_FALSE(record.response);
    const auto challenges = delegate->sessionChallenges();
    ASSERT_FALSE(challenges.isEmpty());
    const UrlProtectionSpace& space = challenges.first().protectionSpace;
    EXPECT_EQ(space.authenticationMethod, UrlAuthenticationMethod::serverTrust);
    EXPECT_EQ(space.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(space.port, secure.port());
    ASSERT_TRUE(space.serverTrust);
    EXPECT_FALSE(space.serverTrust->errors.isEmpty());
    EXPECT_FALSE(space.serverTrust->certificateChain.isEmpty());
}

TEST_F(UrlSessionHttpsTest, ServerTrustAnswersDecideTheConnection)
{
    // Answers the trust challenge as told, inline or from another thread while the handshake waits.
    class TrustDelegate : public RecordingDelegate {
    public:
        UrlSessionAuthChallengeDisposition disposition = UrlSessionAuthChallengeDisposition::useCredential;
        bool fromAnotherThread = false;
        void didReceiveChallenge(
            UrlSession&, const UrlAuthenticationChallenge& challenge, UrlChallengeHandler completion) override
        {
            auto answer = [=, trust = challenge.protectionSpace.serverTrust, d = disposition] {
                completion(d, UrlCredential::forTrust(trust));
            };
            if (fromAnotherThread)
                std::thread(answer).detach();
            else
                answer();
        }
    };
    struct Case {
        UrlSessionAuthChallengeDisposition disposition;
        bool fromAnotherThread;
        int code;
    };
    const Case cases[] = {
        { UrlSessionAuthChallengeDisposition::useCredential, false, 0 },
        { UrlSessionAuthChallengeDisposition::useCredential, true, 0 },
        { UrlSessionAuthChallengeDisposition::performDefaultHandling, true,
            UrlError::serverCertificateUntrusted },
        { UrlSessionAuthChallengeDisposition::rejectProtectionSpace, false,
            UrlError::serverCertificateUntrusted },
        { UrlSessionAuthChallengeDisposition::cancelAuthenticationChallenge, false,
            UrlError::userCancelledAuthentication },
    };
    secure.addBody("/secret", "secret");
    secure.start();
    for (const Case& entry : cases) {
        SCOPED_TRACE(static_cast<int>(entry.disposition));
        SCOPED_TRACE(entry.fromAnotherThread);
        // A session per case: an accepted connection would otherwise be reused without a challenge.
        auto trusting = std::make_shared<TrustDelegate>();
        trusting->disposition = entry.disposition;
        trusting->fromAnotherThread = entry.fromAnotherThread;
        auto own = UrlSession::create(UrlSessionConfiguration::ephemeral(), trusting);
        auto task = own->dataTask(UrlRequest(secure.url("/secret")));
        task->resume();
        ASSERT_TRUE(waitUntil([&] { return trusting->completions(task) > 0; }));
        const TaskRecord record = trusting->record(task);
        EXPECT_EQ(errorCode(record), entry.code);
        if (entry.code == 0) {
            EXPECT_EQ(record.data, QByteArray("secret"));
        }
        own->invalidateAndCancel();
        ASSERT_TRUE(waitUntil([&] { return trusting->invalidated(); }));
    }
}

TEST_F(UrlSessionTest, BasicAuthenticationGoesThroughTheTaskChallenge)
{
    server.addBasicAuth("/private", "reader", "open sesame", "inside");
    startServer();

    // Default handling sends nothing: the 401 is the response.
    const TaskRecord denied = run("/private");
    EXPECT_FALSE(denied.error);
    ASSERT_TRUE(denied.response);
    EXPECT_EQ(denied.response->statusCode, 401);
    EXPECT_EQ(denied.data, QByteArray("denied"));
    ASSERT_FALSE(denied.challenges.isEmpty());
    EXPECT_EQ(
        denied.challenges.first().protectionSpace.authenticationMethod, UrlAuthenticationMethod::httpBasic);
    EXPECT_EQ(denied.challenges.first().protectionSpace.realm, QStringLiteral("tests"));

    delegate->taskCredential = UrlCredential::withUser("reader", "open sesame");
    const TaskRecord admitted = run("/private");
    EXPECT_FALSE(admitted.error);
    ASSERT_TRUE(admitted.response);
    EXPECT_EQ(admitted.response->statusCode, 200);
    EXPECT_EQ(admitted.data, QByteArray("inside"));
}

TEST_F(UrlSessionTest, QuietServersTimeOut)
{
    server.addStall("/silent");
    server.addStallAfterHeaders("/trickle");
    startServer();
    for (const char* path : { "/silent", "/trickle" }) {
        SCOPED_TRACE(path);
        UrlRequest request(server.url(QString::fromLatin1(path)));
        request.timeoutInterval = 0.3;
        QElapsedTimer elapsed;
        elapsed.start();
        const TaskRecord record = run(request);
        EXPECT_EQ(errorCode(record), UrlError::timedOut);
        EXPECT_LT(elapsed.elapsed(), 3000);
    }
}

TEST_F(UrlSessionTest, ResourceTimeOutEndsASteadyStream)
{
    server.addEndlessStream("/endless", 1024);
    startServer();
    UrlSessionConfiguration configuration;
    configuration.timeoutIntervalForResource = 0.4;
    session(configuration);
    EXPECT_EQ(errorCode(run("/endless")), UrlError::timedOut);
}

TEST_F(UrlSessionTest, BodiesPastTheCapFail)
{
    server.addEndlessStream("/endless");
    server.addBody("/large", std::string(300 * 1024, 'L'));
    // A gzip stream of empty blocks without end: it decodes to nothing, but its bytes still count.
    server.server().Get("/nothing", [this](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Encoding", "gzip");
        response.set_chunked_content_provider(
            "application/octet-stream", [this, header = true](size_t, httplib::DataSink& sink) mutable {
                std::string blocks;
                if (std::exchange(header, false))
                    blocks.assign("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
                while (blocks.size() < 64 * 1024)
                    blocks.append("\0\0\0\xff\xff", 5);
                return !server.isStopping() && sink.write(blocks.data(), blocks.size());
            });
    });
    startServer();
    UrlSessionConfiguration configuration;
    configuration.maximumResponseBodyBytes = 256 * 1024;
    session(configuration);

    const TaskRecord streamed = run("/endless");
    EXPECT_EQ(errorCode(streamed), UrlError::dataLengthExceedsMaximum);
    EXPECT_LE(streamed.data.size(), 256 * 1024);
    const TaskRecord empty = run("/nothing");
    EXPECT_EQ(errorCode(empty), UrlError::dataLengthExceedsMaximum);
    EXPECT_TRUE(empty.data.isEmpty());

    // A declared length over the cap fails before the response is told.
    const TaskRecord declared = run("/large");
    EXPECT_EQ(errorCode(declared), UrlError::dataLengthExceedsMaximum);
    EXPECT_FALSE(declared.response);
}

TEST_F(UrlSessionTest, BodiesThatFailToDecompressFailTheTask)
{
    std::string photo(200 * 1024, '\0');
    std::mt19937 random(7);
    for (char& byte : photo)
        byte = static_cast<char>(random() % 16);
    const std::string corrupt = testsupport::corruptGzipped(photo);
    const std::string bomb = testsupport::gzipped(std::string(1024 * 1024, '\0'), 300);
    ASSERT_LT(bomb.size(), 400u * 1024);
    // A stream that stops part-way, with every declared byte sent, was cut short on its way.
    const std::string cut = testsupport::gzipped(photo).substr(0, 50 * 1024);
    for (const auto& [path, body] : { std::pair { "/corrupt.jpg", corrupt }, std::pair { "/bomb.jpg", bomb },
             std::pair { "/cut.jpg", cut } }) {
        server.server().Get(path, [body = body](const httplib::Request&, httplib::Response& response) {
            response.set_header("Content-Encoding", "gzip");
            response.set_content(body, "image/jpeg");
        });
    }
    startServer();

    const TaskRecord corrupted = run("/corrupt.jpg");
    EXPECT_EQ(errorCode(corrupted), UrlError::cannotDecodeContentData);
    EXPECT_EQ(errorCode(run("/cut.jpg")), UrlError::cannotDecodeContentData);

    const long residentBefore = statusKilobytes("VmRSS");
    testsupport::resetPeakResident();
    const TaskRecord exploded = run(UrlRequest(server.url("/bomb.jpg")), 30000);
    EXPECT_EQ(errorCode(exploded), UrlError::cannotDecodeContentData);
    EXPECT_LT(exploded.data.size(), 64 * 1024 * 1024);
    EXPECT_LT(statusKilobytes("VmHWM") - residentBefore, 128 * 1024) << "kilobytes of peak growth";
}

// A fault in the encoding fails the task only from where it lies: the bytes before it arrive, also
// when the whole body came in one read and the fault is in its trailing checksum.
TEST_F(UrlSessionTest, BodiesThatFailToDecompressStillDeliverWhatCameBeforeTheFault)
{
    const std::string text(30000, 't');
    std::string badChecksum = testsupport::gzipped(text);
    badChecksum[badChecksum.size() - 6] = static_cast<char>(~badChecksum[badChecksum.size() - 6]);
    server.server().Get(
        "/bad-checksum.txt", [badChecksum](const httplib::Request&, httplib::Response& response) {
            response.set_header("Content-Encoding", "gzip");
            response.set_content(badChecksum, "application/octet-stream");
        });
    startServer();

    const TaskRecord record = run("/bad-checksum.txt");
    EXPECT_EQ(errorCode(record), UrlError::cannotDecodeContentData);
    EXPECT_EQ(record.data.toStdString(), text);
}

TEST_F(UrlSessionTest, BodyCutShortIsALostConnection)
{
    server.addShortBody("/short", "only part", 1000);
    startServer();
    EXPECT_EQ(errorCode(run("/short")), UrlError::networkConnectionLost);
}

// Over HTTP/1.1, "/early" answers at once with 103 Early Hints, and with its real answer only when
// the next request comes on that connection; every other path answers with its own name.
class EarlyHintsServer : public QTcpServer {
public:
    EarlyHintsServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [socket] { answer(socket); });
        });
    }

private:
    static QByteArray ok(const QByteArray& body)
    {
        return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
            + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }

    static void answer(QTcpSocket* socket)
    {
        QByteArray pending = socket->property("pending").toByteArray() + socket->readAll();
        for (qsizetype end; (end = pending.indexOf("\r\n\r\n")) >= 0; pending.remove(0, end + 4)) {
            const QByteArray path = pending.left(end).split(' ').value(1);
            socket->write(socket->property("owed").toByteArray());
            socket->setProperty("owed", QByteArray());
            if (path == "/early") {
                socket->write("HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload; as=style\r\n\r\n");
                socket->setProperty("owed", ok(path));
            } else {
                socket->write(ok(path));
            }
        }
        socket->setProperty("pending", pending);
    }
};

TEST_F(UrlSessionTest, TheRealAnswerAfterAnInterimOneIsNoOtherRequestsAnswer)
{
    EarlyHintsServer hints;
    ASSERT_TRUE(hints.listen(QHostAddress::LocalHost));
    const auto url = [&](const char* path) {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(hints.serverPort()).arg(path));
    };
    // Qt ends an HTTP/1.1 reply at the interim answer, so that is all the transfer can have.
    const TaskRecord early = run(UrlRequest(url("/early")));
    EXPECT_EQ(early.completions, 1);
    // The answer left on that connection is no later request's.
    for (const char* path : { "/next", "/after" }) {
        SCOPED_TRACE(path);
        const TaskRecord next = run(UrlRequest(url(path)));
        EXPECT_EQ(errorCode(next), 0);
        ASSERT_TRUE(next.response);
        EXPECT_EQ(next.response->statusCode, 200);
        EXPECT_EQ(next.data, QByteArray(path));
    }
}

TEST_F(UrlSessionTest, CancelCompletesOnceWithCancelledAndNeverInline)
{
    server.addGated("/held", "late");
    startServer();
    auto running = start(UrlRequest(server.url("/held")));
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/held") == 1; }));
    auto suspended = session().dataTask(UrlRequest(server.url("/hello")));
    {
        // The delegate's completion takes this lock: a cancel that called it inline would deadlock.
        std::lock_guard held(delegate->gate);
        running->cancel();
        suspended->cancel();
        running->cancel();
    }
    ASSERT_TRUE(waitUntil(
        [&] { return delegate->completions(running) == 1 && delegate->completions(suspended) == 1; }));
    suspended->resume();
    server.openGate();
    // Give any stray second completion the chance to arrive.
    auto probe = start(UrlRequest(server.url("/hello")));
    ASSERT_TRUE(waitUntil([&] { return delegate->completions(probe) == 1; }));

    for (const auto& task : { running, suspended }) {
        const TaskRecord record = delegate->record(task);
        EXPECT_EQ(record.completions, 1);
        EXPECT_EQ(errorCode(record), UrlError::cancelled);
        EXPECT_EQ(task->state(), UrlSessionDataTask::State::completed);
    }
    EXPECT_EQ(server.requestCount("/hello"), 1) << "a cancelled suspended task never sends";
}

TEST_F(UrlSessionTest, CancelRacingTheEndStillCompletesOnce)
{
    const std::string body(8 * 1024, 's');
    server.addBody("/small", body);
    startServer();
    std::vector<std::shared_ptr<UrlSessionDataTask>> tasks;
    for (int i = 0; i < 100; ++i)
        tasks.push_back(session().dataTask(UrlRequest(server.url(QStringLiteral("/small?%1").arg(i)))));
    for (const auto& task : tasks)
        task->resume();
    // Cancels land before the start, mid-transfer and after the end.
    std::thread canceller([&] {
        for (const auto& task : tasks)
            task->cancel();
    });
    canceller.join();
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(
            tasks.begin(), tasks.end(), [&](const auto& task) { return delegate->completions(task) > 0; });
    }));
    auto probe = start(UrlRequest(server.url("/hello")));
    ASSERT_TRUE(waitUntil([&] { return delegate->completions(probe) == 1; }));
    for (const auto& task : tasks) {
        const TaskRecord record = delegate->record(task);
        EXPECT_EQ(record.completions, 1);
        if (record.error)
            EXPECT_EQ(record.error->code, UrlError::cancelled);
        else
            EXPECT_EQ(record.data.size(), static_cast<qsizetype>(body.size()));
    }
}

TEST_F(UrlSessionTest, ResponseDispositionMayComeLaterFromAnotherThread)
{
    class LateDelegate : public RecordingDelegate {
    public:
        void didReceiveResponse(UrlSession& session, const std::shared_ptr<UrlSessionDataTask>& task,
            const UrlResponse& response, UrlResponseDispositionHandler completion) override
        {
            RecordingDelegate::didReceiveResponse(
                session, task, response, [](UrlSessionResponseDisposition) {});
            std::thread([completion, answer = responseAnswer] {
                completion(answer);
                completion(UrlSessionResponseDisposition::cancel);
            }).detach();
        }
    };
    auto late = std::make_shared<LateDelegate>();
    delegate = late;
    startServer();
    const TaskRecord allowed = run("/hello");
    EXPECT_FALSE(allowed.error);
    EXPECT_EQ(allowed.data, QByteArray("hello"));

    late->responseAnswer = UrlSessionResponseDisposition::cancel;
    const TaskRecord refused = run("/other");
    EXPECT_EQ(errorCode(refused), UrlError::cancelled);
    EXPECT_TRUE(refused.data.isEmpty());
}

TEST_F(UrlSessionTest, InvalidateAndCancelEndsEveryTaskThenTheSession)
{
    server.addGated("/held", "late");
    startServer();
    std::vector<std::shared_ptr<UrlSessionDataTask>> tasks;
    for (int i = 0; i < 5; ++i)
        tasks.push_back(start(UrlRequest(server.url(QStringLiteral("/held?%1").arg(i)))));
    tasks.push_back(session().dataTask(UrlRequest(server.url("/hello"))));
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/held") == 5; }));

    std::weak_ptr<RecordingDelegate> weakDelegate = delegate;
    auto recorder = delegate;
    m_session->invalidateAndCancel();
    ASSERT_TRUE(waitUntil([&] { return recorder->invalidated(); }));
    for (const auto& task : tasks) {
        EXPECT_EQ(recorder->completions(task), 1);
        EXPECT_EQ(errorCode(recorder->record(task)), UrlError::cancelled);
    }
    // The session let go of its delegate.
    delegate.reset();
    recorder.reset();
    EXPECT_TRUE(waitUntil([&] { return weakDelegate.expired(); }));

    // A task of an invalidated session ends as cancelled and sends nothing.
    auto late = m_session->dataTask(UrlRequest(server.url("/hello")));
    late->resume();
    EXPECT_EQ(late->state(), UrlSessionDataTask::State::completed);
    EXPECT_EQ(late->error()->code, UrlError::cancelled);
    EXPECT_EQ(server.requestCount("/hello"), 0);
    server.openGate();
    m_session.reset();
}

TEST_F(UrlSessionTest, FinishTasksAndInvalidateLetsRunningTasksEnd)
{
    server.addGated("/held", "late");
    startServer();
    auto task = start(UrlRequest(server.url("/held")));
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/held") == 1; }));
    m_session->finishTasksAndInvalidate();
    server.openGate();
    ASSERT_TRUE(waitUntil([&] { return delegate->invalidated(); }));
    const TaskRecord record = delegate->record(task);
    EXPECT_FALSE(record.error);
    EXPECT_EQ(record.data, QByteArray("late"));
}

TEST_F(UrlSessionTest, ManyConcurrentTasksAllComplete)
{
    startServer();
    constexpr int count = 60;
    std::vector<std::shared_ptr<UrlSessionDataTask>> tasks;
    for (int i = 0; i < count; ++i) {
        auto task = session().dataTask(UrlRequest(server.url(QStringLiteral("/hello?n=%1").arg(i))));
        task->setPriority(i % 2 ? urlSessionTaskPriorityHigh : urlSessionTaskPriorityLow);
        task->resume();
        tasks.push_back(task);
    }
    ASSERT_TRUE(waitUntil(
        [&] {
            return std::all_of(tasks.begin(), tasks.end(),
                [&](const auto& task) { return delegate->completions(task) > 0; });
        },
        15000));
    for (const auto& task : tasks) {
        const TaskRecord record = delegate->record(task);
        EXPECT_EQ(record.completions, 1);
        EXPECT_FALSE(record.error);
        EXPECT_EQ(record.data, QByteArray("hello"));
    }
    EXPECT_EQ(server.requestCount("/hello"), count);
}

} // namespace
