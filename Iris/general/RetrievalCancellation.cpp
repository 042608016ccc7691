#include "Iris/general/RetrievalCancellation.h"

#include <utility>

namespace iris {

void RetrievalCancellation::cancel()
{
    std::function<void()> onCancel;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
        onCancel = std::exchange(m_onCancel, nullptr);
    }
    // Outside the lock: the action may end the retrieval at once, and its completion may cancel.
    if (onCancel)
        onCancel();
}

bool RetrievalCancellation::isCancelled() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool RetrievalCancellation::hasEnded() const
{
    std::lock_guard lock(m_mutex);
    return m_cancelled || m_finished;
}

bool RetrievalCancellation::enter(std::uint64_t stage, std::function<void()> onCancel)
{
    std::function<void()> dropped;
    std::lock_guard lock(m_mutex);
    if (m_cancelled)
        return false;
    if (m_finished || stage < m_stage)
        return true;
    m_stage = stage;
    // Let go of after the lock is released: the old action may hold the last reference to state
    // whose destruction cancels.
    dropped = std::exchange(m_onCancel, std::move(onCancel));
    return true;
}

std::uint64_t RetrievalCancellation::nextStage()
{
    std::lock_guard lock(m_mutex);
    return ++m_issued;
}

void RetrievalCancellation::finish()
{
    std::function<void()> dropped;
    std::lock_guard lock(m_mutex);
    m_finished = true;
    dropped = std::exchange(m_onCancel, nullptr);
}

} // namespace iris
