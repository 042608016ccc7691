#pragma once

#include <cmath>
#include <compare>
#include <functional>
#include <memory>

namespace platform {

// A point in time: seconds (with fraction) since 2001-01-01 00:00:00 UTC, as a double.
class Date {
public:
    static constexpr double unixEpochOffsetSeconds = 978307200.0;
    static constexpr double distantFutureSeconds = 63113904000.0;
    static constexpr double distantPastSeconds = -63114076800.0;

    constexpr Date() = default;
    constexpr explicit Date(double secondsSinceReferenceDate)
        : m_seconds(secondsSinceReferenceDate)
    {
    }

    // The current time from the process clock (see `Clock`).
    static Date now();
    static constexpr Date distantFuture() { return Date(distantFutureSeconds); }
    static constexpr Date distantPast() { return Date(distantPastSeconds); }
    static constexpr Date fromUnixSeconds(double seconds) { return Date(seconds - unixEpochOffsetSeconds); }

    constexpr double timeIntervalSinceReferenceDate() const { return m_seconds; }
    constexpr double timeIntervalSince1970() const { return m_seconds + unixEpochOffsetSeconds; }
    constexpr double timeIntervalSince(Date other) const { return m_seconds - other.m_seconds; }
    double timeIntervalSinceNow() const { return m_seconds - now().m_seconds; }
    constexpr Date addingTimeInterval(double seconds) const { return Date(m_seconds + seconds); }

    constexpr auto operator<=>(const Date&) const = default;

private:
    double m_seconds = 0;
};

// Where `Date::now()` comes from. Tests install a manual clock to drive time without sleeping.
class Clock {
public:
    using Source = std::function<Date()>;

    // The wall clock (system time).
    static Date systemNow();

    // Replaces the process clock; an empty source restores the wall clock.
    static void setSource(Source source);
};

} // namespace platform
