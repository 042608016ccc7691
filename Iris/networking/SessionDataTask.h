#pragma once

#include "Iris/general/IrisError.h"
#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/networking/DownloadTask.h"
#include "Iris/networking/ImageLoadingResult.h"
#include "Iris/utility/Delegate.h"

#include "platform/foundation/Result.h"
#include "platform/foundation/UrlResponse.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

namespace platform {
class UrlSessionDataTask;
}

namespace iris {

// The bytes of a finished transfer and its response (absent when the session gave none).
struct DownloadedData {
    QByteArray data;
    std::optional<platform::UrlResponse> response;
};
using DownloadResult = platform::Result<DownloadedData, IrisError>;

// One platform transfer, shared by every image request for its URL. It gathers the bytes received
// so far and the waiting requests, each under a token counted from 0 that is never reused.
//
// Once the transfer ends (or its last request is cancelled) the task is closed: its requests are
// taken in the same step, and a request that comes later cannot join it (it starts a new transfer),
// so no request is ever left waiting on a task that will not answer.
class SessionDataTask : public std::enable_shared_from_this<SessionDataTask> {
public:
    // One waiting request. `token` is set when the callback is added.
    struct TaskCallback {
        DownloadCompletion onCompleted;
        IrisParsedOptionsInfo options;
        std::int64_t token = -1;
    };
    using Callbacks = std::vector<TaskCallback>;

    explicit SessionDataTask(std::shared_ptr<platform::UrlSessionDataTask> task);

    // The bytes received so far, shared rather than copied. While the transfer runs, a share held
    // across the next chunk makes that chunk's append copy every byte before it: readers that come
    // back at each chunk use `readReceivedData` instead.
    QByteArray mutableData() const;
    std::int64_t receivedLength() const;
    // Runs `read` on the bytes received so far, in place. The view lives only for the call (it holds
    // the data lock, so the next chunk waits): `read` copies out what it keeps and should cost what
    // the bytes it has not seen before cost.
    void readReceivedData(const std::function<void(QByteArrayView)>& read) const;
    // Bytes of earlier chunks copied to make room for later ones. A transfer whose length was
    // declared, read only through `readReceivedData` while it runs, copies none.
    std::int64_t relocatedBytes() const;
    const std::optional<QUrl>& originalURL() const { return m_originalURL; }
    const std::shared_ptr<platform::UrlSessionDataTask>& task() const { return m_task; }

    // The token of the added callback; nothing when the task is closed.
    std::optional<std::int64_t> addCallback(TaskCallback callback);
    std::optional<TaskCallback> removeCallback(std::int64_t token);
    // The waiting requests in token order, so the last one is the latest to join.
    Callbacks callbacks() const;
    bool containsCallbacks() const;
    void removeAllCallbacks();

    // Closes the task and takes every waiting request, in one step.
    Callbacks closeAndTakeCallbacks();
    // Closes the task when no request waits on it; whether it did.
    bool closeIfEmpty();
    bool isClosed() const;

    // Whether the caller is the one that starts the transfer: true exactly once.
    bool claimStart() { return !m_started.exchange(true); }
    bool started() const { return m_started.load(); }
    // Starts the platform transfer once; later calls do nothing.
    void resume();

    // `expectedLength` is the length the response declared (-1: none); the first chunk reserves
    // room for it, up to a bound, so that the bytes are not moved as they accumulate.
    void didReceiveData(const QByteArray& chunk, std::int64_t expectedLength = -1);

    // Cancels every waiting request, one by one, each through `onCallbackCancelled`.
    void cancelAllCallbacks();

    QString description() const;

    // Fired when the transfer ends for a set of requests (all of them, or one cancelled request).
    Delegate<std::pair<DownloadResult, Callbacks>, std::monostate> onTaskDone;
    // Fired when one request has been taken out by cancellation.
    Delegate<TaskCallback, std::monostate> onCallbackCancelled;

private:
    const std::shared_ptr<platform::UrlSessionDataTask> m_task;
    const std::optional<QUrl> m_originalURL;
    std::atomic<bool> m_started { false };
    std::atomic<bool> m_resumed { false };

    mutable std::mutex m_dataMutex;
    QByteArray m_data;
    std::int64_t m_relocatedBytes = 0;

    mutable std::mutex m_mutex;
    std::map<std::int64_t, TaskCallback> m_callbacksStore;
    std::int64_t m_currentToken = 0;
    bool m_closed = false;
};

using TaskCallback = SessionDataTask::TaskCallback;

} // namespace iris
