#pragma once

#include <atomic>
#include <cstdint>

namespace iris {

// The process-wide request counter: each image-setting request of any target (image views, button
// images and alternate images, text attachments) takes the next value, so identifiers are unique
// across all of them. The first request of the process gets 1.
class SourceIdentifier {
public:
    static std::uint64_t next() { return counter.fetch_add(1, std::memory_order_relaxed) + 1; }

    // Atomic: requests may be issued from more than one thread, and two requests must never share
    // an identifier, or a stale answer would pass for the current one.
    static inline std::atomic<std::uint64_t> counter { 0 };
};

} // namespace iris
