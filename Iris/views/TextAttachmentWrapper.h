#pragma once

#include "Iris/general/IrisManager.h"
#include "Iris/general/Source.h"
#include "Iris/utility/IrisWrapper.h"

#include "platform/ui/TextAttachment.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace platform {
class Image;
}

namespace iris {

// Image setting on a text attachment, as on a button's image. The request keeps the attachment
// alive until it ends. On success the view that draws the attachment (asked of `displayingView` at
// that moment; null for none) is redrawn; placeholders, partial images and failure images are set
// without a redraw. Main thread only.
template<> struct IrisWrapper<std::shared_ptr<platform::TextAttachment>> {
    using DisplayingView = std::function<QWidget*()>;

    std::shared_ptr<platform::TextAttachment> base;

    std::optional<DownloadTask> setAttachmentImage(std::optional<Source> source,
        DisplayingView displayingView, std::shared_ptr<platform::Image> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    // A file URL is read from disk; any other URL is downloaded.
    std::optional<DownloadTask> setAttachmentImage(const std::shared_ptr<const Resource>& resource,
        DisplayingView displayingView, std::shared_ptr<platform::Image> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    std::optional<DownloadTask> setAttachmentImage(std::optional<Source> source,
        DisplayingView displayingView, std::shared_ptr<platform::Image> placeholder,
        IrisParsedOptionsInfo options, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;

    void cancelAttachmentImageTask() const;

    std::optional<std::uint64_t> taskIdentifier() const;
    void setTaskIdentifier(std::optional<std::uint64_t> identifier) const;
    std::optional<DownloadTask> imageTask() const;
    void setImageTask(std::optional<DownloadTask> task) const;
};

using TextAttachmentWrapper = IrisWrapper<std::shared_ptr<platform::TextAttachment>>;

} // namespace iris
