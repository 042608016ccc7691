#pragma once

#include <cstdint>

namespace platform {

// How a session behaves. Every session here is ephemeral: no disk cache, cookies and credentials in
// memory only, gone with the session.
struct UrlSessionConfiguration {
    static constexpr std::int64_t defaultMaximumBodyBytes = 256 * 1024 * 1024;

    // Idle time-out for requests that do not give a usable one of their own.
    double timeoutIntervalForRequest = 60.0;
    // Longest a task may take from start to end, however steadily bytes arrive.
    double timeoutIntervalForResource = 7 * 24 * 60 * 60.0;
    // A response body longer than this fails the task with `dataLengthExceedsMaximum`.
    std::int64_t maximumResponseBodyBytes = defaultMaximumBodyBytes;
    // Redirects a task follows before failing with `httpTooManyRedirects`.
    int maximumRedirects = 16;
    // Linux desktops report no data-saving networks; this switch stands in for one, so requests that
    // refuse a constrained network can be seen failing.
    bool networkIsConstrained = false;

    static UrlSessionConfiguration ephemeral() { return {}; }
};

} // namespace platform
