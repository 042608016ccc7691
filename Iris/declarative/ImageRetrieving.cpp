#include "Iris/declarative/ImageRetrieving.h"

#include "Iris/utility/CallbackQueue.h"

#include <mutex>

#if __has_include("Iris/general/IrisManager.h")
#include "Iris/general/IrisManager.h"
#define IRIS_VIEWS_HAVE_MANAGER 1
#endif

namespace iris {

namespace {

#ifdef IRIS_VIEWS_HAVE_MANAGER
// The shared manager, as the views use it.
class SharedManagerRetrieving final : public ImageRetrieving {
public:
    IrisOptionsInfo defaultOptions() const override { return IrisManager::sharedManager()->defaultOptions(); }
    std::optional<DownloadTask> retrieveWithParsedOptions(const Source& source, IrisParsedOptionsInfo options,
        ProgressBlock progress, RetrieveImageCompletion completion) override
    {
        return IrisManager::sharedManager()->retrieveWithParsedOptions(
            source, std::move(options), std::move(progress), {}, std::move(completion));
    }
    void cancel(const DownloadTask& task) override
    {
        if constexpr (requires(const DownloadTask& t) { t.cancel(); })
            task.cancel();
    }
};
#else
// Until a retrieval manager is linked in, every retrieval fails as an empty request.
class SharedManagerRetrieving final : public ImageRetrieving {
public:
    IrisOptionsInfo defaultOptions() const override { return {}; }
    std::optional<DownloadTask> retrieveWithParsedOptions(const Source&, IrisParsedOptionsInfo options,
        ProgressBlock, RetrieveImageCompletion completion) override
    {
        runCallback(options.callbackQueue, [completion = std::move(completion)] {
            if (completion)
                completion(RetrieveImageResultOrError::failure(
                    IrisError::requestError(IrisError::RequestErrorReason::emptyRequest())));
        });
        return std::nullopt;
    }
    void cancel(const DownloadTask&) override { }
};
#endif

std::mutex s_mutex;
std::shared_ptr<ImageRetrieving> s_override;

} // namespace

std::shared_ptr<ImageRetrieving> ImageRetrieving::shared()
{
    static const auto manager = std::make_shared<SharedManagerRetrieving>();
    std::lock_guard lock(s_mutex);
    return s_override ? s_override : manager;
}

void ImageRetrieving::setShared(std::shared_ptr<ImageRetrieving> retrieving)
{
    std::lock_guard lock(s_mutex);
    s_override = std::move(retrieving);
}

} // namespace iris
