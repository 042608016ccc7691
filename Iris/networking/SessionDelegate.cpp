#include "Iris/networking/SessionDelegate.h"

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/networking/RedirectHandler.h"

#include "platform/foundation/UrlSession.h"
#include "platform/foundation/UrlSessionTask.h"

namespace iris {

namespace {

using platform::UrlResponse;
using platform::UrlSessionResponseDisposition;
using ResponseReason = IrisError::ResponseErrorReason;

ErrorObject<UrlResponse> responseObject(const UrlResponse& response)
{
    QString text = QString::fromUtf8(response.url.toEncoded());
    if (response.isHttp)
        text += QStringLiteral(" (HTTP %1)").arg(response.statusCode);
    return { std::make_shared<const UrlResponse>(response), text };
}

ErrorObject<SessionDataTask> taskObject(const std::shared_ptr<SessionDataTask>& task)
{
    return ErrorObject<SessionDataTask>::of(task);
}

} // namespace

platform::PlatformError platformErrorFromUrlError(const platform::UrlError& error)
{
    platform::PlatformError result { urlErrorDomain, error.code, error.description, nullptr };
    if (result.description.isEmpty())
        result.description = QStringLiteral("URL loading failed with code %1").arg(error.code);
    if (!error.failingUrl.isEmpty())
        result.description += QStringLiteral(" (") + QString::fromUtf8(error.failingUrl.toEncoded()) + u')';
    if (error.networkUnavailableReason) {
        result.underlying = std::make_shared<const platform::PlatformError>(platform::PlatformError {
            networkUnavailableReasonDomain, static_cast<int>(*error.networkUnavailableReason),
            QStringLiteral("network unavailable"), nullptr });
    }
    return result;
}

std::shared_ptr<SessionDataTask> SessionDelegate::taskForURL(const QUrl& url) const
{
    std::lock_guard lock(m_lock);
    auto found = m_tasks.find(keyFor(url));
    return found == m_tasks.end() ? nullptr : found->second;
}

std::optional<std::pair<DownloadTask, bool>> SessionDelegate::addOrJoinTask(
    const QUrl& url, const std::function<std::shared_ptr<SessionDataTask>()>& makeTask, TaskCallback callback)
{
    const QString key = keyFor(url);
    std::lock_guard lock(m_lock);
    if (auto found = m_tasks.find(key); found != m_tasks.end()) {
        // A closed transfer refuses the callback; the request then gets a transfer of its own.
        if (std::optional<std::int64_t> token = found->second->addCallback(callback))
            return std::make_pair(DownloadTask { found->second, *token }, false);
    }
    std::shared_ptr<SessionDataTask> task = makeTask();
    if (!task)
        return std::nullopt;
    std::weak_ptr<SessionDataTask> weakTask = task;
    task->onCallbackCancelled.delegate<SessionDelegate>(
        shared_from_this(), [weakTask](SessionDelegate& self, TaskCallback cancelled) {
            if (std::shared_ptr<SessionDataTask> strong = weakTask.lock())
                self.handleCallbackCancelled(strong, std::move(cancelled));
            return std::monostate {};
        });
    const std::int64_t token = *task->addCallback(std::move(callback));
    if (auto previous = m_tasks.find(key); previous != m_tasks.end())
        m_tasks.erase(previous);
    m_tasks.emplace(key, task);
    m_bySessionTask[task->task().get()] = task;
    return std::make_pair(DownloadTask { task, token }, true);
}

void SessionDelegate::removeTask(const std::shared_ptr<SessionDataTask>& task)
{
    std::lock_guard lock(m_lock);
    removeTaskLocked(task);
}

void SessionDelegate::removeTaskLocked(const std::shared_ptr<SessionDataTask>& task)
{
    task->removeAllCallbacks();
    if (task->originalURL()) {
        auto found = m_tasks.find(keyFor(*task->originalURL()));
        if (found != m_tasks.end() && found->second == task)
            m_tasks.erase(found);
    }
    auto bySession = m_bySessionTask.find(task->task().get());
    if (bySession != m_bySessionTask.end() && bySession->second == task)
        m_bySessionTask.erase(bySession);
}

void SessionDelegate::retireAllTasks()
{
    std::lock_guard lock(m_lock);
    m_tasks.clear();
}

std::vector<std::shared_ptr<SessionDataTask>> SessionDelegate::allTasks() const
{
    std::lock_guard lock(m_lock);
    std::vector<std::shared_ptr<SessionDataTask>> result;
    result.reserve(m_bySessionTask.size());
    for (const auto& entry : m_bySessionTask)
        result.push_back(entry.second);
    return result;
}

void SessionDelegate::cancelAll()
{
    for (const std::shared_ptr<SessionDataTask>& task : allTasks())
        task->cancelAllCallbacks();
}

void SessionDelegate::cancelURL(const QUrl& url)
{
    if (std::shared_ptr<SessionDataTask> task = taskForURL(url))
        task->cancelAllCallbacks();
}

void SessionDelegate::handleCallbackCancelled(
    const std::shared_ptr<SessionDataTask>& task, TaskCallback callback)
{
    const std::int64_t token = callback.token;
    SessionDataTask::Callbacks cancelled;
    cancelled.push_back(std::move(callback));
    task->onTaskDone({ DownloadResult::failure(IrisError::requestError(
                           IrisError::RequestErrorReason::taskCancelled(taskObject(task), token))),
        std::move(cancelled) });

    // The check and the removal form one step under the lock, so a request cannot join between them.
    std::lock_guard lock(m_lock);
    if (!task->closeIfEmpty())
        return;
    task->task()->cancel();
    removeTaskLocked(task);
}

std::shared_ptr<SessionDataTask> SessionDelegate::taskForSessionTask(
    const platform::UrlSessionDataTask& sessionTask) const
{
    std::lock_guard lock(m_lock);
    auto found = m_bySessionTask.find(&sessionTask);
    if (found == m_bySessionTask.end()
        || found->second->task()->taskIdentifier() != sessionTask.taskIdentifier())
        return nullptr;
    return found->second;
}

void SessionDelegate::completeTask(
    const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask, DownloadResult result)
{
    std::shared_ptr<SessionDataTask> task = taskForSessionTask(*sessionTask);
    if (!task)
        return;
    SessionDataTask::Callbacks callbacks = task->closeAndTakeCallbacks();
    task->onTaskDone({ std::move(result), std::move(callbacks) });
    removeTask(task);
}

void SessionDelegate::didReceiveResponse(platform::UrlSession&,
    const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask, const UrlResponse& response,
    platform::UrlResponseDispositionHandler completion)
{
    if (!taskForSessionTask(*sessionTask)) {
        // Nobody waits for this transfer any more.
        completion(UrlSessionResponseDisposition::cancel);
        return;
    }
    if (!response.isHttp) {
        completeTask(sessionTask,
            DownloadResult::failure(
                IrisError::responseError(ResponseReason::invalidURLResponse(responseObject(response)))));
        completion(UrlSessionResponseDisposition::cancel);
        return;
    }
    const std::optional<bool> valid = onValidStatusCode(response.statusCode);
    if (!valid.value_or(false)) {
        completeTask(sessionTask,
            DownloadResult::failure(IrisError::responseError(
                ResponseReason::invalidHTTPStatusCode(responseObject(response), response.statusCode))));
        completion(UrlSessionResponseDisposition::cancel);
        return;
    }
    auto answered = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<SessionDelegate> weakSelf = weak_from_this();
    platform::UrlResponseDispositionHandler inspected
        = [weakSelf, sessionTask, response, completion, answered](UrlSessionResponseDisposition disposition) {
              if (answered->exchange(true))
                  return;
              if (disposition == UrlSessionResponseDisposition::cancel) {
                  if (auto self = weakSelf.lock())
                      self->completeTask(sessionTask,
                          DownloadResult::failure(IrisError::responseError(
                              ResponseReason::cancelledByDelegate(responseObject(response)))));
              }
              completion(disposition);
          };
    if (!onResponseReceived({ response, inspected }))
        inspected(UrlSessionResponseDisposition::cancel);
}

void SessionDelegate::didReceiveData(platform::UrlSession& session,
    const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask, const QByteArray& chunk)
{
    std::shared_ptr<SessionDataTask> task = taskForSessionTask(*sessionTask);
    if (!task)
        return;
    const std::optional<UrlResponse> response = sessionTask->response();
    const std::int64_t expected = response ? response->expectedContentLength : -1;
    task->didReceiveData(chunk, expected);
    const SessionDataTask::Callbacks callbacks = task->callbacks();
    if (callbacks.empty())
        return;
    const std::int64_t accumulated = task->receivedLength();
    for (const TaskCallback& callback : callbacks) {
        if (!callback.options.onDataReceived)
            continue;
        for (const std::shared_ptr<DataReceivingSideEffect>& effect : *callback.options.onDataReceived) {
            if (effect)
                effect->reportReceivedData(&session, task, chunk, accumulated, expected);
        }
    }
}

void SessionDelegate::didComplete(platform::UrlSession&,
    const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask,
    const std::optional<platform::UrlError>& error)
{
    std::shared_ptr<SessionDataTask> task = taskForSessionTask(*sessionTask);
    if (!task)
        return;
    // A response without a declared length gives its side effects no other sign that the last
    // byte is in. A failed download may be retried with the same side effects, which then go on.
    for (const TaskCallback& callback : task->callbacks()) {
        if (error || !callback.options.onDataReceived)
            continue;
        for (const std::shared_ptr<DataReceivingSideEffect>& effect : *callback.options.onDataReceived) {
            if (effect)
                effect->reportDownloadFinished();
        }
    }
    const std::optional<UrlResponse> response = sessionTask->response();
    auto sessionFailure = [&] {
        return IrisError::responseError(ResponseReason::URLSessionError(platformErrorFromUrlError(*error)));
    };
    if (task->originalURL()) {
        UrlResponseOrError finishing = error ? UrlResponseOrError::failure(sessionFailure())
            : response                       ? UrlResponseOrError::success(*response)
                                             : UrlResponseOrError::failure(
                                                 IrisError::responseError(ResponseReason::noURLResponse(taskObject(task))));
        onDownloadingFinished({ *task->originalURL(), std::move(finishing) });
    }
    std::optional<DownloadResult> delivery;
    if (error) {
        delivery = DownloadResult::failure(sessionFailure());
    } else if (std::optional<QByteArray> data = onDidDownloadData(task)) {
        delivery = DownloadResult::success(DownloadedData { std::move(*data), response });
    } else {
        delivery = DownloadResult::failure(
            IrisError::responseError(ResponseReason::dataModifyingFailed(taskObject(task))));
    }
    completeTask(sessionTask, std::move(*delivery));
}

void SessionDelegate::willPerformHttpRedirection(platform::UrlSession&,
    const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask, const UrlResponse& response,
    const platform::UrlRequest& proposed, platform::UrlRedirectHandler completion)
{
    std::shared_ptr<SessionDataTask> task = taskForSessionTask(*sessionTask);
    if (task) {
        // The latest request that brought a handler decides; one that joined later without a handler
        // does not silently override it.
        const SessionDataTask::Callbacks callbacks = task->callbacks();
        for (auto it = callbacks.rbegin(); it != callbacks.rend(); ++it) {
            if (const auto& handler = it->options.redirectHandler) {
                handler->decideRedirection(task, response, proposed, std::move(completion));
                return;
            }
        }
    }
    completion(proposed);
}

void SessionDelegate::didReceiveChallenge(platform::UrlSession& session,
    const platform::UrlAuthenticationChallenge& challenge, platform::UrlChallengeHandler completion)
{
    if (!onReceiveSessionChallenge({ &session, challenge, completion }))
        completion(platform::UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
}

void SessionDelegate::didReceiveTaskChallenge(platform::UrlSession& session,
    const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask,
    const platform::UrlAuthenticationChallenge& challenge, platform::UrlChallengeHandler completion)
{
    if (!onReceiveSessionTaskChallenge({ &session, sessionTask, challenge, completion }))
        completion(platform::UrlSessionAuthChallengeDisposition::performDefaultHandling, std::nullopt);
}

} // namespace iris
