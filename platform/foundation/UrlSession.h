#pragma once

#include "platform/foundation/UrlRequest.h"
#include "platform/foundation/UrlSessionConfiguration.h"
#include "platform/foundation/UrlSessionDelegate.h"
#include "platform/foundation/UrlSessionTask.h"

#include <memory>

namespace platform {

struct UrlSessionCore;

// A URL session over QNetworkAccessManager. Each session has a network thread of its own: the
// manager lives there, and every delegate message runs there (it is the session's serial delegate
// queue). Only http and https are loaded; redirects are followed by the session itself, only to
// http and https, dropping credentials when they leave the origin.
//
// A session keeps itself and its delegate alive until it is invalidated: call `invalidateAndCancel`
// or `finishTasksAndInvalidate` when done with it. (One never invalidated is stopped when the
// application object goes.)
class UrlSession {
public:
    static std::shared_ptr<UrlSession> create(
        UrlSessionConfiguration configuration, std::shared_ptr<UrlSessionDelegate> delegate);

    ~UrlSession();
    UrlSession(const UrlSession&) = delete;
    UrlSession& operator=(const UrlSession&) = delete;

    // A new suspended task for `request`. After invalidation the task still exists but completes with
    // `cancelled` when resumed.
    std::shared_ptr<UrlSessionDataTask> dataTask(const UrlRequest& request);

    // Cancels every task; once all have completed, the delegate is told `didBecomeInvalid`. Any
    // thread; returns at once.
    void invalidateAndCancel();
    // Lets the tasks made so far run to their end (suspended ones included, once resumed), then
    // invalidates. Any thread; returns at once.
    void finishTasksAndInvalidate();

    const UrlSessionConfiguration& configuration() const;
    // The delegate, until invalidation has finished.
    std::shared_ptr<UrlSessionDelegate> delegate() const;
    // Whether the caller runs on this session's network thread (inside a delegate message).
    bool isNetworkThread() const;

private:
    explicit UrlSession(std::shared_ptr<UrlSessionCore> core);
    std::shared_ptr<UrlSessionCore> m_core;
};

} // namespace platform
