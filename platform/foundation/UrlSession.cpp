#include "platform/foundation/UrlSession.h"

#include "platform/foundation/ContentDecoder.h"
#include "platform/foundation/ThreadSanitizer.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

#include <climits>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {

namespace {

std::atomic<std::uint64_t> nextTaskIdentifier { 1 };

// What the network layer may hold of a body we are not reading yet; beyond it TCP pushes back, so
// a paused task (awaiting its delegate) does not buffer without bound.
constexpr qint64 replyReadBufferBytes = 256 * 1024;

int timerMilliseconds(double seconds)
{
    const double ms = seconds * 1000.0;
    if (ms >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return std::max(1, static_cast<int>(ms));
}

bool usable(double seconds)
{
    return std::isfinite(seconds) && seconds > 0;
}

bool isHttpScheme(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == u"http" || scheme == u"https";
}

int effectivePort(const QUrl& url)
{
    return url.port(url.scheme().toLower() == u"https" ? 443 : 80);
}

bool sameOrigin(const QUrl& a, const QUrl& b)
{
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0
        && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && effectivePort(a) == effectivePort(b);
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QNetworkRequest::Priority networkPriority(float priority)
{
    if (priority <= urlSessionTaskPriorityLow)
        return QNetworkRequest::LowPriority;
    if (priority >= urlSessionTaskPriorityHigh)
        return QNetworkRequest::HighPriority;
    return QNetworkRequest::NormalPriority;
}

QString describe(int code)
{
    switch (code) {
    case UrlError::cancelled:
        return QStringLiteral("cancelled");
    case UrlError::badUrl:
        return QStringLiteral("bad URL");
    case UrlError::timedOut:
        return QStringLiteral("The request timed out.");
    case UrlError::unsupportedUrl:
        return QStringLiteral("unsupported URL");
    case UrlError::cannotFindHost:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case UrlError::cannotConnectToHost:
        return QStringLiteral("Could not connect to the server.");
    case UrlError::networkConnectionLost:
        return QStringLiteral("The network connection was lost.");
    case UrlError::httpTooManyRedirects:
        return QStringLiteral("too many HTTP redirects");
    case UrlError::notConnectedToInternet:
        return QStringLiteral("The Internet connection appears to be offline.");
    case UrlError::badServerResponse:
        return QStringLiteral("bad server response");
    case UrlError::userCancelledAuthentication:
        return QStringLiteral("cancelled authentication");
    case UrlError::cannotDecodeContentData:
        return QStringLiteral("The response body could not be decoded (its Content-Encoding is corrupt, cut "
                              "short or expands too far).");
    case UrlError::dataLengthExceedsMaximum:
        return QStringLiteral("The response is larger than the session allows.");
    case UrlError::secureConnectionFailed:
        return QStringLiteral("A TLS error caused the secure connection to fail.");
    case UrlError::serverCertificateUntrusted:
        return QStringLiteral("The certificate for this server is invalid.");
    default:
        return QStringLiteral("unknown error");
    }
}

UrlError makeError(int code, const QUrl& url)
{
    return UrlError::make(code, url, describe(code));
}

UrlResponse makeResponse(QNetworkReply* reply)
{
    UrlResponse response;
    response.url = reply->url();
    response.isHttp = true;
    response.statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    response.headerFields = reply->rawHeaderPairs();
    const QByteArray contentType = response.value("Content-Type");
    response.mimeType = QString::fromLatin1(contentType.split(';').first().trimmed().toLower());
    const QByteArray encoding = response.value("Content-Encoding").trimmed().toLower();
    bool known = false;
    const qint64 length = response.value("Content-Length").trimmed().toLongLong(&known);
    // A transfer coding frames the body itself and overrides any declared length.
    if (known && length >= 0 && (encoding.isEmpty() || encoding == "identity")
        && response.value("Transfer-Encoding").isEmpty())
        response.expectedContentLength = length;
    return response;
}

int mapNetworkError(QNetworkReply::NetworkError error, int status, bool untrustedCertificate)
{
    const int value = static_cast<int>(error);
    // QNetworkAccessManager turns HTTP error statuses into errors; our sessions deliver them as
    // responses. Only statuses of 400 and up: Qt also reports a body that failed to decompress as a
    // content error, and that is a failed transfer whatever the status said.
    if (status >= 400
        && ((value >= 201 && value <= 299) || error == QNetworkReply::ProtocolInvalidOperationError
            || error == QNetworkReply::ProxyAuthenticationRequiredError || (value >= 401 && value <= 499)))
        return 0;
    if (status > 0 && error == QNetworkReply::UnknownContentError)
        return UrlError::cannotDecodeContentData;
    switch (error) {
    case QNetworkReply::NoError:
        return 0;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
        return UrlError::cannotConnectToHost;
    case QNetworkReply::RemoteHostClosedError:
        return UrlError::networkConnectionLost;
    case QNetworkReply::HostNotFoundError:
        return UrlError::cannotFindHost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::OperationCanceledError:
        return UrlError::timedOut;
    case QNetworkReply::SslHandshakeFailedError:
        return untrustedCertificate ? UrlError::serverCertificateUntrusted : UrlError::secureConnectionFailed;
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return UrlError::notConnectedToInternet;
    case QNetworkReply::TooManyRedirectsError:
        return UrlError::httpTooManyRedirects;
    case QNetworkReply::ProtocolUnknownError:
        return UrlError::unsupportedUrl;
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::UnknownContentError:
        return UrlError::badServerResponse;
    default:
        return UrlError::unknown;
    }
}

// The answer to a challenge, waited for on the network thread: Qt needs it before the signal returns.
struct ChallengeDecision {
    UrlSessionAuthChallengeDisposition disposition
        = UrlSessionAuthChallengeDisposition::performDefaultHandling;
    std::optional<UrlCredential> credential;
};

struct ChallengeAnswer {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    ChallengeDecision decision;
};

} // namespace

// The network thread's receiver of drain events; the core is reached weakly, as it may go first.
class NetworkWorker final : public QObject {
public:
    explicit NetworkWorker(std::weak_ptr<UrlSessionCore> core)
        : m_core(std::move(core))
    {
    }

    bool event(QEvent* event) override;

private:
    const std::weak_ptr<UrlSessionCore> m_core;
};

// A task's working state on the network thread.
struct UrlTransfer {
    QPointer<QNetworkReply> reply;
    // Bumped for each reply the task sends, so signals and answers meant for a superseded reply
    // (one left behind by a redirect) are recognised and dropped.
    std::uint64_t generation = 0;
    QTimer* idleTimer = nullptr;
    QTimer* resourceTimer = nullptr;
    // The body's Content-Encoding, undone here rather than by Qt, which cannot tell a stream that
    // stops part-way from a whole one.
    std::unique_ptr<ContentDecoder> decoder;
    int redirectCount = 0;
    bool createdAfterInvalidation = false;
    bool responseSeen = false;
    bool awaitingDecision = false;
    bool allowed = false;
    bool replyFinished = false;
    bool finished = false;
    bool untrustedCertificate = false;
    bool challengeCancelled = false;
    int authenticationFailures = 0;
};

struct UrlSessionCore : std::enable_shared_from_this<UrlSessionCore> {
    explicit UrlSessionCore(UrlSessionConfiguration config)
        : configuration(config)
    {
    }
    ~UrlSessionCore();

    const UrlSessionConfiguration configuration;

    mutable std::mutex mutex;
    std::shared_ptr<UrlSessionDelegate> delegate;
    // The session keeps itself alive until invalidation has finished.
    std::shared_ptr<UrlSession> self;
    std::unordered_set<std::shared_ptr<UrlSessionDataTask>> liveTasks;
    bool invalidating = false;
    bool invalidated = false;
    bool cancelOnInvalidate = false;

    QThread* thread = nullptr;
    QObject* worker = nullptr;
    // Work for the network thread, behind one drain event for the worker. Our lock, not Qt's event
    // queue, hands the work over, so thread sanitizers see the order.
    std::deque<std::function<void()>> pending;
    bool drainPosted = false;
    std::atomic<bool> shuttingDown { false };

    // Network-thread state.
    QNetworkAccessManager* manager = nullptr;
    std::unordered_map<QNetworkReply*, std::weak_ptr<UrlSessionDataTask>> tasksByReply;

    // Queues `work` on the network thread; dropped once the session has been invalidated or the
    // program has begun to end (the network thread and its worker may be gone: a session whose last
    // owner lets go on another thread during exit would post to a deleted object).
    void post(std::function<void()> work)
    {
        std::lock_guard lock(mutex);
        if (!invalidated && !shuttingDown)
            enqueueLocked(std::move(work));
    }

    // With `mutex` held.
    void enqueueLocked(std::function<void()> work)
    {
        pending.push_back(std::move(work));
        if (drainPosted)
            return;
        drainPosted = true;
        auto* drain = new QEvent(drainEventType());
        handOverRelease(drain);
        QCoreApplication::postEvent(worker, drain);
    }

    // On the network thread.
    void drain()
    {
        std::deque<std::function<void()>> batch;
        {
            std::lock_guard lock(mutex);
            batch.swap(pending);
            drainPosted = false;
        }
        for (std::function<void()>& work : batch)
            work();
    }

    static QEvent::Type drainEventType()
    {
        static const auto type = QEvent::Type(QEvent::registerEventType());
        return type;
    }

    template<class Message> void tell(Message&& message)
    {
        std::shared_ptr<UrlSessionDelegate> receiver;
        std::shared_ptr<UrlSession> session;
        {
            std::lock_guard lock(mutex);
            receiver = delegate;
            session = self;
        }
        if (receiver && session && !shuttingDown)
            message(*receiver, *session);
    }

    void setUp();
    void retireManager();
    void startTask(const std::shared_ptr<UrlSessionDataTask>& task);
    void send(const std::shared_ptr<UrlSessionDataTask>& task, const UrlRequest& request);
    void onMetaData(const std::shared_ptr<UrlSessionDataTask>& task);
    void onReadyRead(const std::shared_ptr<UrlSessionDataTask>& task);
    void onFinished(const std::shared_ptr<UrlSessionDataTask>& task);
    void onError(const std::shared_ptr<UrlSessionDataTask>& task);
    void askForResponse(const std::shared_ptr<UrlSessionDataTask>& task);
    void askForRedirect(const std::shared_ptr<UrlSessionDataTask>& task, const QByteArray& location);
    void followRedirect(const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlRequest> request);
    void deliverAvailable(const std::shared_ptr<UrlSessionDataTask>& task);
    void completeFromReply(const std::shared_ptr<UrlSessionDataTask>& task);
    void fail(const std::shared_ptr<UrlSessionDataTask>& task, int code);
    void finish(const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlError> error);
    void onSslErrors(QNetworkReply* reply, const QList<QSslError>& errors);
    void onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator);
    void beginInvalidation(bool cancel);
    void finishInvalidationIfDone();
    void shutDownForExit();

    double idleSeconds(const UrlRequest& request) const
    {
        if (usable(request.timeoutInterval))
            return request.timeoutInterval;
        return usable(configuration.timeoutIntervalForRequest) ? configuration.timeoutIntervalForRequest
                                                               : UrlRequest::defaultTimeoutIntervalSeconds;
    }
    ChallengeDecision waitForAnswer(
        const std::function<void(UrlChallengeHandler)>& ask, double timeoutSeconds);
    void restartIdleTimer(UrlTransfer& transfer)
    {
        if (transfer.idleTimer)
            transfer.idleTimer->start();
    }
    std::shared_ptr<UrlSessionDataTask> taskForReply(QNetworkReply* reply)
    {
        const auto found = tasksByReply.find(reply);
        return found == tasksByReply.end() ? nullptr : found->second.lock();
    }
};

namespace {

// Sessions that were never invalidated still run their threads when the application object goes;
// stop them then, before Qt's own teardown pulls the ground from under them.
std::mutex liveCoresMutex;
std::vector<std::weak_ptr<UrlSessionCore>> liveCores;

// Every session's network thread. A thread is deleted only here, once its session has let go of it
// and it has finished; the exit waits for all of them, so none is still ending (its objects not yet
// released) when the process goes. A session that ends on its own thread cannot join it, which is
// why it hands the thread over instead of deleting it.
struct NetworkThreads {
    std::mutex mutex;
    std::vector<QThread*> owned; // by a live session
    std::vector<QThread*> released; // by a session that has gone
    bool exiting = false;
};

NetworkThreads& networkThreads()
{
    static auto* threads = new NetworkThreads;
    return *threads;
}

void adoptNetworkThread(QThread* thread)
{
    NetworkThreads& threads = networkThreads();
    std::lock_guard lock(threads.mutex);
    threads.owned.push_back(thread);
}

void releaseNetworkThread(QThread* thread)
{
    NetworkThreads& threads = networkThreads();
    std::vector<QThread*> finished;
    {
        std::lock_guard lock(threads.mutex);
        std::erase(threads.owned, thread);
        threads.released.push_back(thread);
        // While the exit waits for the threads, it alone deletes them.
        if (!threads.exiting) {
            std::erase_if(threads.released, [&](QThread* candidate) {
                if (candidate == QThread::currentThread() || !candidate->wait(QDeadlineTimer(0)))
                    return false;
                finished.push_back(candidate);
                return true;
            });
        }
    }
    for (QThread* done : finished)
        delete done;
}

void waitForNetworkThreads()
{
    NetworkThreads& threads = networkThreads();
    std::vector<QThread*> all;
    {
        std::lock_guard lock(threads.mutex);
        threads.exiting = true;
        all = threads.owned;
        all.insert(all.end(), threads.released.begin(), threads.released.end());
    }
    for (QThread* thread : all)
        thread->wait();
    std::vector<QThread*> released;
    {
        std::lock_guard lock(threads.mutex);
        released.swap(threads.released);
    }
    for (QThread* thread : released)
        delete thread;
}

void shutDownLiveSessions()
{
    std::vector<std::weak_ptr<UrlSessionCore>> cores;
    {
        std::lock_guard lock(liveCoresMutex);
        cores.swap(liveCores);
    }
    for (const auto& weak : cores) {
        if (auto core = weak.lock())
            core->shutDownForExit();
    }
    waitForNetworkThreads();
}

void registerCore(const std::shared_ptr<UrlSessionCore>& core)
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (QCoreApplication::instance())
            qAddPostRoutine(shutDownLiveSessions);
    });
    std::lock_guard lock(liveCoresMutex);
    std::erase_if(liveCores, [](const auto& weak) { return weak.expired(); });
    liveCores.push_back(core);
}

} // namespace

