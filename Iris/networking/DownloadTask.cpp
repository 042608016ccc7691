#include "Iris/networking/DownloadTask.h"

#include "Iris/networking/SessionDataTask.h"

namespace iris {

void DownloadTask::cancel() const
{
    if (!sessionTask)
        return;
    if (std::optional<TaskCallback> callback = sessionTask->removeCallback(cancelToken))
        sessionTask->onCallbackCancelled(std::move(*callback));
}

} // namespace iris
