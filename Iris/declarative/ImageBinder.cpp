#include "Iris/declarative/ImageBinder.h"

#include "Iris/utility/CallbackQueue.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/ui/FadeAnimation.h"

namespace iris {

namespace {

constexpr platform::ObservationKey willChangeKey = "objectWillChange";

void onMain(std::function<void()> work)
{
    CallbackQueue::mainCurrentOrAsync().execute(std::move(work));
}

void postToMain(std::function<void()> work)
{
    platform::DispatchQueue::main()->async(std::move(work));
}

} // namespace

std::shared_ptr<ImageBinder> ImageBinder::create(std::shared_ptr<ImageRetrieving> retrieving)
{
    return std::shared_ptr<ImageBinder>(new ImageBinder(std::move(retrieving)));
}

ImageBinder::ImageBinder(std::shared_ptr<ImageRetrieving> retrieving)
    : m_retrieving(std::move(retrieving))
{
}

void ImageBinder::observe() const
{
    m_registrar.access(willChangeKey);
}

void ImageBinder::sendWillChange()
{
    ++m_willChangeCount;
    m_registrar.willSet(willChangeKey);
}

void ImageBinder::start(const std::shared_ptr<IRImageContextBase>& context)
{
    const std::uint64_t generation = ++m_generation;
    if (!context->source()) {
        onMain([self = shared_from_this(), context, generation] {
            if (generation == self->m_generation)
                self->failEmptySource(context);
        });
        return;
    }

    loading = true;
    progress = std::make_shared<Progress>();
    std::weak_ptr<ImageBinder> weakSelf = weak_from_this();
    auto onProgress = [weakSelf, context, generation](std::int64_t received, std::int64_t total) {
        // Reported on the main queue; moved there should a manager report from elsewhere.
        onMain([weakSelf, context, generation, received, total] {
            auto self = weakSelf.lock();
            if (!self || generation != self->m_generation)
                return;
            self->progress->setTotalUnitCount(total);
            self->progress->setCompletedUnitCount(received);
            self->sendWillChange();
            context->onProgressDelegate.call({ received, total });
        });
    };
    auto onCompletion = [weakSelf, context, generation](RetrieveImageResultOrError result) {
        if (weakSelf.expired())
            return;
        onMain([weakSelf, context, generation, result = std::move(result)]() mutable {
            if (auto self = weakSelf.lock())
                self->complete(generation, context, std::move(result));
        });
    };
    auto task = m_retrieving->retrieveWithParsedOptions(
        *context->source(), context->options, std::move(onProgress), std::move(onCompletion));
    // A cache hit may already have completed, inline.
    if (generation == m_generation && loading)
        downloadTask = std::move(task);
}

void ImageBinder::cancelDownload()
{
    m_calledOffGeneration = m_generation;
    if (auto task = std::exchange(downloadTask, std::nullopt))
        m_retrieving->cancel(*task);
    loading = false;
}

void ImageBinder::failEmptySource(const std::shared_ptr<IRImageContextBase>& context)
{
    context->onFailureDelegate.call(
        IrisError::imageSettingError(IrisError::ImageSettingErrorReason::emptySource()));
    if (context->options.onFailureImage) {
        sendWillChange();
        loadedImage = *context->options.onFailureImage;
    }
    loading = false;
    loaded = true;
}

void ImageBinder::complete(std::uint64_t generation, const std::shared_ptr<IRImageContextBase>& context,
    RetrieveImageResultOrError result)
{
    // A retrieval that a newer start replaced (say, one cancelled when the view disappeared) reports
    // to its delegates but leaves the newer one's state alone.
    const bool current = generation == m_generation;
    if (current) {
        downloadTask.reset();
        loading = false;
    }

    if (result.isSuccess()) {
        RetrieveImageResult value = std::move(result).value();
        if (current) {
            if (auto duration = context->fadeDuration(value.cacheType)) {
                animating = true;
                ++m_fadeTransactions;
                m_lastFadeDuration = platform::FadeAnimation::sanitizedDuration(*duration);
                loaded = true;
                sendWillChange();
            } else {
                loaded = true;
            }
            sendWillChange();
            loadedImage = value.image;
            animating = false;
        }
        postToMain([context, value = std::move(value)] { context->onSuccessDelegate.call(value); });
        return;
    }

    IrisError error = std::move(result).error();
    if (current) {
        // A load this view called off did not fail: the failure image would stand in for the
        // image for good, and the next appearance would not load it again.
        if (context->options.onFailureImage && generation != m_calledOffGeneration) {
            sendWillChange();
            loadedImage = *context->options.onFailureImage;
        }
        loaded = true;
    }
    postToMain([context, error = std::move(error)] { context->onFailureDelegate.call(error); });
}

} // namespace iris
