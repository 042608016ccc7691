#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace iris {

// The switch by which a whole retrieval is called off, across all of its attempts: the download
// under way, a wait for the retry strategy, a data provider's read still waiting its turn. The
// manager tells it, stage by stage, what calling off means at that point; the caller only cancels.
// Safe from any thread.
class RetrievalCancellation {
public:
    // Cancels once: the first call runs what the current stage left, later calls do nothing. The
    // stage's action runs on the calling thread, outside the lock.
    void cancel();
    bool isCancelled() const;
    // Cancelled, or finished with its answer decided: nothing more of it may reach the caller.
    bool hasEnded() const;

    // Enters stage `stage` of the retrieval, whose cancelling runs `onCancel`. Stages only move
    // forward: an earlier stage entered late (an attempt whose failure arrived before its start was
    // recorded) changes nothing. False, with nothing kept, when the retrieval is already cancelled.
    bool enter(std::uint64_t stage, std::function<void()> onCancel);
    // The next stage number, for a stage about to start.
    std::uint64_t nextStage();
    // The retrieval has ended: nothing is left to cancel, and what the last stage held is let go.
    void finish();

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    bool m_finished = false;
    std::uint64_t m_stage = 0;
    std::uint64_t m_issued = 0;
    std::function<void()> m_onCancel;
};

} // namespace iris
