#include "Iris/views/ButtonWrapper.h"

#include "Iris/views/ImageSettingRoad.h"

#include "platform/ui/Button.h"

#include <QPointer>

namespace iris {

namespace {

const char imageTaskKey = 0;
const char alternateImageTaskKey = 0;

enum class ButtonSlot { image, alternateImage };

AssociatedKey keyOf(ButtonSlot slot)
{
    return slot == ButtonSlot::image ? &imageTaskKey : &alternateImageTaskKey;
}

std::shared_ptr<ImageTaskSlot> slotOf(platform::Button* button, ButtonSlot slot)
{
    return ImageTaskSlot::of(static_cast<QObject&>(*button), *button, keyOf(slot));
}

std::shared_ptr<ImageTaskSlot> existingSlot(platform::Button* button, ButtonSlot slot)
{
    return ImageTaskSlot::existing(*button, keyOf(slot));
}

ImagePropertySlot propertySlot(platform::Button* button, ButtonSlot slot)
{
    const QPointer<platform::Button> target(button);
    ImagePropertySlot property;
    property.slot = slotOf(button, slot);
    property.targetAlive = [target] { return !target.isNull(); };
    if (slot == ButtonSlot::image)
        property.setImage
            = [target](std::shared_ptr<platform::Image> image) { target->setImage(std::move(image)); };
    else
        property.setImage = [target](std::shared_ptr<platform::Image> image) {
            target->setAlternateImage(std::move(image));
        };
    return property;
}

std::optional<Source> sourceOf(const std::shared_ptr<const Resource>& resource)
{
    if (!resource)
        return std::nullopt;
    return convertToSource(*resource);
}

void cancel(platform::Button* button, ButtonSlot slot)
{
    if (std::shared_ptr<ImageTaskSlot> existing = existingSlot(button, slot)) {
        if (std::optional<DownloadTask> task = existing->imageTask())
            task->cancel();
    }
}

} // namespace

std::optional<DownloadTask> ButtonWrapper::setButtonImage(std::optional<Source> source,
    std::shared_ptr<platform::Image> placeholder, const std::optional<IrisOptionsInfo>& options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    return setButtonImage(std::move(source), std::move(placeholder), parseImageSettingOptions(options),
        std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ButtonWrapper::setButtonImage(const std::shared_ptr<const Resource>& resource,
    std::shared_ptr<platform::Image> placeholder, const std::optional<IrisOptionsInfo>& options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    return setButtonImage(
        sourceOf(resource), std::move(placeholder), options, std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ButtonWrapper::setButtonImage(std::optional<Source> source,
    std::shared_ptr<platform::Image> placeholder, IrisParsedOptionsInfo options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    return setImagePropertySlot(propertySlot(base, ButtonSlot::image), std::move(source),
        std::move(placeholder), std::move(options), std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ButtonWrapper::setButtonAlternateImage(std::optional<Source> source,
    std::shared_ptr<platform::Image> placeholder, const std::optional<IrisOptionsInfo>& options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    return setButtonAlternateImage(std::move(source), std::move(placeholder),
        parseImageSettingOptions(options), std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ButtonWrapper::setButtonAlternateImage(
    const std::shared_ptr<const Resource>& resource, std::shared_ptr<platform::Image> placeholder,
    const std::optional<IrisOptionsInfo>& options, DownloadProgressCallback progress,
    RetrieveImageCompletion completion) const
{
    return setButtonAlternateImage(
        sourceOf(resource), std::move(placeholder), options, std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ButtonWrapper::setButtonAlternateImage(std::optional<Source> source,
    std::shared_ptr<platform::Image> placeholder, IrisParsedOptionsInfo options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    return setImagePropertySlot(propertySlot(base, ButtonSlot::alternateImage), std::move(source),
        std::move(placeholder), std::move(options), std::move(progress), std::move(completion));
}

void ButtonWrapper::cancelButtonImageTask() const
{
    cancel(base, ButtonSlot::image);
}

void ButtonWrapper::cancelButtonAlternateImageTask() const
{
    cancel(base, ButtonSlot::alternateImage);
}

std::optional<std::uint64_t> ButtonWrapper::taskIdentifier() const
{
    auto slot = existingSlot(base, ButtonSlot::image);
    return slot ? slot->taskIdentifier() : std::nullopt;
}

void ButtonWrapper::setTaskIdentifier(std::optional<std::uint64_t> identifier) const
{
    slotOf(base, ButtonSlot::image)->setTaskIdentifier(identifier);
}

std::optional<std::uint64_t> ButtonWrapper::alternateTaskIdentifier() const
{
    auto slot = existingSlot(base, ButtonSlot::alternateImage);
    return slot ? slot->taskIdentifier() : std::nullopt;
}

void ButtonWrapper::setAlternateTaskIdentifier(std::optional<std::uint64_t> identifier) const
{
    slotOf(base, ButtonSlot::alternateImage)->setTaskIdentifier(identifier);
}

std::optional<DownloadTask> ButtonWrapper::imageTask() const
{
    auto slot = existingSlot(base, ButtonSlot::image);
    return slot ? slot->imageTask() : std::nullopt;
}

void ButtonWrapper::setImageTask(std::optional<DownloadTask> task) const
{
    slotOf(base, ButtonSlot::image)->setImageTask(std::move(task));
}

std::optional<DownloadTask> ButtonWrapper::alternateImageTask() const
{
    auto slot = existingSlot(base, ButtonSlot::alternateImage);
    return slot ? slot->imageTask() : std::nullopt;
}

void ButtonWrapper::setAlternateImageTask(std::optional<DownloadTask> task) const
{
    slotOf(base, ButtonSlot::alternateImage)->setImageTask(std::move(task));
}

} // namespace iris
