#pragma once

#include "Iris/general/IrisManager.h"
#include "Iris/views/ImageTaskSlot.h"

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class Image;
}

namespace iris {

// The manager every image-setting request goes through: the shared one, unless another was put in
// its place (a program with a manager of its own, or a test).
std::shared_ptr<IrisManager> imageSettingManager();
// Null puts the shared manager back.
void setImageSettingManager(std::shared_ptr<IrisManager> manager);

// The manager's default options, read now, followed by `items`: a later item wins.
IrisParsedOptionsInfo parseImageSettingOptions(const std::optional<IrisOptionsInfo>& items);

// The failures that setting an image adds to the retrieval's own.
IrisError emptySourceError();
// The request ended, but its target no longer waits for it; carries the real outcome.
IrisError notCurrentSourceTaskError(const RetrieveImageResultOrError& outcome, const Source& source);

// One request of one slot, from the identifier it is issued to the completion on the main thread.
// What differs between targets comes in as closures, all run and let go of on the main thread.
struct ImageSettingRequest {
    explicit ImageSettingRequest(Source source)
        : source(std::move(source))
    {
    }

    Source source;
    // Already copied for this request.
    IrisParsedOptionsInfo options;
    std::shared_ptr<ImageTaskSlot> slot;
    DownloadProgressCallback progress;
    // Whether the target is still there to be changed.
    std::function<bool()> targetAlive = [] { return true; };
    // Shows a partial image of a progressive download; called only while the request is current.
    std::function<void(std::shared_ptr<platform::Image>)> showPartialImage;
    // First thing when any answer arrives, current or not.
    std::function<void()> answerArrived;
    // Shows the outcome of the current request: the image, or the options' failure image (unset: the
    // target keeps what it shows).
    using FailureImage = std::optional<std::shared_ptr<platform::Image>>;
    std::function<void(const RetrieveImageResultOrError&, const FailureImage&)> applyOutcome;
    RetrieveImageCompletion completion;
};

// Issues the request's identifier to its slot and runs the retrieval. A newer request of the same
// slot never cancels this one (it may still fill the caches); it only makes its answer miss the
// identity check, so that the answer changes nothing and the caller's completion gets
// `notCurrentSourceTask`. The slot keeps the task of the current request
// only. Returns the task the manager returned.
std::optional<DownloadTask> runImageSettingRequest(ImageSettingRequest request);

// A target property that takes a plain image: a button's image or alternate image, an attachment's
// image. Main thread only.
struct ImagePropertySlot {
    std::shared_ptr<ImageTaskSlot> slot;
    std::function<bool()> targetAlive = [] { return true; };
    std::function<void(std::shared_ptr<platform::Image>)> setImage;
    // After a result has been shown.
    std::function<void()> resultShown;
};

// Setting a plain image property: the placeholder is shown unless the current image is to be kept
// (then the property stays as it is, even empty); the result replaces it; a failure sets the failure
// image when the options have one. Without a source: shows the placeholder (or clears the
// property), forgets the request the slot waited for and answers `emptySource` at once.
std::optional<DownloadTask> setImagePropertySlot(const ImagePropertySlot& target,
    std::optional<Source> source, std::shared_ptr<platform::Image> placeholder, IrisParsedOptionsInfo options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion);

} // namespace iris