bool NetworkWorker::event(QEvent* event)
{
    handOverAcquire(event);
    if (event->type() != UrlSessionCore::drainEventType())
        return QObject::event(event);
    if (std::shared_ptr<UrlSessionCore> core = m_core.lock())
        core->drain();
    return true;
}

UrlSessionCore::~UrlSessionCore()
{
    if (!thread)
        return;
    thread->quit();
    // The last owner may let go inside a message on the network thread, which cannot join itself.
    if (QThread::currentThread() != thread)
        thread->wait();
    releaseNetworkThread(thread);
}

void UrlSessionCore::setUp()
{
    manager = new QNetworkAccessManager(worker);
    manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    manager->setAutoDeleteReplies(false);
    std::weak_ptr<UrlSessionCore> weak = weak_from_this();
    QObject::connect(
        manager, &QNetworkAccessManager::authenticationRequired, worker,
        [weak](QNetworkReply* reply, QAuthenticator* authenticator) {
            if (auto core = weak.lock())
                core->onAuthenticationRequired(reply, authenticator);
        },
        Qt::DirectConnection);
}

void UrlSessionCore::retireManager()
{
    QNetworkAccessManager* old = manager;
    setUp();
    // Deleting a manager deletes its replies, so the old one waits for the last of them.
    const QList<QNetworkReply*> replies = old->findChildren<QNetworkReply*>(Qt::FindDirectChildrenOnly);
    if (replies.isEmpty()) {
        old->deleteLater();
        return;
    }
    auto left = std::make_shared<qsizetype>(replies.size());
    for (QNetworkReply* reply : replies) {
        QObject::connect(reply, &QObject::destroyed, old, [old, left] {
            if (--*left == 0)
                old->deleteLater();
        });
    }
}

