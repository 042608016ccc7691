#include "Iris/utility/CallbackQueue.h"

#include <cassert>

namespace iris {

void CallbackQueue::execute(std::function<void()> callback) const
{
    switch (m_kind) {
    case Kind::mainAsync:
        platform::DispatchQueue::main()->async(std::move(callback));
        return;
    case Kind::mainCurrentOrAsync:
        if (platform::DispatchQueue::isMainThread())
            callback();
        else
            platform::DispatchQueue::main()->async(std::move(callback));
        return;
    case Kind::untouch:
        callback();
        return;
    case Kind::dispatch:
        assert(m_queue);
        // Posted even from the queue itself: the callback never runs inside the caller's work item.
        m_queue->async(std::move(callback));
        return;
    }
}

} // namespace iris
