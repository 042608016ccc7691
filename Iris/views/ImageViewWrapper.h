#pragma once

#include "Iris/general/IrisManager.h"
#include "Iris/general/Source.h"
#include "Iris/utility/IrisWrapper.h"
#include "Iris/views/Indicator.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class ImageView;
}

namespace iris {

class ImageDataProvider;
class Placeholder;

// Image setting on any image view: `ir(view).setImage(source, placeholder, options, ...)` shows the
// placeholder and the loading indicator, asks the image-setting manager for the image and, when the
// answer arrives, puts the image (or the failure image) into the view on the main thread, but only
// while the view still waits for that very request. A newer request never cancels an older one: the
// older one's answer changes nothing and its completion receives `notCurrentSourceTask`. A view
// destroyed while it waits cancels its download and is never touched again; its completion receives
// `notCurrentSourceTask` with the outcome. Main thread only; the wrapper keeps no state of its own.
template<> struct IrisWrapper<platform::ImageView*> {
    platform::ImageView* base;

    // The options are the manager's defaults followed by `options`.
    std::optional<DownloadTask> setImage(std::optional<Source> source,
        std::shared_ptr<Placeholder> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    // A file URL is read from disk; any other URL is downloaded.
    std::optional<DownloadTask> setImage(const std::shared_ptr<const Resource>& resource,
        std::shared_ptr<Placeholder> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    std::optional<DownloadTask> setImage(const std::shared_ptr<const ImageDataProvider>& provider,
        std::shared_ptr<Placeholder> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    // The request itself, with options already parsed. Without a source: shows the placeholder (or
    // clears the image), forgets the request the view waited for and answers `emptySource` at once.
    std::optional<DownloadTask> setImage(std::optional<Source> source,
        std::shared_ptr<Placeholder> placeholder, IrisParsedOptionsInfo options,
        DownloadProgressCallback progress = {}, RetrieveImageCompletion completion = {}) const;

    // Cancels the running download, if any; the request then completes with the cancellation.
    void cancelDownloadTask() const;

    std::optional<std::uint64_t> taskIdentifier() const;
    void setTaskIdentifier(std::optional<std::uint64_t> identifier) const;
    std::optional<DownloadTask> imageTask() const;
    void setImageTask(std::optional<DownloadTask> task) const;

    std::shared_ptr<Placeholder> placeholder() const;
    // Takes the current placeholder out of the view, then puts the new one in (or clears the image).
    void setPlaceholder(std::shared_ptr<Placeholder> placeholder) const;

    // `none` when never set.
    IndicatorType indicatorType() const;
    // Builds the matching indicator and installs it; a new assignment always builds a fresh one.
    void setIndicatorType(IndicatorType type) const;
    std::shared_ptr<Indicator> indicator() const;
    // Takes the current indicator's view out of the image view and puts the new one in: centred (plus
    // its offset), sized by its strategy as the image view resizes, hidden until a request starts.
    void setIndicator(std::shared_ptr<Indicator> indicator) const;
};

using ImageViewWrapper = IrisWrapper<platform::ImageView*>;

inline ImageViewWrapper ir(platform::ImageView* view)
{
    return ImageViewWrapper { view };
}

} // namespace iris
