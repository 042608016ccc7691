#include "Iris/cache/MemoryStorage.h"

#include "Iris/IrisTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace iris;
using platform::Date;

namespace {

// A cached value whose cost is its own field.
struct Picture {
    int id = 0;
    std::int64_t cost = 1;
};

} // namespace

template<> struct iris::CacheCostCalculable<Picture> {
    static std::int64_t cacheCost(const Picture& picture) { return picture.cost; }
};

namespace {

using Backend = MemoryStorage::Backend<Picture>;

std::shared_ptr<Backend> makeBackend(std::int64_t costLimit = 0, double cleanInterval = 3600)
{
    return Backend::make(MemoryStorage::Config(costLimit, cleanInterval));
}

} // namespace

TEST(MemoryStorage, ConfigDefaults)
{
    MemoryStorage::Config config(100, 120);
    EXPECT_EQ(config.totalCostLimit, 100);
    EXPECT_EQ(config.countLimit, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(config.expiration, StorageExpiration::seconds(300));
    EXPECT_EQ(config.cleanInterval, 120);
    EXPECT_FALSE(config.keepWhenEnteringBackground);
}

TEST(MemoryStorage, AnExpiredStoreKeepsNothing)
{
    iristest::ManualClock clock(Date(5000));
    auto backend = makeBackend();
    backend->storeValue(Picture { 1 }, "kept");
    for (StorageExpiration expiration : { StorageExpiration::expired(), StorageExpiration::seconds(0),
             StorageExpiration::date(clock.now().addingTimeInterval(-1)) }) {
        backend->storeValue(Picture { 2 }, "kept", expiration);
        backend->storeValue(Picture { 3 }, "new", expiration);
        EXPECT_EQ(backend->readValue("kept")->id, 1);
        EXPECT_FALSE(backend->containsValue("new"));
    }
    EXPECT_EQ(backend->keys(), (std::set<QString> { "kept" }));
}

TEST(MemoryStorage, ReadsExtendByCacheTimeAndContainsDoesNot)
{
    iristest::ManualClock clock(Date(5000));
    auto backend = makeBackend();
    backend->storeValue(Picture { 1 }, "a");
    EXPECT_EQ(backend->storageObject("a")->estimatedExpiration(), Date(5300));

    clock.advance(100);
    EXPECT_TRUE(backend->containsValue("a"));
    EXPECT_EQ(backend->storageObject("a")->estimatedExpiration(), Date(5300));

    EXPECT_EQ(backend->readValue("a")->id, 1);
    EXPECT_EQ(backend->storageObject("a")->estimatedExpiration(), Date(5400));

    backend->readValue("a", ExpirationExtending::expirationTime(StorageExpiration::seconds(10)));
    EXPECT_EQ(backend->storageObject("a")->estimatedExpiration(), Date(5110));
    // The stored expiration is still the default one.
    backend->readValue("a", ExpirationExtending::cacheTime());
    EXPECT_EQ(backend->storageObject("a")->estimatedExpiration(), Date(5400));
    backend->readValue("a", ExpirationExtending::none());
    EXPECT_EQ(backend->storageObject("a")->estimatedExpiration(), Date(5400));
}

TEST(MemoryStorage, AnExpiredEntryReadsAbsentUntilTheCleanRemovesIt)
{
    iristest::ManualClock clock(Date(5000));
    auto backend = makeBackend();
    backend->storeValue(Picture { 1 }, "short", StorageExpiration::seconds(10));
    backend->storeValue(Picture { 2 }, "long");
    clock.advance(10);
    EXPECT_EQ(backend->readValue("short"), std::nullopt);
    EXPECT_EQ(backend->keys().count("short"), 1u);
    backend->removeExpired();
    EXPECT_EQ(backend->keys(), (std::set<QString> { "long" }));
    EXPECT_EQ(backend->storageObject("short"), nullptr);
}

TEST(MemoryStorage, LeastRecentlyUsedGoesFirstOverTheCostLimit)
{
    auto backend = makeBackend(10);
    backend->storeValue(Picture { 1, 4 }, "one");
    backend->storeValue(Picture { 2, 4 }, "two");
    EXPECT_TRUE(backend->readValue("one"));
    backend->storeValue(Picture { 3, 4 }, "three");
    EXPECT_TRUE(backend->containsValue("one"));
    EXPECT_FALSE(backend->containsValue("two"));
    EXPECT_TRUE(backend->containsValue("three"));
    // The evicted key leaves the key set with its entry, not at the next clean.
    EXPECT_EQ(backend->keys(), (std::set<QString> { "one", "three" }));

    // A value that alone costs more than the limit is not kept, nor is its key.
    backend->storeValue(Picture { 4, 11 }, "huge");
    EXPECT_FALSE(backend->containsValue("huge"));
    EXPECT_TRUE(backend->containsValue("one"));
    EXPECT_EQ(backend->keys(), (std::set<QString> { "one", "three" }));
}

// Between two cleans the key set holds no more keys than the cache holds entries, however many
// values pass through it, whichever way they are evicted.
TEST(MemoryStorage, EvictedKeysNeverPileUpBetweenCleans)
{
    auto backend = makeBackend(10);
    for (int i = 0; i < 1000; ++i)
        backend->storeValue(Picture { i, 3 }, QString::number(i));
    EXPECT_EQ(backend->keys(), (std::set<QString> { "997", "998", "999" }));

    backend->modifyConfig([](MemoryStorage::Config& config) { config.countLimit = 1; });
    EXPECT_EQ(backend->keys(), (std::set<QString> { "999" }));

    backend->modifyConfig([](MemoryStorage::Config& config) { config.countLimit = 0; });
    EXPECT_TRUE(backend->reserve(10));
    EXPECT_TRUE(backend->keys().empty());
    backend->releaseReservation(10);
}

// A zero, negative or not-a-number interval means no timed clean at all, never one that fires every
// millisecond; a positive one keeps its timer.
TEST(MemoryStorage, AnIntervalThatIsNotPositiveSchedulesNoClean)
{
    for (double interval : { 0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity() })
        EXPECT_FALSE(Backend::hasTimedClean(interval)) << interval;
    EXPECT_TRUE(Backend::hasTimedClean(0.001));
    EXPECT_TRUE(Backend::hasTimedClean(120));

    for (double interval : { 0.0, -5.0, std::nan("") })
        EXPECT_FALSE(makeBackend(0, interval)->isCleaningOnTimer()) << interval;
    EXPECT_TRUE(makeBackend(0, 120)->isCleaningOnTimer());

    // Without a timed clean, an expired entry still reads as absent and goes when asked.
    iristest::ManualClock clock(Date(5000));
    auto backend = makeBackend(0, 0);
    backend->storeValue(Picture { 1 }, "a", StorageExpiration::seconds(1));
    clock.advance(2);
    EXPECT_FALSE(backend->containsValue("a"));
    backend->removeExpired();
    EXPECT_TRUE(backend->keys().empty());
}

// Room held for values on their way in counts against the cost limit: holding it drops the least
// recently used values, later stores keep what is stored and what is held within the limit, and
// holds never add up to more than the limit.
TEST(MemoryStorage, ReservedRoomCountsAgainstTheCostLimit)
{
    auto backend = makeBackend(10);
    backend->storeValue(Picture { 1, 4 }, "a");
    backend->storeValue(Picture { 2, 4 }, "b");
    backend->readValue("a");
    ASSERT_TRUE(backend->reserve(4));
    EXPECT_FALSE(backend->containsValue("b"));
    EXPECT_TRUE(backend->containsValue("a"));
    EXPECT_EQ(backend->totalCost() + backend->reservedCost(), 8);

    backend->storeValue(Picture { 3, 4 }, "c");
    EXPECT_LE(backend->totalCost() + backend->reservedCost(), 10);
    EXPECT_TRUE(backend->containsValue("c"));
    EXPECT_FALSE(backend->containsValue("a"));

    EXPECT_FALSE(backend->reserve(7)) << "the holds alone would be over the limit";
    EXPECT_EQ(backend->reservedCost(), 4);
    EXPECT_TRUE(backend->containsValue("c")) << "a refused hold drops nothing";
    backend->releaseReservation(4);
    EXPECT_TRUE(backend->reserve(7));
    EXPECT_FALSE(backend->containsValue("c"));
    backend->releaseReservation(7);
    EXPECT_EQ(backend->reservedCost(), 0);

    // Without a cost limit, room is always there and nothing is dropped.
    auto unlimited = makeBackend(0);
    unlimited->storeValue(Picture { 1, 4 }, "a");
    EXPECT_TRUE(unlimited->reserve(1000));
    EXPECT_TRUE(unlimited->containsValue("a"));
}

TEST(MemoryStorage, CountLimitAndConfigChangesApplyAtOnce)
{
    auto backend = makeBackend();
    for (int i = 0; i < 5; ++i)
        backend->storeValue(Picture { i, 100 }, QString::number(i));
    backend->modifyConfig([](MemoryStorage::Config& config) { config.countLimit = 2; });
    EXPECT_FALSE(backend->containsValue("2"));
    EXPECT_TRUE(backend->containsValue("3"));
    EXPECT_TRUE(backend->containsValue("4"));
    auto config = backend->config();
    config.totalCostLimit = 100;
    config.cleanInterval = 1;
    backend->setConfig(config);
    EXPECT_EQ(backend->config().totalCostLimit, 100);
    EXPECT_EQ(int(backend->containsValue("3")) + int(backend->containsValue("4")), 1);
}

TEST(MemoryStorage, RemoveValueAndRemoveAll)
{
    auto backend = makeBackend();
    backend->storeValue(Picture { 1 }, "a");
    backend->storeValue(Picture { 2 }, "b");
    backend->removeValue("a");
    EXPECT_FALSE(backend->containsValue("a"));
    EXPECT_EQ(backend->keys(), (std::set<QString> { "b" }));
    backend->removeAll();
    EXPECT_FALSE(backend->containsValue("b"));
    EXPECT_TRUE(backend->keys().empty());
}

TEST(MemoryStorage, BackgroundKeepingEntriesCanBeDiscarded)
{
    auto backend = makeBackend();
    backend->modifyConfig([](MemoryStorage::Config& config) { config.keepWhenEnteringBackground = true; });
    backend->storeValue(Picture { 1 }, "a");
    auto entry = std::dynamic_pointer_cast<MemoryStorage::BackgroundKeepingStorageObject<Picture>>(
        backend->storageObject("a"));
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->isAccessing());
    EXPECT_TRUE(entry->beginContentAccess());
    entry->discardContentIfPossible();
    EXPECT_TRUE(entry->isContentDiscarded());
    EXPECT_FALSE(entry->beginContentAccess());
    EXPECT_EQ(backend->readValue("a"), std::nullopt);
}

TEST(MemoryStorage, CleanTimerDropsExpiredKeysInTheEventLoop)
{
    auto backend = makeBackend(0, 0.01);
    backend->storeValue(
        Picture { 1 }, "expiring", StorageExpiration::date(Date::now().addingTimeInterval(0.05)));
    backend->storeValue(Picture { 2 }, "staying");
    ASSERT_TRUE(testsupport::waitUntil([&] { return backend->keys().count("expiring") == 0; }));
    EXPECT_EQ(backend->keys(), (std::set<QString> { "staying" }));
    EXPECT_EQ(backend->storageObject("expiring"), nullptr);
}

TEST(MemoryStorage, CleanTimerDoesNotKeepTheBackendAlive)
{
    auto backend = makeBackend(0, 0.001);
    std::weak_ptr<Backend> weak = backend;
    backend.reset();
    EXPECT_TRUE(weak.expired());
    // Events for the dead backend's timer are harmless.
    int ticks = 0;
    auto timer = platform::Timer::scheduledRepeating(0.001, [&] { ++ticks; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return ticks >= 3; }));
}
