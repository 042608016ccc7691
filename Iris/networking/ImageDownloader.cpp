#include "Iris/networking/ImageDownloader.h"

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/networking/RequestModifier.h"
#include "Iris/networking/SessionDelegate.h"

#include "platform/foundation/Print.h"
#include "platform/foundation/UrlSession.h"
#include "platform/foundation/UrlSessionTask.h"

#include <cstdlib>

namespace iris {

namespace {

using platform::UrlChallengeHandler;
using platform::UrlSessionAuthChallengeDisposition;

IrisError cancelledError(const std::shared_ptr<SessionDataTask>& task, std::int64_t token)
{
    return IrisError::requestError(
        IrisError::RequestErrorReason::taskCancelled(ErrorObject<SessionDataTask>::of(task), token));
}

void complete(const TaskCallback& callback, ImageLoadingResultOrError result)
{
    if (!callback.onCompleted)
        return;
    runCallback(callback.options.callbackQueue,
        [completion = callback.onCompleted, result = std::move(result)]() mutable {
            completion(std::move(result));
        });
}

} // namespace

std::optional<QByteArray> ImageDownloaderDelegate::modifiedDataForTask(
    ImageDownloader& downloader, const QByteArray& data, const SessionDataTask& task)
{
    if (task.originalURL())
        return modifiedDataForURL(downloader, data, *task.originalURL());
    return data;
}

void AuthenticationChallengeResponsible::answerSessionChallenge(ImageDownloader& downloader,
    const platform::UrlAuthenticationChallenge& challenge, UrlChallengeHandler completion)
{
    const platform::UrlProtectionSpace& space = challenge.protectionSpace;
    if (space.authenticationMethod == platform::UrlAuthenticationMethod::serverTrust && space.serverTrust) {
        if (const std::optional<std::set<QString>> hosts = downloader.trustedHosts()) {
            for (const QString& host : *hosts) {
                // Host names compare without regard to case; the URL layer gives them in lower case.
                if (host.compare(space.host, Qt::CaseInsensitive) == 0) {
                    completion(UrlSessionAuthChallengeDisposition::useCredential,
                        platform::UrlCredential::forTrust(space.serverTrust));
                    return;
                }
            }
        }
    }
    completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
}

ImageDownloader::ImageDownloader(QString name)
    : m_name(std::move(name))
{
    if (m_name.isEmpty()) {
        platform::printError(QStringLiteral("[Iris] You should specify a name for the downloader. A "
                                            "downloader with empty name is not permitted."));
        std::abort();
    }
    m_sessions.delegate = std::make_shared<SessionDelegate>();
    m_sessions.session = platform::UrlSession::create(m_sessionConfiguration, m_sessions.delegate);
}

std::shared_ptr<ImageDownloader> ImageDownloader::create(QString name)
{
    auto downloader = std::make_shared<ImageDownloader>(std::move(name));
    downloader->ensureSetUp();
    return downloader;
}

ImageDownloader::~ImageDownloader()
{
    const auto [sessionDelegate, session] = currentSessions();
    // Requests still waiting are answered rather than dropped: a caller waiting for an answer that
    // never comes would stay "loading" for ever.
    for (const std::shared_ptr<SessionDataTask>& task : sessionDelegate->allTasks()) {
        const SessionDataTask::Callbacks callbacks = task->closeAndTakeCallbacks();
        for (const TaskCallback& callback : callbacks)
            complete(callback, ImageLoadingResultOrError::failure(cancelledError(task, callback.token)));
        task->task()->cancel();
        sessionDelegate->removeTask(task);
    }
    session->invalidateAndCancel();
}

std::shared_ptr<ImageDownloader> ImageDownloader::sharedDownloader()
{
    // Never destroyed: its session must not be torn down after the application object has gone.
    static const auto* shared = new std::shared_ptr<ImageDownloader>(create(QStringLiteral("default")));
    return *shared;
}

double ImageDownloader::downloadTimeout() const
{
    std::lock_guard lock(m_mutex);
    return m_downloadTimeout;
}

void ImageDownloader::setDownloadTimeout(double seconds)
{
    std::lock_guard lock(m_mutex);
    m_downloadTimeout = seconds;
}

std::optional<std::set<QString>> ImageDownloader::trustedHosts() const
{
    std::lock_guard lock(m_mutex);
    return m_trustedHosts;
}

void ImageDownloader::setTrustedHosts(std::optional<std::set<QString>> hosts)
{
    std::lock_guard lock(m_mutex);
    m_trustedHosts = std::move(hosts);
}

platform::UrlSessionConfiguration ImageDownloader::sessionConfiguration() const
{
    std::lock_guard lock(m_mutex);
    return m_sessionConfiguration;
}

void ImageDownloader::setSessionConfiguration(platform::UrlSessionConfiguration configuration)
{
    {
        std::lock_guard lock(m_mutex);
        m_sessionConfiguration = configuration;
    }
    replaceSession(nullptr);
}

std::shared_ptr<SessionDelegate> ImageDownloader::sessionDelegate() const
{
    return currentSessions().delegate;
}

void ImageDownloader::setSessionDelegate(std::shared_ptr<SessionDelegate> delegate)
{
    replaceSession(delegate ? std::move(delegate) : std::make_shared<SessionDelegate>());
}

bool ImageDownloader::requestsUsePipelining() const
{
    std::lock_guard lock(m_mutex);
    return m_requestsUsePipelining;
}

void ImageDownloader::setRequestsUsePipelining(bool use)
{
    std::lock_guard lock(m_mutex);
    m_requestsUsePipelining = use;
}

std::shared_ptr<ImageDownloaderDelegate> ImageDownloader::delegate() const
{
    std::lock_guard lock(m_mutex);
    return m_delegate.lock();
}

void ImageDownloader::setDelegate(const std::shared_ptr<ImageDownloaderDelegate>& delegate)
{
    std::lock_guard lock(m_mutex);
    m_delegate = delegate;
}

std::shared_ptr<AuthenticationChallengeResponsible> ImageDownloader::authenticationChallengeResponder() const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_responderIsSelf)
            return m_responder.lock();
    }
    // Held weakly like any responder: a downloader on its way out answers nothing.
    std::shared_ptr<const ImageDownloader> self = weak_from_this().lock();
    return self ? std::const_pointer_cast<ImageDownloader>(self) : nullptr;
}

