#pragma once

#include <functional>
#include <memory>

namespace platform {

// A repeating timer whose callback runs on the main thread, whichever thread scheduled it. It keeps
// firing every `interval` seconds until it is invalidated or the last handle to it is dropped.
class Timer {
public:
    using Block = std::function<void()>;

    // Schedules a repeating timer. `intervalSeconds` below a millisecond fires every millisecond.
    static std::shared_ptr<Timer> scheduledRepeating(double intervalSeconds, Block block);

    // As above, with a callback that holds `target` weakly: once the target is gone the timer does
    // nothing when it fires.
    template<typename Target>
    static std::shared_ptr<Timer> scheduledRepeating(
        double intervalSeconds, const std::shared_ptr<Target>& target, std::function<void(Target&)> block)
    {
        return scheduledRepeating(
            intervalSeconds, [weakTarget = std::weak_ptr<Target>(target), block = std::move(block)] {
                if (std::shared_ptr<Target> strong = weakTarget.lock())
                    block(*strong);
            });
    }

    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // Stops the timer; safe from any thread. A firing already running on the main thread finishes.
    void invalidate();
    bool isValid() const;
    double interval() const { return m_intervalSeconds; }

private:
    struct State;
    Timer(double intervalSeconds, std::shared_ptr<State> state);

    double m_intervalSeconds;
    std::shared_ptr<State> m_state;
};

} // namespace platform
