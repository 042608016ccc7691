#include "Iris/views/TextAttachmentWrapper.h"

#include "Iris/views/ImageSettingRoad.h"

#include <QWidget>

namespace iris {

namespace {

const char imageTaskKey = 0;

} // namespace

std::optional<DownloadTask> TextAttachmentWrapper::setAttachmentImage(std::optional<Source> source,
    DisplayingView displayingView, std::shared_ptr<platform::Image> placeholder,
    const std::optional<IrisOptionsInfo>& options, DownloadProgressCallback progress,
    RetrieveImageCompletion completion) const
{
    return setAttachmentImage(std::move(source), std::move(displayingView), std::move(placeholder),
        parseImageSettingOptions(options), std::move(progress), std::move(completion));
}

std::optional<DownloadTask> TextAttachmentWrapper::setAttachmentImage(
    const std::shared_ptr<const Resource>& resource, DisplayingView displayingView,
    std::shared_ptr<platform::Image> placeholder, const std::optional<IrisOptionsInfo>& options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    // A file URL is read as a file here too: the downloader fetches only web addresses.
    std::optional<Source> source;
    if (resource)
        source = convertToSource(*resource);
    return setAttachmentImage(std::move(source), std::move(displayingView), std::move(placeholder), options,
        std::move(progress), std::move(completion));
}

std::optional<DownloadTask> TextAttachmentWrapper::setAttachmentImage(std::optional<Source> source,
    DisplayingView displayingView, std::shared_ptr<platform::Image> placeholder,
    IrisParsedOptionsInfo options, DownloadProgressCallback progress,
    RetrieveImageCompletion completion) const
{
    ImagePropertySlot property;
    property.slot = ImageTaskSlot::of(*base, &imageTaskKey);
    property.setImage = [attachment = base](std::shared_ptr<platform::Image> image) {
        attachment->setImage(std::move(image));
    };
    property.resultShown = [displayingView = std::move(displayingView)] {
        if (!displayingView)
            return;
        if (QWidget* view = displayingView())
            view->update(view->rect());
    };
    return setImagePropertySlot(property, std::move(source), std::move(placeholder), std::move(options),
        std::move(progress), std::move(completion));
}

void TextAttachmentWrapper::cancelAttachmentImageTask() const
{
    if (std::optional<DownloadTask> task = imageTask())
        task->cancel();
}

std::optional<std::uint64_t> TextAttachmentWrapper::taskIdentifier() const
{
    auto slot = ImageTaskSlot::existing(*base, &imageTaskKey);
    return slot ? slot->taskIdentifier() : std::nullopt;
}

void TextAttachmentWrapper::setTaskIdentifier(std::optional<std::uint64_t> identifier) const
{
    ImageTaskSlot::of(*base, &imageTaskKey)->setTaskIdentifier(identifier);
}

std::optional<DownloadTask> TextAttachmentWrapper::imageTask() const
{
    auto slot = ImageTaskSlot::existing(*base, &imageTaskKey);
    return slot ? slot->imageTask() : std::nullopt;
}

void TextAttachmentWrapper::setImageTask(std::optional<DownloadTask> task) const
{
    ImageTaskSlot::of(*base, &imageTaskKey)->setImageTask(std::move(task));
}

} // namespace iris