void ImageDownloader::setAuthenticationChallengeResponder(
    const std::shared_ptr<AuthenticationChallengeResponsible>& responder)
{
    std::lock_guard lock(m_mutex);
    m_responderIsSelf = false;
    m_responder = responder;
}

ImageDownloader::Sessions ImageDownloader::currentSessions() const
{
    std::lock_guard lock(m_sessionsMutex);
    return m_sessions;
}

void ImageDownloader::replaceSession(std::shared_ptr<SessionDelegate> delegate)
{
    const bool rebindHooks = delegate != nullptr;
    // A new delegate answers for this downloader before its session can carry a request: a response
    // met by unbound hooks would be refused whatever its status.
    if (rebindHooks)
        bindHooks(delegate);
    Sessions old;
    {
        std::lock_guard lock(m_mutex);
        if (!delegate)
            delegate = currentSessions().delegate;
        Sessions fresh { delegate, platform::UrlSession::create(m_sessionConfiguration, delegate) };
        {
            std::lock_guard sessionsLock(m_sessionsMutex);
            old = std::exchange(m_sessions, std::move(fresh));
        }
        // The old session's transfers are about to be cancelled: new requests must not join them.
        // They stay known to the delegate, so their cancellation still answers their own requests.
        // When the delegate stays, a request registering a transfer of the old session holds its
        // lock: this waits for it, so that transfer is retired too.
        delegate->retireAllTasks();
    }
    if (rebindHooks)
        setupSessionHandler();
    old.session->invalidateAndCancel();
}

