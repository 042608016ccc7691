#include "Iris/views/ImageTaskSlot.h"

#include "Iris/general/RetrievalCancellation.h"

#include <QObject>

#include <utility>

namespace iris {

std::shared_ptr<ImageTaskSlot> ImageTaskSlot::of(platform::AssociatedObjects& target, AssociatedKey key)
{
    if (std::shared_ptr<ImageTaskSlot> slot = existing(target, key))
        return slot;
    auto slot = std::make_shared<ImageTaskSlot>();
    setAssociatedValue(target, key, std::optional(slot));
    return slot;
}

std::shared_ptr<ImageTaskSlot> ImageTaskSlot::of(
    QObject& target, platform::AssociatedObjects& state, AssociatedKey key)
{
    if (std::shared_ptr<ImageTaskSlot> slot = existing(state, key))
        return slot;
    std::shared_ptr<ImageTaskSlot> slot = of(state, key);
    QObject::connect(&target, &QObject::destroyed, [weak = std::weak_ptr<ImageTaskSlot>(slot)] {
        if (std::shared_ptr<ImageTaskSlot> strong = weak.lock())
            strong->targetDestroyed();
    });
    return slot;
}

std::shared_ptr<ImageTaskSlot> ImageTaskSlot::existing(
    const platform::AssociatedObjects& target, AssociatedKey key)
{
    return getAssociatedValue<std::shared_ptr<ImageTaskSlot>>(target, key).value_or(nullptr);
}

std::optional<std::uint64_t> ImageTaskSlot::taskIdentifier() const
{
    std::lock_guard lock(m_mutex);
    return m_taskIdentifier;
}

void ImageTaskSlot::setTaskIdentifier(std::optional<std::uint64_t> identifier)
{
    std::lock_guard lock(m_mutex);
    if (m_taskIdentifier == identifier)
        return;
    m_taskIdentifier = identifier;
    m_cancellation.reset();
}

void ImageTaskSlot::begin(std::uint64_t identifier, std::shared_ptr<RetrievalCancellation> cancellation)
{
    std::lock_guard lock(m_mutex);
    m_taskIdentifier = identifier;
    m_cancellation = std::move(cancellation);
}

std::optional<DownloadTask> ImageTaskSlot::imageTask() const
{
    std::lock_guard lock(m_mutex);
    return m_imageTask;
}

void ImageTaskSlot::setImageTask(std::optional<DownloadTask> task)
{
    std::lock_guard lock(m_mutex);
    m_imageTask = std::move(task);
}

bool ImageTaskSlot::isCurrent(std::uint64_t identifier) const
{
    std::lock_guard lock(m_mutex);
    return m_taskIdentifier == identifier;
}

void ImageTaskSlot::setImageTaskIfCurrent(std::uint64_t identifier, std::optional<DownloadTask> task)
{
    std::lock_guard lock(m_mutex);
    if (m_taskIdentifier == identifier)
        m_imageTask = std::move(task);
}

bool ImageTaskSlot::finishIfCurrent(std::uint64_t identifier)
{
    std::lock_guard lock(m_mutex);
    if (m_taskIdentifier != identifier)
        return false;
    m_imageTask.reset();
    m_taskIdentifier.reset();
    m_cancellation.reset();
    return true;
}

void ImageTaskSlot::targetDestroyed()
{
    std::optional<DownloadTask> running;
    std::shared_ptr<RetrievalCancellation> cancellation;
    {
        std::lock_guard lock(m_mutex);
        m_taskIdentifier.reset();
        running = std::exchange(m_imageTask, std::nullopt);
        cancellation = std::exchange(m_cancellation, nullptr);
    }
    // Cancelled outside the lock: the request's completion may run at once and read the slot.
    if (running)
        running->cancel();
    if (cancellation)
        cancellation->cancel();
}

} // namespace iris