void UrlSessionCore::startTask(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    if (transfer.finished || task->state() != UrlSessionDataTask::State::running)
        return;
    const UrlRequest& request = task->originalRequest();
    if (transfer.createdAfterInvalidation)
        return fail(task, UrlError::cancelled);
    if (configuration.networkIsConstrained && !request.allowsConstrainedNetworkAccess) {
        UrlError error = makeError(UrlError::notConnectedToInternet, request.url);
        error.networkUnavailableReason = UrlError::NetworkUnavailableReason::constrained;
        return finish(task, error);
    }
    if (!request.url.isValid() || request.url.isEmpty())
        return fail(task, UrlError::badUrl);
    if (!isHttpScheme(request.url))
        return fail(task, UrlError::unsupportedUrl);
    if (request.url.host().isEmpty())
        return fail(task, UrlError::badUrl);

    transfer.idleTimer = new QTimer(worker);
    transfer.idleTimer->setSingleShot(true);
    transfer.idleTimer->setInterval(timerMilliseconds(idleSeconds(request)));
    std::weak_ptr<UrlSessionDataTask> weakTask = task;
    std::weak_ptr<UrlSessionCore> weakCore = weak_from_this();
    auto timedOut = [weakCore, weakTask] {
        auto core = weakCore.lock();
        auto task = weakTask.lock();
        if (core && task && !core->shuttingDown)
            core->fail(task, UrlError::timedOut);
    };
    QObject::connect(transfer.idleTimer, &QTimer::timeout, worker, timedOut);
    if (usable(configuration.timeoutIntervalForResource)) {
        transfer.resourceTimer = new QTimer(worker);
        transfer.resourceTimer->setSingleShot(true);
        QObject::connect(transfer.resourceTimer, &QTimer::timeout, worker, timedOut);
        transfer.resourceTimer->start(timerMilliseconds(configuration.timeoutIntervalForResource));
    }
    send(task, request);
}