void ImageDownloader::ensureSetUp()
{
    std::call_once(m_setUp, [this] { setupSessionHandler(); });
}

void ImageDownloader::setupSessionHandler()
{
    bindHooks(sessionDelegate());
}

void ImageDownloader::bindHooks(const std::shared_ptr<SessionDelegate>& hooks)
{
    std::shared_ptr<ImageDownloader> self = shared_from_this();

    hooks->onReceiveSessionChallenge.delegate<ImageDownloader>(
        self, [](ImageDownloader& downloader, SessionChallenge input) {
            auto& [session, challenge, completion] = input;
            if (auto responder = downloader.authenticationChallengeResponder())
                responder->answerSessionChallenge(downloader, challenge, completion);
            else
                completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
            return std::monostate {};
        });
    hooks->onReceiveSessionTaskChallenge.delegate<ImageDownloader>(
        self, [](ImageDownloader& downloader, SessionTaskChallenge input) {
            auto& [session, task, challenge, completion] = input;
            if (auto responder = downloader.authenticationChallengeResponder())
                responder->answerTaskChallenge(downloader, task, challenge, completion);
            else
                completion(UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
            return std::monostate {};
        });
    hooks->onValidStatusCode.delegate<ImageDownloader>(self, [](ImageDownloader& downloader, int code) {
        if (auto delegate = downloader.delegate())
            return delegate->isValidStatusCode(code, downloader);
        return downloader.isValidStatusCode(code, downloader);
    });
    hooks->onResponseReceived.delegate<ImageDownloader>(self,
        [](ImageDownloader& downloader,
            std::pair<platform::UrlResponse, platform::UrlResponseDispositionHandler> input) {
            if (auto delegate = downloader.delegate())
                delegate->decideResponseDisposition(downloader, input.first, std::move(input.second));
            else
                downloader.decideResponseDisposition(downloader, input.first, std::move(input.second));
            return std::monostate {};
        });
    hooks->onDownloadingFinished.delegate<ImageDownloader>(
        self, [](ImageDownloader& downloader, std::pair<QUrl, UrlResponseOrError> input) {
            if (auto delegate = downloader.delegate()) {
                if (input.second.isSuccess())
                    delegate->downloadDidFinish(downloader, input.first, input.second.value(), std::nullopt);
                else
                    delegate->downloadDidFinish(downloader, input.first, std::nullopt, input.second.error());
            }
            return std::monostate {};
        });
    hooks->onDidDownloadData.delegate<ImageDownloader>(self,
        [](ImageDownloader& downloader, std::shared_ptr<SessionDataTask> task) -> std::optional<QByteArray> {
            if (auto delegate = downloader.delegate())
                return delegate->modifiedDataForTask(downloader, task->mutableData(), *task);
            return downloader.modifiedDataForTask(downloader, task->mutableData(), *task);
        });
}

void ImageDownloader::makeDownloadingContext(
    const QUrl& url, const IrisParsedOptionsInfo& options, std::function<void(ContextOrError)> done)
{
    platform::UrlRequest request(
        url, platform::UrlRequestCachePolicy::reloadIgnoringLocalCacheData, downloadTimeout());
    request.httpShouldUsePipelining = requestsUsePipelining();
    if (options.lowDataModeSource)
        request.allowsConstrainedNetworkAccess = false;

    auto checkRequestURL = [options, done](const platform::UrlRequest& finalRequest) {
        if (finalRequest.url.isEmpty() || !finalRequest.url.isValid()
            || finalRequest.url.toEncoded().isEmpty()) {
            auto object = std::make_shared<const platform::UrlRequest>(finalRequest);
            done(ContextOrError::failure(IrisError::requestError(IrisError::RequestErrorReason::invalidURL(
                { object, QString::fromUtf8(finalRequest.url.toEncoded()) }))));
            return;
        }
        done(ContextOrError::success(DownloadingContext { finalRequest.url, finalRequest, options }));
    };

    if (!options.requestModifier) {
        checkRequestURL(request);
        return;
    }
    // A modifier that answers twice must not start two downloads for one request.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    options.requestModifier->modifyRequest(
        request, [answered, done, checkRequestURL](std::optional<platform::UrlRequest> modified) {
            if (answered->exchange(true))
                return;
            if (!modified) {
                done(ContextOrError::failure(
                    IrisError::requestError(IrisError::RequestErrorReason::emptyRequest())));
                return;
            }
            checkRequestURL(*modified);
        });
}

