#include "platform/foundation/AssociatedObjects.h"

#include <utility>

namespace platform {

std::any AssociatedObjects::associatedObject(const void* key) const
{
    std::lock_guard lock(m_associatedMutex);
    auto found = m_associatedObjects.find(key);
    return found == m_associatedObjects.end() ? std::any() : found->second;
}

void AssociatedObjects::setAssociatedObject(const void* key, std::any value)
{
    std::any previous;
    {
        std::lock_guard lock(m_associatedMutex);
        if (!value.has_value()) {
            auto found = m_associatedObjects.find(key);
            if (found != m_associatedObjects.end()) {
                previous = std::move(found->second);
                m_associatedObjects.erase(found);
            }
        } else {
            std::any& slot = m_associatedObjects[key];
            previous = std::exchange(slot, std::move(value));
        }
    }
    // The old value is destroyed outside the lock: its destructor may reach back into this object.
}

} // namespace platform
