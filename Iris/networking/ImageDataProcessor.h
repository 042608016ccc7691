#pragma once

#include "Iris/networking/SessionDataTask.h"
#include "Iris/utility/CallbackQueue.h"
#include "Iris/utility/Delegate.h"

#include "platform/foundation/Result.h"

#include <QByteArray>

#include <memory>
#include <optional>
#include <utility>

namespace platform {
class DispatchQueue;
class Image;
} // namespace platform

namespace iris {

using ImageOrError = platform::Result<std::shared_ptr<platform::Image>, IrisError>;

// Turns the bytes of one finished download into one result per waiting request: each distinct
// processor runs once, each request gets its own (optionally decoded) image or failure.
class ImageDataProcessor : public std::enable_shared_from_this<ImageDataProcessor> {
public:
    // Without a processing queue, processing runs on the shared serial processing queue. `source` is
    // the download the data came from, when there is one: a progressive decoder that read it may
    // then give its image.
    ImageDataProcessor(QByteArray data, SessionDataTask::Callbacks callbacks,
        std::optional<CallbackQueue> processingQueue,
        std::shared_ptr<const SessionDataTask> source = nullptr);

    // Told once per request, in request order, on the processing queue.
    Delegate<std::pair<ImageOrError, TaskCallback>, std::monostate> onImageProcessed;

    // Runs the processing on the processing queue; the queued work keeps this object alive.
    void startProcessing();

    const QByteArray& data() const { return m_data; }
    const CallbackQueue& queue() const { return m_queue; }

    // The one serial queue downloads are processed on unless their options name another.
    static const std::shared_ptr<platform::DispatchQueue>& sharedProcessingQueue();

    // The image redrawn into a fresh bitmap, so that its pixels are ready for display. The pixels are
    // never resampled and the point size is kept, so an image keeps its on-screen size and no scale
    // (0, negative, not finite) can ask for an unbounded bitmap. Animated images and images without
    // a bitmap come back unchanged.
    static std::shared_ptr<platform::Image> decodedImage(
        const std::shared_ptr<platform::Image>& image, double scale);

private:
    void processData();

    const QByteArray m_data;
    const SessionDataTask::Callbacks m_callbacks;
    const CallbackQueue m_queue;
    const std::shared_ptr<const SessionDataTask> m_source;
};

} // namespace iris
