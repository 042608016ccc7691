#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace platform {
class UrlSession;
}

namespace iris {

class SessionDataTask;

// Told of each chunk of bytes a download receives. The session layer passes, with the chunk, the
// length the task has accumulated so far and the response's expected length (-1 when the length is
// unknown or there is no response yet), so that side effects need not reach into the task.
class DataReceivingSideEffect {
public:
    virtual ~DataReceivingSideEffect() = default;

    virtual std::function<bool()> onShouldApply() const = 0;
    virtual void setOnShouldApply(std::function<bool()> gate) = 0;

    virtual void reportReceivedData(platform::UrlSession* session,
        const std::shared_ptr<SessionDataTask>& task, const QByteArray& chunk, std::int64_t accumulatedLength,
        std::int64_t expectedContentLength)
        = 0;
    // Told once the download has received all its bytes, on the session's thread, before its
    // completion runs: work still waiting for its bytes can be dropped, since the completion shows
    // the whole image. Not told of a failed download, which a retry may continue.
    virtual void reportDownloadFinished() { }
};

using DownloadProgressBlock = std::function<void(std::int64_t receivedSize, std::int64_t totalSize)>;

// Reports download progress to a block on the main queue.
class ImageLoadingProgressSideEffect final : public DataReceivingSideEffect {
public:
    explicit ImageLoadingProgressSideEffect(DownloadProgressBlock block);

    std::function<bool()> onShouldApply() const override;
    void setOnShouldApply(std::function<bool()> gate) override;
    const DownloadProgressBlock& block() const { return m_block; }

    void reportReceivedData(platform::UrlSession* session, const std::shared_ptr<SessionDataTask>& task,
        const QByteArray& chunk, std::int64_t accumulatedLength, std::int64_t expectedContentLength) override;

private:
    mutable std::mutex m_mutex;
    std::function<bool()> m_onShouldApply;
    const DownloadProgressBlock m_block;
};

} // namespace iris