void UrlSessionCore::send(const std::shared_ptr<UrlSessionDataTask>& task, const UrlRequest& request)
{
    UrlTransfer& transfer = *task->m_transfer;
    QNetworkRequest networkRequest(request.url);
    for (const auto& [name, value] : request.headerFields)
        networkRequest.setRawHeader(name, value);
    // Asking ourselves keeps Qt from decoding the body: we decode it, and see where it ends.
    if (!request.hasHeader("Accept-Encoding"))
        networkRequest.setRawHeader("Accept-Encoding", "gzip, deflate");
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    networkRequest.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    networkRequest.setAttribute(
        QNetworkRequest::HttpPipeliningAllowedAttribute, request.httpShouldUsePipelining);
    networkRequest.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    networkRequest.setPriority(networkPriority(task->priority()));
    // Our own timers measure idleness; Qt's transfer time-out would surface as a plain abort.
    networkRequest.setTransferTimeout(0);

    QNetworkReply* reply = request.httpMethod == "GET"
        ? manager->get(networkRequest)
        : manager->sendCustomRequest(networkRequest, request.httpMethod, request.httpBody);
    reply->setReadBufferSize(replyReadBufferBytes);

    transfer.reply = reply;
    transfer.generation += 1;
    transfer.responseSeen = false;
    transfer.awaitingDecision = false;
    transfer.allowed = false;
    transfer.replyFinished = false;
    transfer.decoder.reset();
    tasksByReply[reply] = task;

    // Each handler holds the core while it runs: the message it sends may be the one that ends the
    // session.
    const std::uint64_t generation = transfer.generation;
    std::weak_ptr<UrlSessionDataTask> weakTask = task;
    std::weak_ptr<UrlSessionCore> weakCore = weak_from_this();
    auto handle = [weakCore, weakTask, generation](
                      void (UrlSessionCore::*step)(const std::shared_ptr<UrlSessionDataTask>&)) {
        return [weakCore, weakTask, generation, step] {
            auto core = weakCore.lock();
            auto task = weakTask.lock();
            if (!core || !task || core->shuttingDown || task->m_transfer->finished
                || task->m_transfer->generation != generation)
                return;
            (core.get()->*step)(task);
        };
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, worker, handle(&UrlSessionCore::onMetaData));
    QObject::connect(reply, &QNetworkReply::readyRead, worker, handle(&UrlSessionCore::onReadyRead));
    QObject::connect(reply, &QNetworkReply::finished, worker, handle(&UrlSessionCore::onFinished));
    // Qt does not always emit `finished` after an error (a body that fails to decompress can leave
    // the reply silent), so a failed transfer ends on its error. Queued, so that Qt has finished
    // with the reply before the task aborts it; a `finished` that comes first makes this a no-op.
    QObject::connect(
        reply, &QNetworkReply::errorOccurred, worker, handle(&UrlSessionCore::onError), Qt::QueuedConnection);
    QObject::connect(
        reply, &QNetworkReply::sslErrors, worker,
        [weakCore, reply](const QList<QSslError>& errors) {
            if (auto core = weakCore.lock())
                core->onSslErrors(reply, errors);
        },
        Qt::DirectConnection);
    restartIdleTimer(transfer);
}

void UrlSessionCore::onMetaData(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    QNetworkReply* reply = transfer.reply;
    if (transfer.responseSeen || !reply
        || !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 100 && status < 200) {
        // An interim answer (103 Early Hints, say) comes before the real one. Over HTTP/2 the real
        // one follows on this reply. Over HTTP/1 Qt ends the reply here, taking the interim answer
        // for the response, and leaves the real one on the connection, where the next request to
        // that server would read it as its own: no later request goes through that manager.
        if (reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool())
            return;
        retireManager();
    }
    transfer.responseSeen = true;
    restartIdleTimer(transfer);
    if (transfer.challengeCancelled)
        return fail(task, UrlError::userCancelledAuthentication);
    const QByteArray location = reply->rawHeader("Location");
    if (isRedirectStatus(status) && !location.isEmpty())
        return askForRedirect(task, location);
    askForResponse(task);
}