DownloadTask ImageDownloader::addDownloadTask(const DownloadingContext& context, TaskCallback callback)
{
    Sessions sessions = currentSessions();
    std::weak_ptr<ImageDownloader> weakSelf = weak_from_this();
    auto makeTask = [&]() -> std::shared_ptr<SessionDataTask> {
        std::shared_ptr<platform::UrlSessionDataTask> dataTask;
        {
            // A session replaced since it was looked up may already have ended: a transfer made from
            // it would never be heard of again. Made while the session is current, the transfer is
            // one the replacement cancels, which answers its requests.
            std::lock_guard lock(m_sessionsMutex);
            if (m_sessions.session != sessions.session)
                return nullptr;
            dataTask = sessions.session->dataTask(context.request);
        }
        dataTask->setPriority(context.options.downloadPriority);
        auto task = std::make_shared<SessionDataTask>(std::move(dataTask));
        // Bound before the task can be seen by anyone, so no end of it goes unheard. The task is the
        // target (alive whenever it fires); the downloader is reached weakly.
        task->onTaskDone.delegate<SessionDataTask>(task,
            [weakSelf, context](
                SessionDataTask& done, std::pair<DownloadResult, SessionDataTask::Callbacks> input) {
                if (std::shared_ptr<ImageDownloader> self = weakSelf.lock()) {
                    self->handleTaskDone(
                        context, done.shared_from_this(), std::move(input.first), std::move(input.second));
                } else {
                    std::shared_ptr<SessionDataTask> strong = done.shared_from_this();
                    for (const TaskCallback& callback : input.second)
                        complete(callback,
                            ImageLoadingResultOrError::failure(cancelledError(strong, callback.token)));
                }
                return std::monostate {};
            });
        return task;
    };
    for (;;) {
        if (std::optional<std::pair<DownloadTask, bool>> added
            = sessions.delegate->addOrJoinTask(context.url, makeTask, callback))
            return added->first;
        // The session was replaced meanwhile: register with the one that replaced it.
        sessions = currentSessions();
    }
}

DownloadTask ImageDownloader::startDownloadTask(const DownloadingContext& context, TaskCallback callback)
{
    DownloadTask downloadTask = addDownloadTask(context, std::move(callback));
    const std::shared_ptr<SessionDataTask>& task = downloadTask.sessionTask;
    if (!task->claimStart())
        return downloadTask;
    if (auto observer = delegate())
        observer->downloadWillStart(*this, context.url, context.request);
    task->resume();
    return downloadTask;
}

void ImageDownloader::reportDownloadFinished(const DownloadResult& result, const QUrl& url)
{
    std::shared_ptr<ImageDownloaderDelegate> observer = delegate();
    if (!observer)
        return;
    if (result.isSuccess())
        observer->downloadDidFinish(*this, url, result.value().response, std::nullopt);
    else
        observer->downloadDidFinish(*this, url, std::nullopt, result.error());
}

void ImageDownloader::reportImageProcessed(
    const ImageOrError& result, const QUrl& url, const std::optional<platform::UrlResponse>& response)
{
    if (result.isFailure())
        return;
    if (auto observer = delegate())
        observer->imageDidDownload(*this, result.value(), url, response);
}

