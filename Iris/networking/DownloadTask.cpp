#include "Iris/networking/DownloadTask.h"

#include "Iris/general/RetrievalCancellation.h"
#include "Iris/networking/SessionDataTask.h"

namespace iris {

void DownloadTask::cancel() const
{
    if (sessionTask) {
        if (std::optional<TaskCallback> callback = sessionTask->removeCallback(cancelToken))
            sessionTask->onCallbackCancelled(std::move(*callback));
    }
    if (retrieval)
        retrieval->cancel();
}

} // namespace iris
