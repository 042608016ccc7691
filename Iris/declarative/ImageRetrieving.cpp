#include "Iris/declarative/ImageRetrieving.h"

#include "Iris/general/IrisManager.h"
#include "Iris/general/RetrievalCancellation.h"

#include <mutex>

namespace iris {

namespace {

// Cancelling goes through the task once the download layer gives it a way to; until then a view
// can only drop its interest in a download.
template<typename Task> void cancelTask(const Task& task)
{
    if constexpr (requires { task.cancel(); })
        task.cancel();
}

// A manager, as the views use it; null stands for the shared manager, looked up at each call.
class ManagerRetrieving final : public ImageRetrieving {
public:
    explicit ManagerRetrieving(std::shared_ptr<IrisManager> manager)
        : m_manager(std::move(manager))
    {
    }
    IrisOptionsInfo defaultOptions() const override { return manager()->defaultOptions(); }
    std::optional<DownloadTask> retrieveWithParsedOptions(const Source& source, IrisParsedOptionsInfo options,
        ProgressBlock progress, RetrieveImageCompletion completion) override
    {
        auto cancellation = std::make_shared<RetrievalCancellation>();
        std::optional<DownloadTask> task = manager()->retrieveWithParsedOptions(
            source, std::move(options), std::move(progress), {}, std::move(completion), cancellation);
        // A read of a data provider has no download to cancel: the view calls it off through its
        // retrieval.
        return task ? task : DownloadTask { nullptr, 0, std::move(cancellation) };
    }
    void cancel(const DownloadTask& task) override { cancelTask(task); }

private:
    const std::shared_ptr<IrisManager>& manager() const
    {
        return m_manager ? m_manager : IrisManager::sharedManager();
    }

    std::shared_ptr<IrisManager> m_manager;
};

std::mutex s_mutex;
std::shared_ptr<ImageRetrieving> s_override;

} // namespace

std::shared_ptr<ImageRetrieving> ImageRetrieving::shared()
{
    static const auto manager = std::make_shared<ManagerRetrieving>(nullptr);
    std::lock_guard lock(s_mutex);
    return s_override ? s_override : manager;
}

std::shared_ptr<ImageRetrieving> ImageRetrieving::through(std::shared_ptr<IrisManager> manager)
{
    return std::make_shared<ManagerRetrieving>(std::move(manager));
}

void ImageRetrieving::setShared(std::shared_ptr<ImageRetrieving> retrieving)
{
    std::lock_guard lock(s_mutex);
    s_override = std::move(retrieving);
}

} // namespace iris
