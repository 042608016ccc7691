#pragma once

#include "Iris/cache/CacheCostCalculable.h"
#include "Iris/cache/LruCostCache.h"
#include "Iris/cache/StorageExpiration.h"

#include "platform/foundation/Timer.h"

#include <QString>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace iris::MemoryStorage {

struct Config {
    Config(std::int64_t totalCostLimit, double cleanInterval)
        : totalCostLimit(totalCostLimit)
        , cleanInterval(cleanInterval)
    {
    }

    std::int64_t totalCostLimit;
    std::int64_t countLimit = std::numeric_limits<std::int64_t>::max();
    StorageExpiration expiration = StorageExpiration::seconds(300);
    // Seconds between timed cleans of expired entries. Zero, a negative value, not-a-number or
    // infinity schedules no timed clean: expired entries still read as absent and go when evicted,
    // removed, or cleaned by `removeExpired`.
    double cleanInterval;
    bool keepWhenEnteringBackground = false;
};

// One stored value with its lifetime. Reads may move the estimated expiration from several threads
// at once, so it is atomic.
template<typename T> class StorageObject {
public:
    StorageObject(T value, StorageExpiration expiration)
        : m_value(std::move(value))
        , m_expiration(expiration)
        , m_estimatedExpiration(expiration.estimatedExpirationSinceNow().timeIntervalSinceReferenceDate())
    {
    }
    virtual ~StorageObject() = default;

    // The value; absent once discarded.
    virtual std::optional<T> value() const { return m_value; }

    const StorageExpiration& expiration() const { return m_expiration; }

    platform::Date estimatedExpiration() const
    {
        return platform::Date(m_estimatedExpiration.load(std::memory_order_relaxed));
    }

    void extendExpiration(const ExpirationExtending& extending, platform::Date now = platform::Date::now())
    {
        switch (extending.kind()) {
        case ExpirationExtending::Kind::none:
            return;
        case ExpirationExtending::Kind::cacheTime:
            storeEstimate(m_expiration.estimatedExpirationSince(now));
            return;
        case ExpirationExtending::Kind::expirationTime:
            storeEstimate(extending.expiration().estimatedExpirationSince(now));
            return;
        }
    }

    bool isExpired(platform::Date now = platform::Date::now()) const
    {
        return estimatedExpiration().timeIntervalSince(now) <= 0;
    }

protected:
    std::optional<T> m_value;

private:
    void storeEstimate(platform::Date date)
    {
        m_estimatedExpiration.store(date.timeIntervalSinceReferenceDate(), std::memory_order_relaxed);
    }

    const StorageExpiration m_expiration;
    std::atomic<double> m_estimatedExpiration;
};

// A stored value whose content may be discarded while the entry stays in the cache.
template<typename T> class BackgroundKeepingStorageObject final : public StorageObject<T> {
public:
    BackgroundKeepingStorageObject(T value, StorageExpiration expiration)
        : StorageObject<T>(std::move(value), expiration)
    {
    }

    std::optional<T> value() const override
    {
        std::lock_guard lock(m_mutex);
        return this->m_value;
    }

    bool beginContentAccess()
    {
        std::lock_guard lock(m_mutex);
        m_accessing = this->m_value.has_value();
        return m_accessing;
    }

    void endContentAccess()
    {
        std::lock_guard lock(m_mutex);
        m_accessing = false;
    }

    void discardContentIfPossible()
    {
        std::optional<T> discarded;
        std::lock_guard lock(m_mutex);
        discarded.swap(this->m_value);
    }

    bool isContentDiscarded() const
    {
        std::lock_guard lock(m_mutex);
        return !this->m_value.has_value();
    }

    bool isAccessing() const
    {
        std::lock_guard lock(m_mutex);
        return m_accessing;
    }

private:
    mutable std::mutex m_mutex;
    bool m_accessing = true;
};