void UrlSessionCore::askForResponse(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    UrlResponse response = makeResponse(transfer.reply);
    if (response.expectedContentLength > configuration.maximumResponseBodyBytes)
        return fail(task, UrlError::dataLengthExceedsMaximum);
    transfer.decoder = ContentDecoder::forEncoding(response.value("Content-Encoding"));
    {
        std::lock_guard lock(task->m_mutex);
        task->m_response = response;
    }
    transfer.awaitingDecision = true;
    const std::uint64_t generation = transfer.generation;
    std::weak_ptr<UrlSessionCore> weakCore = weak_from_this();
    std::weak_ptr<UrlSessionDataTask> weakTask = task;
    auto once = std::make_shared<std::atomic<bool>>(false);
    UrlResponseDispositionHandler handler
        = [weakCore, weakTask, generation, once](UrlSessionResponseDisposition disposition) {
              if (once->exchange(true))
                  return;
              auto core = weakCore.lock();
              if (!core)
                  return;
              // Always queued, even from the network thread: the body must not start flowing from inside
              // the delegate's own response message.
              core->post([core, weakTask, generation, disposition] {
                  auto task = weakTask.lock();
                  if (!task || core->shuttingDown)
                      return;
                  UrlTransfer& transfer = *task->m_transfer;
                  if (transfer.finished || transfer.generation != generation || !transfer.awaitingDecision)
                      return;
                  transfer.awaitingDecision = false;
                  if (disposition != UrlSessionResponseDisposition::allow)
                      return core->fail(task, UrlError::cancelled);
                  transfer.allowed = true;
                  core->deliverAvailable(task);
                  if (!transfer.finished && transfer.replyFinished)
                      core->completeFromReply(task);
              });
          };
    tell([&](UrlSessionDelegate& delegate, UrlSession& session) {
        delegate.didReceiveResponse(session, task, response, handler);
    });
}

void UrlSessionCore::askForRedirect(
    const std::shared_ptr<UrlSessionDataTask>& task, const QByteArray& location)
{
    UrlTransfer& transfer = *task->m_transfer;
    if (transfer.redirectCount >= configuration.maximumRedirects)
        return fail(task, UrlError::httpTooManyRedirects);
    const QUrl target = transfer.reply->url().resolved(QUrl::fromEncoded(location.trimmed()));
    if (!target.isValid())
        return fail(task, UrlError::badServerResponse);
    // A server must not be able to point us at local files or other schemes. The error names the
    // refused target, not the address that led there.
    if (!isHttpScheme(target))
        return finish(task, makeError(UrlError::unsupportedUrl, target));

    const UrlResponse response = makeResponse(transfer.reply);
    UrlRequest proposed = task->currentRequest();
    const bool leavesOrigin = !sameOrigin(proposed.url, target);
    proposed.url = target;
    const int status = response.statusCode;
    const bool dropBody = status == 303 ? proposed.httpMethod != "HEAD"
                                        : ((status == 301 || status == 302) && proposed.httpMethod == "POST");
    if (dropBody) {
        if (proposed.httpMethod != "HEAD")
            proposed.httpMethod = "GET";
        proposed.httpBody.clear();
        proposed.removeHeader("Content-Type");
        proposed.removeHeader("Content-Length");
    }
    if (leavesOrigin) {
        proposed.removeHeader("Authorization");
        proposed.removeHeader("Proxy-Authorization");
        proposed.removeHeader("Cookie");
    }

    transfer.awaitingDecision = true;
    const std::uint64_t generation = transfer.generation;
    std::weak_ptr<UrlSessionCore> weakCore = weak_from_this();
    std::weak_ptr<UrlSessionDataTask> weakTask = task;
    auto once = std::make_shared<std::atomic<bool>>(false);
    UrlRedirectHandler handler = [weakCore, weakTask, generation, once](std::optional<UrlRequest> request) {
        if (once->exchange(true))
            return;
        auto core = weakCore.lock();
        if (!core)
            return;
        core->post([core, weakTask, generation, request = std::move(request)] {
            auto task = weakTask.lock();
            if (!task || core->shuttingDown)
                return;
            UrlTransfer& transfer = *task->m_transfer;
            if (transfer.finished || transfer.generation != generation || !transfer.awaitingDecision)
                return;
            transfer.awaitingDecision = false;
            core->followRedirect(task, request);
        });
    };
    tell([&](UrlSessionDelegate& delegate, UrlSession& session) {
        delegate.willPerformHttpRedirection(session, task, response, proposed, handler);
    });
}

void UrlSessionCore::followRedirect(
    const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlRequest> request)
{
    UrlTransfer& transfer = *task->m_transfer;
    if (!request) {
        // Refused: the redirect response itself is the answer.
        askForResponse(task);
        return;
    }
    if (!isHttpScheme(request->url) || request->url.host().isEmpty())
        return finish(task, makeError(UrlError::unsupportedUrl, request->url));
    transfer.redirectCount += 1;
    {
        std::lock_guard lock(task->m_mutex);
        task->m_currentRequest = *request;
    }
    QNetworkReply* old = transfer.reply;
    tasksByReply.erase(old);
    // The superseded reply's signals carry an old generation from here on and are ignored.
    transfer.generation += 1;
    old->abort();
    old->deleteLater();
    send(task, *request);
}

