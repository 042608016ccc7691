#pragma once

#include <functional>
#include <mutex>

namespace iris {

// Decides when a store step's completion may run: at once, or only once the image store (and the
// original write, when there is one) has finished. The trigger fires exactly once.
class CacheCallbackCoordinator {
public:
    enum class State { idle, imageCached, originalImageCached, done };
    enum class Action { storeStarted, imageStored, originalStored };

    CacheCallbackCoordinator(bool shouldWaitForCache, bool shouldCacheOriginal)
        : m_shouldWaitForCache(shouldWaitForCache)
        , m_shouldCacheOriginal(shouldCacheOriginal)
    {
    }

    bool shouldWaitForCache() const { return m_shouldWaitForCache; }
    bool shouldCacheOriginal() const { return m_shouldCacheOriginal; }
    State state() const;

    // Advances the state; calls `trigger` on the calling thread, outside the lock, when this action
    // is the one that reaches `done`. Reading, deciding and writing the state is one step, so two
    // actions arriving together on two threads cannot both act on the old state.
    void applyCacheAction(Action action, const std::function<void()>& trigger);

private:
    const bool m_shouldWaitForCache;
    const bool m_shouldCacheOriginal;
    mutable std::mutex m_mutex;
    State m_state = State::idle;
};

} // namespace iris
