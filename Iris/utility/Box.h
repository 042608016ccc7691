#pragma once

#include <utility>

namespace iris {

// One value held by reference (through a shared_ptr), where only an object can be kept.
template<typename T> class Box {
public:
    explicit Box(T value)
        : value(std::move(value))
    {
    }

    T value;
};

} // namespace iris