void UrlSessionCore::onReadyRead(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    restartIdleTimer(transfer);
    if (transfer.allowed)
        deliverAvailable(task);
}

void UrlSessionCore::deliverAvailable(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    // False once the body has passed the session's cap, which fails the task.
    const auto hand = [&](const QByteArray& chunk) {
        const std::int64_t total = task->m_bytesReceived.fetch_add(chunk.size()) + chunk.size();
        if (total > configuration.maximumResponseBodyBytes) {
            fail(task, UrlError::dataLengthExceedsMaximum);
            return false;
        }
        tell([&](UrlSessionDelegate& delegate, UrlSession& session) {
            delegate.didReceiveData(session, task, chunk);
        });
        return true;
    };
    while (!transfer.finished && transfer.reply && transfer.reply->bytesAvailable() > 0) {
        QByteArray chunk = transfer.reply->readAll();
        if (chunk.isEmpty())
            break;
        if (!transfer.decoder) {
            if (!hand(chunk))
                return;
            continue;
        }
        QByteArray decoded;
        const ContentDecoder::Status status
            = transfer.decoder->decode(chunk, decoded, configuration.maximumResponseBodyBytes);
        // What decoded before the fault is the body as far as it came, as it would be had the fault
        // arrived in a later read: a page whose whole body came in one read keeps its head when its
        // trailer is broken.
        if (!decoded.isEmpty() && !hand(decoded))
            return;
        if (status == ContentDecoder::Status::corrupt)
            return fail(task, UrlError::cannotDecodeContentData);
        if (status == ContentDecoder::Status::tooLarge)
            return fail(task, UrlError::dataLengthExceedsMaximum);
    }
}

void UrlSessionCore::onFinished(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    transfer.replyFinished = true;
    if (transfer.awaitingDecision)
        return;
    if (!transfer.responseSeen) {
        if (transfer.reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            onMetaData(task);
            if (transfer.finished || transfer.awaitingDecision)
                return;
            // Only an interim answer came.
            if (!transfer.responseSeen)
                return completeFromReply(task);
        } else {
            return completeFromReply(task);
        }
    }
    if (transfer.allowed)
        completeFromReply(task);
}

void UrlSessionCore::onError(const std::shared_ptr<UrlSessionDataTask>& task)
{
    QNetworkReply* reply = task->m_transfer->reply;
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // An HTTP error status is a response like any other: its body follows, then `finished`.
    if (mapNetworkError(reply->error(), status, task->m_transfer->untrustedCertificate) == 0)
        return;
    onFinished(task);
}

void UrlSessionCore::completeFromReply(const std::shared_ptr<UrlSessionDataTask>& task)
{
    UrlTransfer& transfer = *task->m_transfer;
    deliverAvailable(task);
    if (transfer.finished)
        return;
    QNetworkReply* reply = transfer.reply;
    if (transfer.challengeCancelled)
        return fail(task, UrlError::userCancelledAuthentication);
    const bool hasStatus = transfer.responseSeen;
    const int status = hasStatus ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
    int code = mapNetworkError(reply->error(), status, transfer.untrustedCertificate);
    if (code == 0 && !hasStatus)
        code = UrlError::badServerResponse;
    // The transfer ended, but the encoded body did not: what came is only part of it.
    if (code == 0 && transfer.decoder && !transfer.decoder->isComplete())
        code = UrlError::cannotDecodeContentData;
    if (code == 0)
        return finish(task, std::nullopt);
    fail(task, code);
}

void UrlSessionCore::fail(const std::shared_ptr<UrlSessionDataTask>& task, int code)
{
    finish(task, makeError(code, task->currentRequest().url));
}

void UrlSessionCore::finish(const std::shared_ptr<UrlSessionDataTask>& task, std::optional<UrlError> error)
{
    UrlTransfer& transfer = *task->m_transfer;
    if (transfer.finished)
        return;
    transfer.finished = true;
    delete transfer.idleTimer;
    delete transfer.resourceTimer;
    transfer.idleTimer = nullptr;
    transfer.resourceTimer = nullptr;
    if (QNetworkReply* reply = transfer.reply) {
        tasksByReply.erase(reply);
        transfer.reply = nullptr;
        // `finished` set above makes the reply's own finished signal, emitted inside abort, a no-op.
        // A reply already in error is only deleted: aborting it would make Qt report a second error.
        if (reply->isRunning() && reply->error() == QNetworkReply::NoError)
            reply->abort();
        reply->deleteLater();
    }
    {
        std::lock_guard lock(task->m_mutex);
        task->m_error = error;
    }
    task->m_state = UrlSessionDataTask::State::completed;
    tell([&](UrlSessionDelegate& delegate, UrlSession& session) {
        delegate.didComplete(session, task, error);
    });
    {
        std::lock_guard lock(mutex);
        liveTasks.erase(task);
    }
    finishInvalidationIfDone();
}

ChallengeDecision UrlSessionCore::waitForAnswer(
    const std::function<void(UrlChallengeHandler)>& ask, double timeoutSeconds)
{
    auto answer = std::make_shared<ChallengeAnswer>();
    UrlChallengeHandler handler
        = [answer](UrlSessionAuthChallengeDisposition disposition, std::optional<UrlCredential> credential) {
              std::lock_guard lock(answer->mutex);
              if (answer->done)
                  return;
              answer->done = true;
              answer->decision = { disposition, std::move(credential) };
              answer->answered.notify_all();
          };
    bool asked = false;
    tell([&](UrlSessionDelegate&, UrlSession&) { asked = true; });
    if (asked)
        ask(handler);
    std::unique_lock lock(answer->mutex);
    if (!answer->done) {
        answer->answered.wait_for(
            lock, std::chrono::milliseconds(timerMilliseconds(timeoutSeconds)), [&] { return answer->done; });
        // Too late answers are ignored from here on.
        answer->done = true;
    }
    return answer->decision;
}

