#pragma once

#include "Iris/general/IrisManager.h"
#include "Iris/general/Source.h"
#include "Iris/utility/IrisWrapper.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class Button;
class Image;
} // namespace platform

namespace iris {

// Image setting on a button's image and on its alternate image, two slots that load independently of
// each other. Each works as an image view's image does (a newer request wins, a destroyed button is
// never touched and cancels its downloads), without a loading indicator: the placeholder is a plain
// image set as the property, and it is not shown while `keepCurrentImageWhileLoading` keeps the
// current image, even when there is none. Main thread only.
template<> struct IrisWrapper<platform::Button*> {
    platform::Button* base;

    std::optional<DownloadTask> setButtonImage(std::optional<Source> source,
        std::shared_ptr<platform::Image> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    // A file URL is read from disk; any other URL is downloaded.
    std::optional<DownloadTask> setButtonImage(const std::shared_ptr<const Resource>& resource,
        std::shared_ptr<platform::Image> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    std::optional<DownloadTask> setButtonImage(std::optional<Source> source,
        std::shared_ptr<platform::Image> placeholder, IrisParsedOptionsInfo options,
        DownloadProgressCallback progress = {}, RetrieveImageCompletion completion = {}) const;

    std::optional<DownloadTask> setButtonAlternateImage(std::optional<Source> source,
        std::shared_ptr<platform::Image> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    std::optional<DownloadTask> setButtonAlternateImage(const std::shared_ptr<const Resource>& resource,
        std::shared_ptr<platform::Image> placeholder = nullptr,
        const std::optional<IrisOptionsInfo>& options = std::nullopt, DownloadProgressCallback progress = {},
        RetrieveImageCompletion completion = {}) const;
    std::optional<DownloadTask> setButtonAlternateImage(std::optional<Source> source,
        std::shared_ptr<platform::Image> placeholder, IrisParsedOptionsInfo options,
        DownloadProgressCallback progress = {}, RetrieveImageCompletion completion = {}) const;

    void cancelButtonImageTask() const;
    void cancelButtonAlternateImageTask() const;

    std::optional<std::uint64_t> taskIdentifier() const;
    void setTaskIdentifier(std::optional<std::uint64_t> identifier) const;
    std::optional<std::uint64_t> alternateTaskIdentifier() const;
    void setAlternateTaskIdentifier(std::optional<std::uint64_t> identifier) const;
    std::optional<DownloadTask> imageTask() const;
    void setImageTask(std::optional<DownloadTask> task) const;
    std::optional<DownloadTask> alternateImageTask() const;
    void setAlternateImageTask(std::optional<DownloadTask> task) const;
};

using ButtonWrapper = IrisWrapper<platform::Button*>;

inline ButtonWrapper ir(platform::Button* button)
{
    return ButtonWrapper { button };
}

} // namespace iris
