#pragma once

#include "platform/foundation/Date.h"

#include <atomic>
#include <memory>

namespace iristest {

// Installs a clock that stands still until moved, and restores the wall clock when destroyed. The
// time is shared with the installed source: a worker thread (another cache's clean) that took the
// source just before it was restored may still read it after the clock is gone.
class ManualClock {
public:
    explicit ManualClock(platform::Date start)
        : m_seconds(std::make_shared<std::atomic<double>>(start.timeIntervalSinceReferenceDate()))
    {
        platform::Clock::setSource([seconds = m_seconds] { return platform::Date(seconds->load()); });
    }
    ~ManualClock() { platform::Clock::setSource({}); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    platform::Date now() const { return platform::Date(m_seconds->load()); }
    void set(platform::Date date) { *m_seconds = date.timeIntervalSinceReferenceDate(); }
    void advance(double seconds) { *m_seconds = m_seconds->load() + seconds; }

private:
    std::shared_ptr<std::atomic<double>> m_seconds;
};

} // namespace iristest