// The memory level of the image cache: values with lifetimes in a cost- and count-limited cache,
// plus the set of keys stored, which a repeating timer on the main thread walks to drop expired
// entries. A key leaves the set as soon as its entry is evicted, so the set never outgrows the cache.
// The timer holds the backend weakly. Any thread may call it.
template<typename T> class Backend : public std::enable_shared_from_this<Backend<T>> {
public:
    static std::shared_ptr<Backend> make(Config config)
    {
        std::shared_ptr<Backend> backend(new Backend(config));
        if (hasTimedClean(config.cleanInterval))
            backend->m_cleanTimer = platform::Timer::scheduledRepeating<Backend>(
                config.cleanInterval, backend, [](Backend& strong) { strong.removeExpired(); });
        return backend;
    }

    // Whether `make` schedules a timed clean for this interval.
    static bool hasTimedClean(double cleanInterval)
    {
        return std::isfinite(cleanInterval) && cleanInterval > 0;
    }

    bool isCleaningOnTimer() const { return m_cleanTimer != nullptr; }

    ~Backend()
    {
        if (m_cleanTimer)
            m_cleanTimer->invalidate();
    }

    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    Config config() const
    {
        std::lock_guard lock(m_lock);
        return m_config;
    }

    // Replaces the configuration and applies its limits at once. The clean interval stays the one
    // the timer was started with; a new expiration applies to later stores.
    void setConfig(Config config)
    {
        std::lock_guard lock(m_lock);
        m_config = config;
        applyLimits();
    }

    // The summed cost of what is stored now.
    std::int64_t totalCost() const { return m_storage.totalCost(); }

    // Holds `cost` of the cost limit for a value on its way in, dropping the least recently used
    // values until what is stored fits beside what is held (see LruCostCache::reserve). False,
    // holding nothing, when the holds alone would be over the limit.
    bool reserve(std::int64_t cost)
    {
        std::lock_guard lock(m_lock);
        std::vector<QString> evicted;
        const bool reserved = m_storage.reserve(cost, evicted);
        forgetKeys(evicted);
        return reserved;
    }
    void releaseReservation(std::int64_t cost) { m_storage.releaseReservation(cost); }
    // What is held for values on their way in.
    std::int64_t reservedCost() const { return m_storage.reservedCost(); }

    template<typename Modify> void modifyConfig(Modify&& modify)
    {
        std::lock_guard lock(m_lock);
        Config copy = m_config;
        modify(copy);
        m_config = copy;
        applyLimits();
    }

    // Stores `value` for `key` with `expiration` (the configured one when absent). An already
    // expired lifetime stores nothing and leaves an earlier entry of the key as it was.
    // `unlessRemovedSince` marks a value put back from elsewhere by a look-up that found no live
    // value here when `removalGeneration()` gave that number. It is not stored when a removal ran
    // since (a value read before a clear is never put back after it), nor over a live value, which
    // was stored after that look-up began and so is at least as new.
    void storeValue(T value, const QString& key, std::optional<StorageExpiration> expiration = std::nullopt,
        std::optional<std::uint64_t> unlessRemovedSince = std::nullopt)
    {
        std::lock_guard lock(m_lock);
        if (unlessRemovedSince && (*unlessRemovedSince != m_removalGeneration.load() || holdsLiveValue(key)))
            return;
        StorageExpiration resolved = expiration.value_or(m_config.expiration);
        if (resolved.isExpired())
            return;
        std::int64_t cost = CacheCostCalculable<T>::cacheCost(value);
        std::shared_ptr<StorageObject<T>> entry;
        if (m_config.keepWhenEnteringBackground)
            entry = std::make_shared<BackgroundKeepingStorageObject<T>>(std::move(value), resolved);
        else
            entry = std::make_shared<StorageObject<T>>(std::move(value), resolved);
        std::vector<QString> evicted = m_storage.setObject(key, std::move(entry), cost);
        m_keys.insert(key);
        forgetKeys(evicted);
    }

    // Moves on with every `removeValue` and `removeAll`.
    std::uint64_t removalGeneration() const { return m_removalGeneration.load(); }

    // The live value for `key`, its lifetime moved as `extending` says. An expired entry reads as
    // absent but stays until the next clean.
    std::optional<T> readValue(
        const QString& key, const ExpirationExtending& extending = ExpirationExtending::cacheTime())
    {
        std::shared_ptr<StorageObject<T>> entry = m_storage.object(key);
        if (!entry)
            return std::nullopt;
        // One reading of the clock serves both the expiry test and the extension.
        const platform::Date now = platform::Date::now();
        if (entry->isExpired(now))
            return std::nullopt;
        entry->extendExpiration(extending, now);
        return entry->value();
    }

    // Whether a live value is stored for `key`; never moves its lifetime.
    bool containsValue(const QString& key) { return readValue(key, ExpirationExtending::none()).has_value(); }

    void removeValue(const QString& key)
    {
        std::lock_guard lock(m_lock);
        ++m_removalGeneration;
        m_storage.removeObject(key);
        m_keys.erase(key);
    }

    void removeAll()
    {
        std::lock_guard lock(m_lock);
        ++m_removalGeneration;
        m_storage.removeAllObjects();
        m_keys.clear();
    }

    // Drops expired entries, and the keys of entries the cache has evicted.
    void removeExpired()
    {
        std::lock_guard lock(m_lock);
        const std::set<QString> keys = m_keys;
        for (const QString& key : keys) {
            std::shared_ptr<StorageObject<T>> entry = m_storage.peek(key);
            if (!entry) {
                m_keys.erase(key);
            } else if (entry->isExpired()) {
                m_storage.removeObject(key);
                m_keys.erase(key);
            }
        }
    }

    // The keys stored and not yet removed by this backend (entries may have been evicted since).
    std::set<QString> keys() const
    {
        std::lock_guard lock(m_lock);
        return m_keys;
    }

    // The entry for `key`, expired or not, without touching its recency.
    std::shared_ptr<StorageObject<T>> storageObject(const QString& key) const { return m_storage.peek(key); }

private:
    explicit Backend(Config config)
        : m_config(config)
    {
        applyLimits();
    }

    bool holdsLiveValue(const QString& key) const
    {
        std::shared_ptr<StorageObject<T>> entry = m_storage.peek(key);
        return entry && !entry->isExpired() && entry->value();
    }

    void applyLimits()
    {
        forgetKeys(m_storage.setTotalCostLimit(m_config.totalCostLimit));
        forgetKeys(m_storage.setCountLimit(m_config.countLimit));
    }

    // Called with `m_lock` held, so no store of the same key can come between the eviction and this.
    void forgetKeys(const std::vector<QString>& evicted)
    {
        for (const QString& key : evicted)
            m_keys.erase(key);
    }

    LruCostCache<StorageObject<T>> m_storage;
    std::set<QString> m_keys;
    std::shared_ptr<platform::Timer> m_cleanTimer;
    mutable std::mutex m_lock; // guards m_storage's changes together with m_keys, and m_config
    Config m_config;
    std::atomic<std::uint64_t> m_removalGeneration { 0 }; // written under m_lock
};

} // namespace iris::MemoryStorage
