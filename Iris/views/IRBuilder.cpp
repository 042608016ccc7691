#include "Iris/views/IRBuilder.h"

#include "Iris/image/Placeholder.h"
#include "Iris/views/ButtonWrapper.h"
#include "Iris/views/ImageSettingRoad.h"
#include "Iris/views/ImageViewWrapper.h"
#include "Iris/views/TextAttachmentWrapper.h"

namespace iris::IR {

Builder::Builder(std::optional<Source> source)
    : m_state(std::make_shared<State>())
{
    m_state->source = std::move(source);
    m_state->options = parseImageSettingOptions(std::nullopt);
}

Builder Builder::placeholder(std::shared_ptr<Placeholder> placeholder) const
{
    m_state->placeholder = std::move(placeholder);
    return *this;
}

Builder Builder::placeholder(std::shared_ptr<platform::Image> image) const
{
    return placeholder(image ? std::make_shared<ImagePlaceholder>(std::move(image)) : nullptr);
}

Builder Builder::keepCurrentImageWhileLoading(bool on) const
{
    m_state->options.keepCurrentImageWhileLoading = on;
    return *this;
}

Builder Builder::onlyLoadFirstFrame(bool on) const
{
    m_state->options.onlyLoadFirstFrame = on;
    return *this;
}

Builder Builder::progressiveJPEG(std::shared_ptr<const ImageProgressive> progressive) const
{
    m_state->options.progressiveJPEG = std::move(progressive);
    return *this;
}

DownloadProgressCallback Builder::forwardingProgress() const
{
    return [state = m_state](std::int64_t received, std::int64_t total) {
        state->onProgressDelegate.call({ received, total });
    };
}

RetrieveImageCompletion Builder::forwardingCompletion() const
{
    return [state = m_state](RetrieveImageResultOrError result) {
        if (result.isSuccess())
            state->onSuccessDelegate.call(result.value());
        else
            state->onFailureDelegate.call(result.error());
    };
}

std::shared_ptr<platform::Image> Builder::placeholderImage() const
{
    auto image = std::dynamic_pointer_cast<ImagePlaceholder>(m_state->placeholder);
    return image ? image->image() : nullptr;
}

std::optional<DownloadTask> Builder::set(platform::ImageView* imageView) const
{
    return ir(imageView).setImage(m_state->source, m_state->placeholder, m_state->options,
        forwardingProgress(), forwardingCompletion());
}

std::optional<DownloadTask> Builder::set(platform::Button* button) const
{
    return ir(button).setButtonImage(
        m_state->source, placeholderImage(), m_state->options, forwardingProgress(), forwardingCompletion());
}

std::optional<DownloadTask> Builder::setAlternateImage(platform::Button* button) const
{
    return ir(button).setButtonAlternateImage(
        m_state->source, placeholderImage(), m_state->options, forwardingProgress(), forwardingCompletion());
}

std::optional<DownloadTask> Builder::set(const std::shared_ptr<platform::TextAttachment>& attachment,
    std::function<QWidget*()> attributedView) const
{
    return ir(attachment)
        .setAttachmentImage(m_state->source, std::move(attributedView), placeholderImage(), m_state->options,
            forwardingProgress(), forwardingCompletion());
}

Builder source(std::optional<Source> source)
{
    return Builder(std::move(source));
}

Builder resource(const std::shared_ptr<const Resource>& resource)
{
    return Builder(resource ? std::optional(convertToSource(*resource)) : std::nullopt);
}

Builder url(const std::optional<QUrl>& url, std::optional<QString> cacheKey)
{
    return Builder(url ? std::optional(convertToSource(*url, std::move(cacheKey))) : std::nullopt);
}

Builder data(const std::optional<QByteArray>& data, const QString& cacheKey)
{
    if (!data)
        return Builder(std::nullopt);
    return Builder(Source::makeProvider(RawImageDataProvider(*data, cacheKey)));
}

Builder dataProvider(std::shared_ptr<const ImageDataProvider> provider)
{
    return Builder(provider ? std::optional(Source::provider(std::move(provider))) : std::nullopt);
}

} // namespace iris::IR
