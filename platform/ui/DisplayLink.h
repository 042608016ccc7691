#pragma once

#include <QPointer>
#include <QString>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QScreen;

namespace platform {

// Modes a display link is scheduled in. Qt event loops have no modes: every mode behaves as the
// common one, so the modes are kept only to answer what was registered.
using RunLoopMode = QString;
inline const RunLoopMode commonRunLoopModes = QStringLiteral("common");

// The event loop of a thread, where a display link performs its calls.
class RunLoop {
public:
    static RunLoop main();
    static RunLoop current();

    // Null once the thread has ended.
    QThread* thread() const { return m_thread; }
    // Runs `work` on this loop's next pass; dropped when the thread has no event loop or has ended.
    void perform(std::function<void()> work) const;

    bool operator==(const RunLoop& other) const { return m_thread == other.m_thread; }

private:
    explicit RunLoop(QThread* thread)
        : m_thread(thread)
    {
    }

    // A run loop may be kept after its thread ends (a thread Qt adopted is deleted as it ends).
    QPointer<QThread> m_thread;
};

// Removes every entry equal to `mode` from `modes`, keeping the order of the rest.
void removeRunLoopMode(std::vector<RunLoopMode>& modes, const RunLoopMode& mode);

// What a display link hands to its output handling; `hostTime` is steady-clock nanoseconds.
struct DisplayLinkTimeStamp {
    std::uint64_t hostTime = 0;
    std::int32_t videoTimeScale = 0;
    std::int64_t videoRefreshPeriod = 0;
    std::int64_t videoTime = 0;
};

// What a display link calls once per screen refresh.
class DisplayLinkTarget {
public:
    virtual ~DisplayLinkTarget() = default;
    virtual void onScreenUpdate() = 0;
};

// A source of per-refresh calls, as the animated image view uses one.
class DisplayLinkCompatible {
public:
    virtual ~DisplayLinkCompatible() = default;

    virtual bool isPaused() const = 0;
    virtual void setPaused(bool paused) = 0;
    // 0: the display's own rate.
    virtual int preferredFramesPerSecond() const = 0;
    // Seconds of the last refresh; 0 before the first.
    virtual double timestamp() const = 0;
    // The refresh period in seconds; 0 until known.
    virtual double duration() const = 0;
    virtual void add(const RunLoop& runLoop, const RunLoopMode& mode) = 0;
    virtual void remove(const RunLoop& runLoop, const RunLoopMode& mode) = 0;
    // Stops for good.
    virtual void invalidate() = 0;
};

// Calls its target once per refresh of a screen, from a precise timer on the main thread that keeps
// in phase with the screen's refresh rate (a refresh that is missed is skipped, not made up). Each
// call is performed on the run loops the link is scheduled on. The first refresh after it starts only
// primes `timestamp` and `duration`. Main thread only.
class DisplayLink final : public DisplayLinkCompatible {
public:
    // Paused, with no schedule. Follows `screen`'s refresh rate, or the primary screen's; 60 Hz when a
    // screen reports no usable rate.
    explicit DisplayLink(std::shared_ptr<DisplayLinkTarget> target, QScreen* screen = nullptr);
    ~DisplayLink() override;
    DisplayLink(const DisplayLink&) = delete;
    DisplayLink& operator=(const DisplayLink&) = delete;

    bool isPaused() const override { return m_paused; }
    // Ignored once invalidated: a dead link never wakes the program again.
    void setPaused(bool paused) override;
    int preferredFramesPerSecond() const override { return 0; }
    double timestamp() const override { return m_timestamp; }
    double duration() const override { return m_duration; }
    // Adding a mode twice keeps it twice.
    void add(const RunLoop& runLoop, const RunLoopMode& mode) override;
    // Removes every equal mode; a run loop left with none is dropped.
    void remove(const RunLoop& runLoop, const RunLoopMode& mode) override;
    void invalidate() override;

    bool isRunning() const { return m_timer.isActive(); }
    const std::vector<std::pair<RunLoop, std::vector<RunLoopMode>>>& schedulers() const
    {
        return m_schedulers;
    }
    // The refresh rate it follows now, in hertz.
    double refreshRate() const;

    // One refresh: sets `duration` from the stamp (when its time scale is not 0), performs the call
    // on every scheduled run loop once a refresh has been seen, and records the time stamp.
    void handleOutput(const DisplayLinkTimeStamp& stamp);

private:
    void tick();
    void scheduleNextTick();

    std::shared_ptr<DisplayLinkTarget> m_target;
    QPointer<QScreen> m_screen;
    std::vector<std::pair<RunLoop, std::vector<RunLoopMode>>> m_schedulers;
    bool m_paused = true;
    bool m_invalidated = false;
    double m_timestamp = 0;
    double m_duration = 0;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_nextRefresh;
};

} // namespace platform
