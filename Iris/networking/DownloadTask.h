#pragma once

#include <cstdint>
#include <memory>

namespace iris {

class SessionDataTask;

// The handle of one download request, returned to callers for cancelling.
struct DownloadTask {
    std::shared_ptr<SessionDataTask> sessionTask;
    std::int64_t cancelToken = 0;
};

} // namespace iris
