#pragma once

#include "platform/foundation/Date.h"

#include <atomic>

namespace iristest {

// Installs a clock that stands still until moved, and restores the wall clock when destroyed.
class ManualClock {
public:
    explicit ManualClock(platform::Date start)
        : m_seconds(start.timeIntervalSinceReferenceDate())
    {
        platform::Clock::setSource([this] { return now(); });
    }
    ~ManualClock() { platform::Clock::setSource({}); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    platform::Date now() const { return platform::Date(m_seconds.load()); }
    void set(platform::Date date) { m_seconds = date.timeIntervalSinceReferenceDate(); }
    void advance(double seconds) { m_seconds = m_seconds.load() + seconds; }

private:
    std::atomic<double> m_seconds;
};

} // namespace iristest
