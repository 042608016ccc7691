#pragma once

#include <cstdint>

namespace iris {

// How far a retrieval has come, in bytes; handed to a view's placeholder. Main thread only.
class Progress {
public:
    std::int64_t totalUnitCount() const { return m_total; }
    std::int64_t completedUnitCount() const { return m_completed; }
    void setTotalUnitCount(std::int64_t total) { m_total = total; }
    void setCompletedUnitCount(std::int64_t completed) { m_completed = completed; }
    // 0 while the total is unknown (0 or less).
    double fractionCompleted() const
    {
        return m_total > 0 ? static_cast<double>(m_completed) / static_cast<double>(m_total) : 0.0;
    }

private:
    std::int64_t m_total = 0;
    std::int64_t m_completed = 0;
};

} // namespace iris
