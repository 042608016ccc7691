#pragma once

#include "Iris/networking/SessionDataTask.h"

#include "platform/foundation/UrlSessionDelegate.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace iris {

using UrlResponseOrError = platform::Result<platform::UrlResponse, IrisError>;
using SessionChallenge
    = std::tuple<platform::UrlSession*, platform::UrlAuthenticationChallenge, platform::UrlChallengeHandler>;
using SessionTaskChallenge = std::tuple<platform::UrlSession*, std::shared_ptr<platform::UrlSessionDataTask>,
    platform::UrlAuthenticationChallenge, platform::UrlChallengeHandler>;

// The delegate of a downloader's URL session. It keeps the running transfers by URL, applies the
// fixed rules (HTTP only, status check, byte intake, completion, redirects) and hands every
// decision that belongs to its owner to the hooks below. A hook that gives no answer (nothing
// bound, or its owner gone) counts as the negative answer: the status is rejected, the response
// cancelled, no data delivered, a challenge handled by default.
class SessionDelegate : public platform::UrlSessionDelegate,
                        public std::enable_shared_from_this<SessionDelegate> {
public:
    SessionDelegate() = default;

    Delegate<int, bool> onValidStatusCode;
    Delegate<std::pair<platform::UrlResponse, platform::UrlResponseDispositionHandler>, std::monostate>
        onResponseReceived;
    Delegate<std::pair<QUrl, UrlResponseOrError>, std::monostate> onDownloadingFinished;
    Delegate<std::shared_ptr<SessionDataTask>, std::optional<QByteArray>> onDidDownloadData;
    Delegate<SessionChallenge, std::monostate> onReceiveSessionChallenge;
    Delegate<SessionTaskChallenge, std::monostate> onReceiveSessionTaskChallenge;

    std::shared_ptr<SessionDataTask> taskForURL(const QUrl& url) const;

    // Joins the open transfer registered for `url`, or registers the one `makeTask` builds, in one
    // critical section, so that concurrent first requests share one transfer and nothing joins a
    // transfer that has already ended. `makeTask` runs under the lock: it must not call back here.
    // The bool tells whether the transfer is new. Nothing when `makeTask` gave no task.
    std::optional<std::pair<DownloadTask, bool>> addOrJoinTask(const QUrl& url,
        const std::function<std::shared_ptr<SessionDataTask>()>& makeTask, TaskCallback callback);

    // Takes `task` out of the tables, if it is still the one registered (a newer transfer for the
    // same URL is left alone).
    void removeTask(const std::shared_ptr<SessionDataTask>& task);

    // Stops new requests joining the transfers registered so far; they still end and answer their
    // own requests. Used when the session they belong to is replaced.
    void retireAllTasks();

    // Every registered transfer, open or retired.
    std::vector<std::shared_ptr<SessionDataTask>> allTasks() const;

    void cancelAll();
    void cancelURL(const QUrl& url);

    // Ends the transfer of `sessionTask` with `result`: takes its waiting requests, tells them
    // through the task's `onTaskDone` and unregisters it.
    void completeTask(
        const std::shared_ptr<platform::UrlSessionDataTask>& sessionTask, DownloadResult result);

    std::shared_ptr<SessionDataTask> taskForSessionTask(
        const platform::UrlSessionDataTask& sessionTask) const;

    // The session's messages.
    void didReceiveResponse(platform::UrlSession&, const std::shared_ptr<platform::UrlSessionDataTask>&,
        const platform::UrlResponse&, platform::UrlResponseDispositionHandler completion) override;
    void didReceiveData(platform::UrlSession&, const std::shared_ptr<platform::UrlSessionDataTask>&,
        const QByteArray&) override;
    void didComplete(platform::UrlSession&, const std::shared_ptr<platform::UrlSessionDataTask>&,
        const std::optional<platform::UrlError>&) override;
    void willPerformHttpRedirection(platform::UrlSession&,
        const std::shared_ptr<platform::UrlSessionDataTask>&, const platform::UrlResponse& response,
        const platform::UrlRequest& proposed, platform::UrlRedirectHandler completion) override;
    void didReceiveChallenge(platform::UrlSession&, const platform::UrlAuthenticationChallenge&,
        platform::UrlChallengeHandler completion) override;
    void didReceiveTaskChallenge(platform::UrlSession&, const std::shared_ptr<platform::UrlSessionDataTask>&,
        const platform::UrlAuthenticationChallenge&, platform::UrlChallengeHandler completion) override;

    // How a URL is keyed in the table: its exact encoded text.
    static QString keyFor(const QUrl& url) { return QString::fromUtf8(url.toEncoded()); }

private:
    void handleCallbackCancelled(const std::shared_ptr<SessionDataTask>& task, TaskCallback callback);
    void removeTaskLocked(const std::shared_ptr<SessionDataTask>& task);

    mutable std::mutex m_lock;
    // The open transfers by URL: the ones a new request may join.
    std::unordered_map<QString, std::shared_ptr<SessionDataTask>> m_tasks;
    // Every registered transfer by its platform task, which is how the session's messages find it.
    std::unordered_map<const platform::UrlSessionDataTask*, std::shared_ptr<SessionDataTask>> m_bySessionTask;
};

// A URL session error as the image library reports it.
platform::PlatformError platformErrorFromUrlError(const platform::UrlError& error);

} // namespace iris