void UrlSessionCore::onSslErrors(QNetworkReply* reply, const QList<QSslError>& errors)
{
    auto task = taskForReply(reply);
    if (!task || shuttingDown || task->m_transfer->finished)
        return;
    UrlTransfer& transfer = *task->m_transfer;
    UrlAuthenticationChallenge challenge;
    challenge.protectionSpace.host = reply->url().host();
    challenge.protectionSpace.port = effectivePort(reply->url());
    challenge.protectionSpace.protocol = reply->url().scheme().toLower();
    challenge.protectionSpace.authenticationMethod = UrlAuthenticationMethod::serverTrust;
    auto trust = std::make_shared<ServerTrust>();
    trust->certificateChain = reply->sslConfiguration().peerCertificateChain();
    trust->errors = errors;
    challenge.protectionSpace.serverTrust = trust;

    const ChallengeDecision answer = waitForAnswer(
        [&](UrlChallengeHandler handler) {
            tell([&](UrlSessionDelegate& delegate, UrlSession& session) {
                delegate.didReceiveChallenge(session, challenge, handler);
            });
        },
        idleSeconds(task->currentRequest()));

    switch (answer.disposition) {
    case UrlSessionAuthChallengeDisposition::useCredential:
        if (answer.credential && answer.credential->serverTrust) {
            reply->ignoreSslErrors(answer.credential->serverTrust->errors);
            return;
        }
        break;
    case UrlSessionAuthChallengeDisposition::cancelAuthenticationChallenge:
        transfer.challengeCancelled = true;
        return;
    default:
        break;
    }
    transfer.untrustedCertificate = true;
}

void UrlSessionCore::onAuthenticationRequired(QNetworkReply* reply, QAuthenticator* authenticator)
{
    auto task = taskForReply(reply);
    if (!task || shuttingDown || task->m_transfer->finished)
        return;
    UrlTransfer& transfer = *task->m_transfer;
    UrlAuthenticationChallenge challenge;
    challenge.protectionSpace.host = reply->url().host();
    challenge.protectionSpace.port = effectivePort(reply->url());
    challenge.protectionSpace.protocol = reply->url().scheme().toLower();
    challenge.protectionSpace.realm = authenticator->realm();
    const QByteArray scheme = reply->rawHeader("WWW-Authenticate").trimmed().split(' ').first().toLower();
    challenge.protectionSpace.authenticationMethod = scheme == "digest" ? UrlAuthenticationMethod::httpDigest
        : scheme == "ntlm"                                              ? UrlAuthenticationMethod::ntlm
        : scheme == "negotiate"                                         ? UrlAuthenticationMethod::negotiate
                                                                        : UrlAuthenticationMethod::httpBasic;
    challenge.previousFailureCount = transfer.authenticationFailures++;
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        challenge.failureResponse = makeResponse(reply);

    const ChallengeDecision answer = waitForAnswer(
        [&](UrlChallengeHandler handler) {
            tell([&](UrlSessionDelegate& delegate, UrlSession& session) {
                delegate.didReceiveTaskChallenge(session, task, challenge, handler);
            });
        },
        idleSeconds(task->currentRequest()));

    if (answer.disposition == UrlSessionAuthChallengeDisposition::useCredential && answer.credential
        && !answer.credential->user.isEmpty()) {
        authenticator->setUser(answer.credential->user);
        authenticator->setPassword(answer.credential->password);
    } else if (answer.disposition == UrlSessionAuthChallengeDisposition::cancelAuthenticationChallenge) {
        transfer.challengeCancelled = true;
    }
    // Anything else leaves the authenticator empty, and the server's 401 becomes the response.
}

void UrlSessionCore::beginInvalidation(bool cancel)
{
    std::vector<std::shared_ptr<UrlSessionDataTask>> toCancel;
    {
        std::lock_guard lock(mutex);
        if (invalidated)
            return;
        if (cancel)
            toCancel.assign(liveTasks.begin(), liveTasks.end());
    }
    for (const auto& task : toCancel) {
        task->m_state = UrlSessionDataTask::State::canceling;
        fail(task, UrlError::cancelled);
    }
    finishInvalidationIfDone();
}

void UrlSessionCore::finishInvalidationIfDone()
{
    std::shared_ptr<UrlSessionDelegate> receiver;
    std::shared_ptr<UrlSession> session;
    {
        std::lock_guard lock(mutex);
        if (!invalidating || invalidated || !liveTasks.empty())
            return;
        invalidated = true;
        receiver = delegate;
        session = self;
    }
    if (receiver && session && !shuttingDown)
        receiver->didBecomeInvalid(*session, std::nullopt);
    // Work still queued never runs now (the loop ends below); much of it holds this core.
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex);
        delegate.reset();
        self.reset();
        dropped.swap(pending);
    }
    // The worker (and the manager with it) goes when the thread's loop ends.
    if (manager)
        manager->deleteLater();
    manager = nullptr;
    worker->deleteLater();
    thread->quit();
    // `session` may be the last owner: it lets go when this returns, possibly ending this core.
}

