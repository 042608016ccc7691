#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace iris {

class SessionDataTask;
struct WrappedDownloadTask;

// The handle of one download request: the transfer it waits on and its token within it. Copies
// refer to the same request.
struct DownloadTask {
    using WrappedTask = WrappedDownloadTask;

    std::shared_ptr<SessionDataTask> sessionTask;
    std::int64_t cancelToken = 0;

    // Cancels this request alone: it completes with `taskCancelled`, and the transfer stops once no
    // request waits on it. Does nothing when the request has already been answered or cancelled.
    void cancel() const;
};

// The running work of a retrieval: a download, which can be cancelled, or a data-provider load,
// which cannot.
struct WrappedDownloadTask {
    std::optional<DownloadTask> download;

    static WrappedDownloadTask downloading(DownloadTask task) { return { std::move(task) }; }
    static WrappedDownloadTask dataProviding() { return { std::nullopt }; }

    bool isDataProviding() const { return !download.has_value(); }
    void cancel() const
    {
        if (download)
            download->cancel();
    }
};

} // namespace iris
