#include "Iris/general/CacheCallbackCoordinator.h"

namespace iris {

CacheCallbackCoordinator::State CacheCallbackCoordinator::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

void CacheCallbackCoordinator::applyCacheAction(Action action, const std::function<void()>& trigger)
{
    bool fire = false;
    {
        std::lock_guard lock(m_mutex);
        switch (m_state) {
        case State::idle:
            switch (action) {
            case Action::storeStarted:
                if (!m_shouldWaitForCache) {
                    m_state = State::done;
                    fire = true;
                }
                break;
            case Action::imageStored:
                if (m_shouldCacheOriginal) {
                    m_state = State::imageCached;
                } else {
                    m_state = State::done;
                    fire = true;
                }
                break;
            case Action::originalStored:
                m_state = State::originalImageCached;
                break;
            }
            break;
        case State::imageCached:
            if (action == Action::originalStored) {
                m_state = State::done;
                fire = true;
            }
            break;
        case State::originalImageCached:
            if (action == Action::imageStored) {
                m_state = State::done;
                fire = true;
            }
            break;
        case State::done:
            break;
        }
    }
    if (fire && trigger)
        trigger();
}

} // namespace iris
