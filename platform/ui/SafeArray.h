#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

// A vector whose every operation holds its lock for that one operation, so that two threads can share
// it. Reads outside the bounds give nothing; writes outside the bounds are ignored.
template<typename T> class SafeArray {
public:
    std::optional<T> get(std::size_t index) const
    {
        std::lock_guard lock(m_lock);
        if (index >= m_array.size())
            return std::nullopt;
        return m_array[index];
    }
    void set(std::size_t index, T value)
    {
        std::lock_guard lock(m_lock);
        if (index < m_array.size())
            m_array[index] = std::move(value);
    }
    void append(T value)
    {
        std::lock_guard lock(m_lock);
        m_array.push_back(std::move(value));
    }
    void removeAll()
    {
        std::vector<T> removed;
        std::lock_guard lock(m_lock);
        removed.swap(m_array);
    }
    void reserveCapacity(std::size_t capacity)
    {
        std::lock_guard lock(m_lock);
        m_array.reserve(capacity);
    }
    std::size_t size() const
    {
        std::lock_guard lock(m_lock);
        return m_array.size();
    }
    // Runs `visit` on each element under one hold of the lock; it must not reach back into the array.
    template<typename Visit> void forEach(Visit visit)
    {
        std::lock_guard lock(m_lock);
        for (std::size_t i = 0; i < m_array.size(); ++i)
            visit(i, m_array[i]);
    }
    template<typename Visit> void forEach(Visit visit) const
    {
        std::lock_guard lock(m_lock);
        for (std::size_t i = 0; i < m_array.size(); ++i)
            visit(i, m_array[i]);
    }

private:
    mutable std::mutex m_lock;
    std::vector<T> m_array;
};

} // namespace platform
