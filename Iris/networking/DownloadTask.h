#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace iris {

class RetrievalCancellation;
class SessionDataTask;

// The handle of one download request: the transfer it waits on and its token within it. Copies
// refer to the same request. A task the retrieval manager hands out also refers to the retrieval
// it serves, so that cancelling it calls off the retrieval too, whatever it does by then (another
// attempt, a wait before a retry).
struct DownloadTask {
    std::shared_ptr<SessionDataTask> sessionTask;
    std::int64_t cancelToken = 0;
    std::shared_ptr<RetrievalCancellation> retrieval;

    // Cancels this request alone: it completes with `taskCancelled`, and the transfer stops once no
    // request waits on it. Does nothing when the request has already been answered or cancelled.
    void cancel() const;

    // What a load started: a download (with its task, when one was started) or a data provider's
    // read.
    struct WrappedTask;
};

struct DownloadTask::WrappedTask {
    enum class Kind { download, dataProviding };
    Kind kind = Kind::dataProviding;
    std::optional<DownloadTask> downloadTask;

    static WrappedTask download(std::optional<DownloadTask> task) { return { Kind::download, std::move(task) }; }
    static WrappedTask dataProviding() { return { Kind::dataProviding, std::nullopt }; }
    // The task for the caller: the download's, nothing for a provider.
    std::optional<DownloadTask> value() const { return downloadTask; }
    // A provider's read has nothing to cancel.
    void cancel() const
    {
        if (downloadTask)
            downloadTask->cancel();
    }
};

} // namespace iris
