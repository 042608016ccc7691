#include "Iris/views/ImageSettingRoad.h"

#include "Iris/general/DataReceivingSideEffect.h"
#include "Iris/general/RetrievalCancellation.h"
#include "Iris/views/SourceIdentifier.h"

#include <mutex>

namespace iris {

namespace {

std::mutex managerMutex;
std::shared_ptr<IrisManager>& managerOverride()
{
    static std::shared_ptr<IrisManager> manager;
    return manager;
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

    IrisParsedOptionsInfo& options = request.options;
    if (request.progress) {
        if (!options.onDataReceived)
            options.onDataReceived.emplace();
        options.onDataReceived->push_back(std::make_shared<ImageLoadingProgressSideEffect>(request.progress));
    }

    auto isCurrent = [slot, identifier] { return slot->isCurrent(identifier); };
    ProgressiveImageSetter partialImage;
    if (request.showPartialImage) {
        // Checked again here, on the main thread: between the provider's own check and this call a
        // newer request may have been issued.
        partialImage = [isCurrent, alive = request.targetAlive, show = request.showPartialImage](
                           std::shared_ptr<platform::Image> image) {
            if (isCurrent() && alive())
                show(std::move(image));
        };
    }

    DownloadTaskUpdatedCallback taskUpdated = [slot, identifier](std::optional<DownloadTask> task) {
        slot->setImageTaskIfCurrent(identifier, task);
    };

    RetrieveImageCompletion completion =
        [slot, identifier, source = request.source, failureImage = options.onFailureImage,
            alive = request.targetAlive, answerArrived = request.answerArrived, apply = request.applyOutcome,
            done = request.completion](RetrieveImageResultOrError outcome) {
            CallbackQueue::mainCurrentOrAsync().execute([=] {
                if (answerArrived)
                    answerArrived();
                if (!alive() || !slot->finishIfCurrent(identifier)) {
                    if (done)
                        done(RetrieveImageResultOrError::failure(notCurrentSourceTaskError(outcome, source)));
                    return;
                }
                if (apply)
                    apply(outcome, failureImage);
                if (done)
                    done(outcome);
            });
        };

    const std::shared_ptr<IrisManager> manager = imageSettingManager();
    std::optional<DownloadTask> task
        = manager->runRetrieval(request.source, std::move(options), std::move(taskUpdated),
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