void UrlSessionCore::shutDownForExit()
{
    if (shuttingDown.exchange(true) || !thread)
        return;
    // Every message still queued on the network thread now does nothing. Its objects are deleted on
    // that thread: by this last piece of work, or, when invalidation got there first, by the deferred
    // deletions it asked for, which run as the thread ends.
    {
        std::lock_guard lock(mutex);
        if (!invalidated) {
            enqueueLocked([this] {
                delete manager;
                manager = nullptr;
                worker->deleteLater();
                thread->quit();
            });
        }
    }
    thread->wait();
    // The session kept itself and its delegate alive for an invalidation that will never finish now;
    // let them go, or they would outlive the program as a cycle.
    std::shared_ptr<UrlSession> session;
    std::shared_ptr<UrlSessionDelegate> receiver;
    std::unordered_set<std::shared_ptr<UrlSessionDataTask>> tasks;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex);
        invalidated = true;
        session = std::move(self);
        receiver = std::move(delegate);
        tasks.swap(liveTasks);
        dropped.swap(pending);
    }
}

// UrlSessionDataTask

UrlSessionDataTask::UrlSessionDataTask(std::weak_ptr<UrlSessionCore> core, UrlRequest request)
    : m_identifier(nextTaskIdentifier.fetch_add(1))
    , m_originalRequest(std::move(request))
    , m_core(std::move(core))
    , m_currentRequest(m_originalRequest)
    , m_transfer(std::make_unique<UrlTransfer>())
{
}

UrlSessionDataTask::~UrlSessionDataTask() = default;

UrlRequest UrlSessionDataTask::currentRequest() const
{
    std::lock_guard lock(m_mutex);
    return m_currentRequest;
}

std::optional<UrlResponse> UrlSessionDataTask::response() const
{
    std::lock_guard lock(m_mutex);
    return m_response;
}

std::optional<UrlError> UrlSessionDataTask::error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

std::int64_t UrlSessionDataTask::countOfBytesExpectedToReceive() const
{
    std::lock_guard lock(m_mutex);
    return m_response ? m_response->expectedContentLength : -1;
}

void UrlSessionDataTask::setPriority(float priority)
{
    m_priority = std::isnan(priority) ? urlSessionTaskPriorityDefault : std::clamp(priority, 0.0f, 1.0f);
}

void UrlSessionDataTask::resume()
{
    State expected = State::suspended;
    if (!m_state.compare_exchange_strong(expected, State::running))
        return;
    auto core = m_core.lock();
    if (!core) {
        std::lock_guard lock(m_mutex);
        m_error = makeError(UrlError::cancelled, m_originalRequest.url);
        m_state = State::completed;
        return;
    }
    core->post([core, task = shared_from_this()] { core->startTask(task); });
}

void UrlSessionDataTask::cancel()
{
    State state = m_state.load();
    do {
        if (state == State::completed || state == State::canceling)
            return;
    } while (!m_state.compare_exchange_weak(state, State::canceling));
    auto core = m_core.lock();
    if (!core) {
        std::lock_guard lock(m_mutex);
        m_error = makeError(UrlError::cancelled, m_originalRequest.url);
        m_state = State::completed;
        return;
    }
    core->post([core, task = shared_from_this()] {
        if (!core->shuttingDown)
            core->fail(task, UrlError::cancelled);
    });
}

// UrlSession

UrlSession::UrlSession(std::shared_ptr<UrlSessionCore> core)
    : m_core(std::move(core))
{
}

UrlSession::~UrlSession() = default;

std::shared_ptr<UrlSession> UrlSession::create(
    UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate)
{
    auto core = std::make_shared<UrlSessionCore>(configuration);
    std::shared_ptr<UrlSession> session(new UrlSession(core));
    core->delegate = delegate ? std::move(delegate) : std::make_shared<UrlSessionDelegate>();
    core->self = session;
    core->thread = new QThread;
    core->thread->setObjectName(QStringLiteral("UrlSession"));
    adoptNetworkThread(core->thread);
    core->worker = new NetworkWorker(core);
    core->worker->moveToThread(core->thread);
    core->thread->start();
    core->post([core = std::weak_ptr<UrlSessionCore>(core)] {
        if (auto locked = core.lock())
            locked->setUp();
    });
    registerCore(core);
    return session;
}

std::shared_ptr<UrlSessionDataTask> UrlSession::dataTask(const UrlRequest& request)
{
    std::shared_ptr<UrlSessionDataTask> task(new UrlSessionDataTask(m_core, request));
    std::lock_guard lock(m_core->mutex);
    if (m_core->invalidated) {
        // No thread is left to run it; it completes as cancelled, without messages, when resumed.
        task->m_core.reset();
        return task;
    }
    task->m_transfer->createdAfterInvalidation = m_core->invalidating;
    m_core->liveTasks.insert(task);
    return task;
}

void UrlSession::invalidateAndCancel()
{
    {
        std::lock_guard lock(m_core->mutex);
        if (m_core->invalidating && m_core->cancelOnInvalidate)
            return;
        m_core->invalidating = true;
        m_core->cancelOnInvalidate = true;
    }
    m_core->post([core = m_core] { core->beginInvalidation(true); });
}

void UrlSession::finishTasksAndInvalidate()
{
    {
        std::lock_guard lock(m_core->mutex);
        if (m_core->invalidating)
            return;
        m_core->invalidating = true;
    }
    m_core->post([core = m_core] { core->beginInvalidation(false); });
}

const UrlSessionConfiguration& UrlSession::configuration() const
{
    return m_core->configuration;
}

std::shared_ptr<UrlSessionDelegate> UrlSession::delegate() const
{
    std::lock_guard lock(m_core->mutex);
    return m_core->delegate;
}

bool UrlSession::isNetworkThread() const
{
    return QThread::currentThread() == m_core->thread;
}

} // namespace platform
