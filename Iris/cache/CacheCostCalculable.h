#pragma once

#include <cstdint>

namespace iris {

// What a value costs in memory, in bytes. The memory storage asks it of every value it keeps; each
// cached type specialises it.
template<typename T> struct CacheCostCalculable;

} // namespace iris
