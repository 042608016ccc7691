#pragma once

#include "platform/foundation/Date.h"

#include <cstdint>
#include <variant>

namespace iris {

// How long a cached value lives once stored or touched.
class StorageExpiration {
public:
    enum class Kind { seconds, days, date, never, expired };

    static StorageExpiration seconds(double seconds)
    {
        return StorageExpiration(Kind::seconds, seconds, 0, {});
    }
    static StorageExpiration days(std::int64_t days) { return StorageExpiration(Kind::days, 0, days, {}); }
    static StorageExpiration date(platform::Date date) { return StorageExpiration(Kind::date, 0, 0, date); }
    static StorageExpiration never() { return StorageExpiration(Kind::never, 0, 0, {}); }
    static StorageExpiration expired() { return StorageExpiration(Kind::expired, 0, 0, {}); }

    Kind kind() const { return m_kind; }

    // Seconds from now until expiry: negative when already past, infinite for `never` and `expired`.
    double timeInterval() const;

    // Whether the lifetime has run out already. Not-a-number counts as not expired.
    bool isExpired() const { return timeInterval() <= 0.0; }

    // When the lifetime runs out, counted from now.
    platform::Date estimatedExpirationSinceNow() const
    {
        return estimatedExpirationSince(platform::Date::now());
    }
    // When the lifetime runs out, counted from `now` (for callers that have just read the clock).
    platform::Date estimatedExpirationSince(platform::Date now) const;

    bool operator==(const StorageExpiration&) const = default;

private:
    StorageExpiration(Kind kind, double seconds, std::int64_t days, platform::Date date)
        : m_kind(kind)
        , m_seconds(seconds)
        , m_days(days)
        , m_date(date)
    {
    }

    Kind m_kind;
    double m_seconds;
    std::int64_t m_days;
    platform::Date m_date;
};

// What a read does to a cached value's lifetime.
class ExpirationExtending {
public:
    enum class Kind {
        none, // unchanged
        cacheTime, // restarted from now with the value's own stored expiration
        expirationTime, // restarted from now with the given expiration (the stored one stays)
    };

    static ExpirationExtending none() { return ExpirationExtending(Kind::none, StorageExpiration::never()); }
    static ExpirationExtending cacheTime()
    {
        return ExpirationExtending(Kind::cacheTime, StorageExpiration::never());
    }
    static ExpirationExtending expirationTime(StorageExpiration expiration)
    {
        return ExpirationExtending(Kind::expirationTime, expiration);
    }

    Kind kind() const { return m_kind; }
    // The expiration of an `expirationTime` value.
    const StorageExpiration& expiration() const { return m_expiration; }

    bool operator==(const ExpirationExtending&) const = default;

private:
    ExpirationExtending(Kind kind, StorageExpiration expiration)
        : m_kind(kind)
        , m_expiration(expiration)
    {
    }

    Kind m_kind;
    StorageExpiration m_expiration;
};

} // namespace iris