void ImageDownloader::failCallbacks(const SessionDataTask::Callbacks& callbacks, const IrisError& error)
{
    for (const TaskCallback& callback : callbacks)
        complete(callback, ImageLoadingResultOrError::failure(error));
}

void ImageDownloader::handleTaskDone(const DownloadingContext& context,
    const std::shared_ptr<SessionDataTask>& task, DownloadResult result, SessionDataTask::Callbacks callbacks)
{
    reportDownloadFinished(result, context.url);
    if (result.isFailure()) {
        failCallbacks(callbacks, result.error());
        return;
    }
    DownloadedData downloaded = std::move(result).value();
    auto processor = std::make_shared<ImageDataProcessor>(
        downloaded.data, std::move(callbacks), context.options.processingQueue, task);
    std::weak_ptr<ImageDownloader> weakSelf = weak_from_this();
    processor->onImageProcessed.delegate<ImageDataProcessor>(processor,
        [weakSelf, url = context.url, response = downloaded.response, data = downloaded.data](
            ImageDataProcessor&, std::pair<ImageOrError, TaskCallback> input) {
            if (std::shared_ptr<ImageDownloader> self = weakSelf.lock())
                self->reportImageProcessed(input.first, url, response);
            // A request whose image was made is answered even when the downloader has gone meanwhile.
            if (input.first.isSuccess())
                complete(input.second,
                    ImageLoadingResultOrError::success(
                        ImageLoadingResult { input.first.value(), url, data }));
            else
                complete(input.second, ImageLoadingResultOrError::failure(input.first.error()));
            return std::monostate {};
        });
    processor->startProcessing();
}

std::optional<DownloadTask> ImageDownloader::downloadImage(
    const QUrl& url, const IrisParsedOptionsInfo& options, DownloadCompletion completion)
{
    ensureSetUp();
    struct Holder {
        std::mutex mutex;
        std::optional<DownloadTask> task;
    };
    auto holder = std::make_shared<Holder>();
    std::shared_ptr<ImageDownloader> self = shared_from_this();
    makeDownloadingContext(url, options, [self, holder, options, completion](ContextOrError result) {
        if (result.isFailure()) {
            if (completion)
                runCallback(options.callbackQueue, [completion, error = result.error()] {
                    completion(ImageLoadingResultOrError::failure(error));
                });
            return;
        }
        const DownloadingContext& context = result.value();
        DownloadTask task = self->startDownloadTask(context, TaskCallback { completion, options, -1 });
        {
            std::lock_guard lock(holder->mutex);
            holder->task = task;
        }
        if (options.requestModifier) {
            if (DownloadTaskStartedHandler started = options.requestModifier->taskStartedHandler())
                started(task);
        }
    });
    std::lock_guard lock(holder->mutex);
    return holder->task;
}

std::optional<DownloadTask> ImageDownloader::downloadImage(const QUrl& url,
    const std::optional<IrisOptionsInfo>& options,
    std::function<void(std::int64_t, std::int64_t)> progressBlock, DownloadCompletion completion)
{
    IrisParsedOptionsInfo parsed(options);
    if (progressBlock) {
        if (!parsed.onDataReceived)
            parsed.onDataReceived.emplace();
        parsed.onDataReceived->push_back(
            std::make_shared<ImageLoadingProgressSideEffect>(std::move(progressBlock)));
    }
    return downloadImage(url, parsed, std::move(completion));
}

std::optional<DownloadTask> ImageDownloader::downloadImage(
    const QUrl& url, const std::optional<IrisOptionsInfo>& options, DownloadCompletion completion)
{
    return downloadImage(url, options, nullptr, std::move(completion));
}

void ImageDownloader::cancelDownloads(const QUrl& url)
{
    sessionDelegate()->cancelURL(url);
}

void ImageDownloader::cancelAllDownloads()
{
    sessionDelegate()->cancelAll();
}

} // namespace iris
