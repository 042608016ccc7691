#pragma once

#include "platform/foundation/DispatchQueue.h"

#include <functional>
#include <memory>
#include <stdexcept>

namespace iris {

// Where a completion runs.
class CallbackQueue {
public:
    enum class Kind {
        mainAsync, // always posted to the main queue
        mainCurrentOrAsync, // at once when already on the main thread, else posted to the main queue
        untouch, // at once, on the calling thread
        dispatch, // always posted to the given queue
    };

    static CallbackQueue mainAsync() { return CallbackQueue(Kind::mainAsync, nullptr); }
    static CallbackQueue mainCurrentOrAsync() { return CallbackQueue(Kind::mainCurrentOrAsync, nullptr); }
    static CallbackQueue untouch() { return CallbackQueue(Kind::untouch, nullptr); }
    // A null queue is a programming error: throws std::invalid_argument here, where it is made,
    // rather than stopping the program when a callback is first due on it.
    static CallbackQueue dispatch(std::shared_ptr<platform::DispatchQueue> queue)
    {
        if (!queue)
            throw std::invalid_argument("[Iris] A dispatch callback queue needs a queue; a null one is not permitted.");
        return CallbackQueue(Kind::dispatch, std::move(queue));
    }

    Kind kind() const { return m_kind; }
    // The queue of a `dispatch` value; null for the other kinds.
    const std::shared_ptr<platform::DispatchQueue>& queue() const { return m_queue; }

    // Runs `callback` exactly once, where this value says.
    void execute(std::function<void()> callback) const;

private:
    CallbackQueue(Kind kind, std::shared_ptr<platform::DispatchQueue> queue)
        : m_kind(kind)
        , m_queue(std::move(queue))
    {
    }

    Kind m_kind;
    std::shared_ptr<platform::DispatchQueue> m_queue;
};

inline void runCallback(const CallbackQueue& queue, std::function<void()> callback)
{
    queue.execute(std::move(callback));
}

} // namespace iris
