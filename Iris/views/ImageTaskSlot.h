#pragma once

#include "Iris/networking/DownloadTask.h"
#include "Iris/utility/AssociatedState.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

class QObject;

namespace iris {

class RetrievalCancellation;

// One image slot of a target (an image view's image, a button's image or alternate image, a text
// attachment's image): the identifier of the request it waits for and the download serving that
// request. The slot is kept on the target under a key of its own and shared with the closures of
// its requests, so they can check identity from any thread without touching the target, and after
// the target is gone. Safe from any thread.
class ImageTaskSlot {
public:
    // The slot kept on `target` under `key`, made on first use.
    static std::shared_ptr<ImageTaskSlot> of(platform::AssociatedObjects& target, AssociatedKey key);
    // The same for a target that can be destroyed while its requests run: once it is, no request is
    // current any more and the running download is cancelled.
    static std::shared_ptr<ImageTaskSlot> of(
        QObject& target, platform::AssociatedObjects& state, AssociatedKey key);
    // The slot if one was made, without making one.
    static std::shared_ptr<ImageTaskSlot> existing(
        const platform::AssociatedObjects& target, AssociatedKey key);

    std::optional<std::uint64_t> taskIdentifier() const;
    // Waiting for another request (or for none) leaves the one waited for until now running: it may
    // still fill the caches.
    void setTaskIdentifier(std::optional<std::uint64_t> identifier);
    // Waits for request `identifier`, which `cancellation` calls off when the target is destroyed.
    void begin(std::uint64_t identifier, std::shared_ptr<RetrievalCancellation> cancellation);
    std::optional<DownloadTask> imageTask() const;
    void setImageTask(std::optional<DownloadTask> task);

    // Whether the slot waits for request `identifier`.
    bool isCurrent(std::uint64_t identifier) const;
    // Stores `task` only while request `identifier` is current, so that a late report from an older
    // request never replaces the task of a newer one.
    void setImageTaskIfCurrent(std::uint64_t identifier, std::optional<DownloadTask> task);
    // Ends request `identifier` when it is current (clears the task, then the identifier); false
    // when it is not.
    bool finishIfCurrent(std::uint64_t identifier);

    void targetDestroyed();

private:
    mutable std::mutex m_mutex;
    std::optional<std::uint64_t> m_taskIdentifier;
    std::optional<DownloadTask> m_imageTask;
    std::shared_ptr<RetrievalCancellation> m_cancellation;
};

} // namespace iris
