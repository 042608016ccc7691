#include "Iris/cache/StorageExpiration.h"

#include "Iris/IrisTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

using iris::StorageExpiration;
using platform::Date;

TEST(StorageExpiration, ExpiredAndEstimate)
{
    iristest::ManualClock clock(Date(1000.25));
    const Date now = clock.now();
    struct Case {
        const char* name;
        StorageExpiration expiration;
        bool expired;
        Date estimate;
    };
    const Case cases[] = {
        { "seconds(300)", StorageExpiration::seconds(300), false, now.addingTimeInterval(300) },
        { "seconds(0)", StorageExpiration::seconds(0), true, now },
        { "seconds(-1)", StorageExpiration::seconds(-1), true, now.addingTimeInterval(-1) },
        { "days(7)", StorageExpiration::days(7), false, now.addingTimeInterval(604800) },
        { "days(0)", StorageExpiration::days(0), true, now },
        { "days(-1)", StorageExpiration::days(-1), true, now.addingTimeInterval(-86400) },
        { "date(+1)", StorageExpiration::date(now.addingTimeInterval(1)), false, now.addingTimeInterval(1) },
        { "date(now)", StorageExpiration::date(now), true, now },
        { "date(-5)", StorageExpiration::date(now.addingTimeInterval(-5)), true, now.addingTimeInterval(-5) },
        { "never", StorageExpiration::never(), false, Date::distantFuture() },
        { "expired", StorageExpiration::expired(), true, Date::distantPast() },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expiration.isExpired(), c.expired) << c.name;
        EXPECT_EQ(c.expiration.estimatedExpirationSinceNow(), c.estimate) << c.name;
    }
}

TEST(StorageExpiration, NotANumberIsNotExpired)
{
    EXPECT_FALSE(StorageExpiration::seconds(std::numeric_limits<double>::quiet_NaN()).isExpired());
}
