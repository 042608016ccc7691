#include "Iris/views/ImageSettingRoad.h"

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/views/SourceIdentifier.h"

#include "platform/foundation/DispatchQueue.h"

#include <mutex>

namespace iris {

namespace {

std::mutex managerMutex;
std::shared_ptr<IrisManager>& managerOverride()
{
    static std::shared_ptr<IrisManager> manager;
    return manager;
}

// Shares `value` and deletes it on the main thread once the last holder lets go, wherever that is.
template<typename T> std::shared_ptr<const T> releasedOnMainThread(T value)
{
    return std::shared_ptr<const T>(new T(std::move(value)), [](const T* held) {
        if (platform::DispatchQueue::isMainThread()) {
            delete held;
            return;
        }
        platform::DispatchQueue::main()->async([held] { delete held; });
    });
}

} // namespace

std::shared_ptr<IrisManager> imageSettingManager()
{
    {
        std::lock_guard lock(managerMutex);
        if (managerOverride())
            return managerOverride();
    }
    return IrisManager::sharedManager();
}

void setImageSettingManager(std::shared_ptr<IrisManager> manager)
{
    std::lock_guard lock(managerMutex);
    managerOverride() = std::move(manager);
}

IrisParsedOptionsInfo parseImageSettingOptions(const std::optional<IrisOptionsInfo>& items)
{
    IrisOptionsInfo all = imageSettingManager()->defaultOptions();
    if (items)
        all.insert(all.end(), items->begin(), items->end());
    return IrisParsedOptionsInfo(all);
}

IrisError emptySourceError()
{
    return IrisError::imageSettingError(IrisError::ImageSettingErrorReason::emptySource());
}

IrisError notCurrentSourceTaskError(const RetrieveImageResultOrError& outcome, const Source& source)
{
    std::optional<ErrorObject<RetrieveImageResult>> result;
    std::optional<platform::PlatformError> error;
    if (outcome.isSuccess())
        result = ErrorObject<RetrieveImageResult>::of(
            std::make_shared<const RetrieveImageResult>(outcome.value()));
    else
        error = outcome.error().toPlatformError();
    return IrisError::imageSettingError(
        IrisError::ImageSettingErrorReason::notCurrentSourceTask(std::move(result), std::move(error),
            ErrorObject<Source>::of(std::make_shared<const Source>(source))));
}

std::optional<DownloadTask> runImageSettingRequest(ImageSettingRequest request)
{
    const std::uint64_t identifier = SourceIdentifier::next();
    const std::shared_ptr<ImageTaskSlot> slot = request.slot;
    auto cancellation = std::make_shared<RetrievalCancellation>();
    slot->begin(identifier, cancellation);

    IrisParsedOptionsInfo options = std::move(request.options);
    // The closures the main thread runs for this request, the caller's among them, may hold widgets
    // (a builder holds its placeholder); the retrieval lets go of them on whichever thread it ends on.
    const auto side = releasedOnMainThread(std::move(request));
    auto isCurrent = [slot, identifier] { return slot->isCurrent(identifier); };

    if (side->progress) {
        if (!options.onDataReceived)
            options.onDataReceived.emplace();
        // Checked again on the main thread: a report let through just before a newer request was
        // issued would otherwise arrive after it, even after its answer.
        options.onDataReceived->push_back(std::make_shared<ImageLoadingProgressSideEffect>(
            [isCurrent, side](std::int64_t received, std::int64_t total) {
                if (isCurrent() && side->targetAlive())
                    side->progress(received, total);
            }));
    }

    ProgressiveImageSetter partialImage;
    if (side->showPartialImage) {
        // Checked again here, on the main thread: between the provider's own check and this call a
        // newer request may have been issued.
        partialImage = [isCurrent, side](std::shared_ptr<platform::Image> image) {
            if (isCurrent() && side->targetAlive())
                side->showPartialImage(std::move(image));
        };
    }

    DownloadTaskUpdatedCallback taskUpdated = [slot, identifier](std::optional<DownloadTask> task) {
        slot->setImageTaskIfCurrent(identifier, task);
    };

    RetrieveImageCompletion completion = [slot, identifier, failureImage = options.onFailureImage, side](
                                             RetrieveImageResultOrError outcome) {
        CallbackQueue::mainCurrentOrAsync().execute([=] {
            if (side->answerArrived)
                side->answerArrived();
            if (!side->targetAlive() || !slot->finishIfCurrent(identifier)) {
                if (side->completion)
                    side->completion(RetrieveImageResultOrError::failure(
                        notCurrentSourceTaskError(outcome, side->source)));
                return;
            }
            if (side->applyOutcome)
                side->applyOutcome(outcome, failureImage);
            if (side->completion)
                side->completion(outcome);
        });
    };

    const std::shared_ptr<IrisManager> manager = imageSettingManager();
    std::optional<DownloadTask> task
        = manager->runRetrieval(side->source, std::move(options), std::move(taskUpdated),
            std::move(partialImage), isCurrent, std::move(completion), std::move(cancellation));
    // A request answered inside the call has already left the slot; its task is not kept.
    slot->setImageTaskIfCurrent(identifier, task);
    return task;
}

std::optional<DownloadTask> setImagePropertySlot(const ImagePropertySlot& target,
    std::optional<Source> source, std::shared_ptr<platform::Image> placeholder, IrisParsedOptionsInfo options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion)
{
    if (!source) {
        target.setImage(std::move(placeholder));
        target.slot->setTaskIdentifier(std::nullopt);
        if (completion)
            completion(RetrieveImageResultOrError::failure(emptySourceError()));
        return std::nullopt;
    }
    if (!options.keepCurrentImageWhileLoading)
        target.setImage(std::move(placeholder));

    ImageSettingRequest request(std::move(*source));
    request.options = std::move(options);
    request.slot = target.slot;
    request.progress = std::move(progress);
    request.targetAlive = target.targetAlive;
    request.showPartialImage = target.setImage;
    request.applyOutcome = [target](const RetrieveImageResultOrError& outcome,
                               const ImageSettingRequest::FailureImage& failureImage) {
        if (outcome.isSuccess()) {
            target.setImage(outcome.value().image);
            if (target.resultShown)
                target.resultShown();
        } else if (failureImage) {
            target.setImage(*failureImage);
        }
    };
    request.completion = std::move(completion);
    return runImageSettingRequest(std::move(request));
}

} // namespace iris
