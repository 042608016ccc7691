#include "Iris/cache/StorageExpiration.h"

#include <limits>

namespace iris {

namespace {
constexpr double secondsPerDay = 86400.0;
}

double StorageExpiration::timeInterval() const
{
    switch (m_kind) {
    case Kind::seconds:
        return m_seconds;
    case Kind::days:
        return static_cast<double>(m_days) * secondsPerDay;
    case Kind::date:
        return m_date.timeIntervalSinceNow();
    case Kind::never:
        return std::numeric_limits<double>::infinity();
    case Kind::expired:
        return -std::numeric_limits<double>::infinity();
    }
    return 0;
}

platform::Date StorageExpiration::estimatedExpirationSince(platform::Date now) const
{
    switch (m_kind) {
    case Kind::seconds:
        return now.addingTimeInterval(m_seconds);
    case Kind::days:
        return now.addingTimeInterval(static_cast<double>(m_days) * secondsPerDay);
    case Kind::date:
        return m_date;
    case Kind::never:
        return platform::Date::distantFuture();
    case Kind::expired:
        return platform::Date::distantPast();
    }
    return now;
}

} // namespace iris
