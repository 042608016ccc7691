#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace iris {

// A thread-safe cache of shared objects limited by total cost and by count; whenever a store takes
// it over either limit it drops the least recently used entries. A limit of 0 means no limit, and an
// entry that alone costs more than the cost limit is not kept. Part of the cost limit can be held
// for entries on their way in (`reserve`): what is stored and what is held stay within the limit
// together. The operations that may drop entries to stay within the limits return the keys they
// dropped, so that an owner keeping its own index of keys can forget them at once.
template<typename Value> class LruCostCache {
public:
    using Pointer = std::shared_ptr<Value>;

    std::vector<QString> setTotalCostLimit(std::int64_t limit)
    {
        std::vector<Pointer> evicted;
        std::vector<QString> evictedKeys;
        {
            std::lock_guard lock(m_mutex);
            m_totalCostLimit = std::max<std::int64_t>(limit, 0);
            evictOverLimits(evicted, evictedKeys);
        }
        return evictedKeys;
    }

    std::vector<QString> setCountLimit(std::int64_t limit)
    {
        std::vector<Pointer> evicted;
        std::vector<QString> evictedKeys;
        {
            std::lock_guard lock(m_mutex);
            m_countLimit = std::max<std::int64_t>(limit, 0);
            evictOverLimits(evicted, evictedKeys);
        }
        return evictedKeys;
    }

    // The entry for `key`, which becomes the most recently used; null when there is none.
    Pointer object(const QString& key)
    {
        std::lock_guard lock(m_mutex);
        auto found = m_index.find(key);
        if (found == m_index.end())
            return nullptr;
        m_entries.splice(m_entries.begin(), m_entries, found->second);
        return found->second->value;
    }

    // The entry for `key` without touching its recency.
    Pointer peek(const QString& key) const
    {
        std::lock_guard lock(m_mutex);
        auto found = m_index.find(key);
        return found == m_index.end() ? nullptr : found->second->value;
    }

    // Stores `value`; the result holds the keys dropped to make room, and `key` itself when the value
    // alone is over the cost limit and so is not kept.
    std::vector<QString> setObject(const QString& key, Pointer value, std::int64_t cost)
    {
        // Dropped entries are released after the lock: their destructors may be slow or re-enter.
        std::vector<Pointer> evicted;
        std::vector<QString> evictedKeys;
        {
            std::lock_guard lock(m_mutex);
            cost = std::max<std::int64_t>(cost, 0);
            eraseLocked(key, evicted);
            if (m_totalCostLimit > 0 && cost > m_totalCostLimit) {
                evicted.push_back(std::move(value));
                evictedKeys.push_back(key);
                return evictedKeys;
            }
            m_entries.push_front(Entry { key, std::move(value), cost });
            m_index.emplace(key, m_entries.begin());
            m_totalCost += cost;
            evictOverLimits(evicted, evictedKeys);
        }
        return evictedKeys;
    }

    // Holds `cost` of the cost limit, dropping the least recently used entries until what is stored
    // fits beside everything held. False, holding nothing, when the holds would then be over the
    // limit by themselves. Always true without a cost limit. The keys dropped go to `evictedKeys`.
    bool reserve(std::int64_t cost, std::vector<QString>& evictedKeys)
    {
        std::vector<Pointer> evicted;
        {
            std::lock_guard lock(m_mutex);
            cost = std::max<std::int64_t>(cost, 0);
            if (m_totalCostLimit > 0 && m_reservedCost + cost > m_totalCostLimit)
                return false;
            m_reservedCost += cost;
            evictOverLimits(evicted, evictedKeys);
        }
        return true;
    }

    // Gives back what `reserve(cost)` held.
    void releaseReservation(std::int64_t cost)
    {
        std::lock_guard lock(m_mutex);
        m_reservedCost -= std::max<std::int64_t>(cost, 0);
    }

    std::int64_t reservedCost() const
    {
        std::lock_guard lock(m_mutex);
        return m_reservedCost;
    }

    void removeObject(const QString& key)
    {
        std::vector<Pointer> evicted;
        {
            std::lock_guard lock(m_mutex);
            eraseLocked(key, evicted);
        }
    }

    void removeAllObjects()
    {
        std::list<Entry> entries;
        {
            std::lock_guard lock(m_mutex);
            entries.swap(m_entries);
            m_index.clear();
            m_totalCost = 0;
        }
    }

    std::int64_t totalCost() const
    {
        std::lock_guard lock(m_mutex);
        return m_totalCost;
    }

    std::int64_t count() const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<std::int64_t>(m_index.size());
    }

private:
    struct Entry {
        QString key;
        Pointer value;
        std::int64_t cost;
    };
    struct KeyHash {
        std::size_t operator()(const QString& key) const { return qHash(key); }
    };

    void eraseLocked(const QString& key, std::vector<Pointer>& evicted)
    {
        auto found = m_index.find(key);
        if (found == m_index.end())
            return;
        m_totalCost -= found->second->cost;
        evicted.push_back(std::move(found->second->value));
        m_entries.erase(found->second);
        m_index.erase(found);
    }

    void evictOverLimits(std::vector<Pointer>& evicted, std::vector<QString>& evictedKeys)
    {
        while (!m_entries.empty()
            && ((m_totalCostLimit > 0 && m_totalCost + m_reservedCost > m_totalCostLimit)
                || (m_countLimit > 0 && static_cast<std::int64_t>(m_entries.size()) > m_countLimit))) {
            Entry& oldest = m_entries.back();
            m_totalCost -= oldest.cost;
            evicted.push_back(std::move(oldest.value));
            m_index.erase(oldest.key);
            evictedKeys.push_back(std::move(oldest.key));
            m_entries.pop_back();
        }
    }

    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    std::unordered_map<QString, typename std::list<Entry>::iterator, KeyHash> m_index;
    std::int64_t m_totalCost = 0;
    std::int64_t m_reservedCost = 0;
    std::int64_t m_totalCostLimit = 0;
    std::int64_t m_countLimit = 0;
};

} // namespace iris
