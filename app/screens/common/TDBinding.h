#pragma once

#include <functional>

// A two-way binding to a value that lives elsewhere (a sheet's state): read with `get`, written
// with `set`.
template<typename T> struct TDBinding {
    std::function<T()> get;
    std::function<void(T)> set;
};
