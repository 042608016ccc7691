#pragma once

#include "Iris/declarative/IROptionSetter.h"
#include "Iris/general/ImageDataProvider.h"
#include "Iris/general/IrisManager.h"
#include "Iris/general/Source.h"

#include <QByteArray>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace platform {
class Button;
class Image;
class ImageView;
class TextAttachment;
} // namespace platform

namespace iris {

class ImageProgressive;
class Placeholder;

// The chained way to load an image into a view, a button or a text attachment:
//
//     IR::url(address).placeholder(image).forceRefresh().onSuccess(...).set(imageView);
//
// A factory picks where the image comes from; setters write the retrieval options (a later one for
// the same field wins); a finishing call starts a load with a copy of the options as they are then.
namespace IR {

// A handle on one builder: copies refer to the same builder, so a chain of setters changes one set of
// options, and hooks registered after a load started are still seen by it. Each load keeps the
// builder alive until it ends. Main thread only.
class Builder : public IROptionSetter<Builder> {
public:
    struct State {
        std::optional<Source> source;
        std::shared_ptr<Placeholder> placeholder;
        IrisParsedOptionsInfo options;
        Delegate<IrisError, NoResult> onFailureDelegate;
        Delegate<RetrieveImageResult, NoResult> onSuccessDelegate;
        Delegate<std::pair<std::int64_t, std::int64_t>, NoResult> onProgressDelegate;
    };

    // Options parsed from the image-setting manager's default options, read now.
    explicit Builder(std::optional<Source> source);

    const std::optional<Source>& source() const { return m_state->source; }
    const std::shared_ptr<Placeholder>& placeholder() const { return m_state->placeholder; }
    // An image view shows any placeholder; buttons and attachments take only an image.
    Builder placeholder(std::shared_ptr<Placeholder> placeholder) const;
    Builder placeholder(std::shared_ptr<platform::Image> image) const;
    Builder keepCurrentImageWhileLoading(bool on = true) const;
    Builder onlyLoadFirstFrame(bool on = true) const;
    // Null switches progressive loading off.
    Builder progressiveJPEG(std::shared_ptr<const ImageProgressive> progressive) const;

    // Each returns the download the load started, if any.
    std::optional<DownloadTask> set(platform::ImageView* imageView) const;
    std::optional<DownloadTask> set(platform::Button* button) const;
    std::optional<DownloadTask> setAlternateImage(platform::Button* button) const;
    // `attributedView` gives the view that draws the attachment, redrawn when the image arrives.
    std::optional<DownloadTask> set(const std::shared_ptr<platform::TextAttachment>& attachment,
        std::function<QWidget*()> attributedView) const;

    // The option setter's requirements.
    IrisParsedOptionsInfo options() const { return m_state->options; }
    void setOptions(IrisParsedOptionsInfo options) const { m_state->options = std::move(options); }
    Delegate<IrisError, NoResult>& onFailureDelegate() const { return m_state->onFailureDelegate; }
    Delegate<RetrieveImageResult, NoResult>& onSuccessDelegate() const { return m_state->onSuccessDelegate; }
    Delegate<std::pair<std::int64_t, std::int64_t>, NoResult>& onProgressDelegate() const
    {
        return m_state->onProgressDelegate;
    }
    const std::shared_ptr<State>& hookTarget() const { return m_state; }

private:
    DownloadProgressCallback forwardingProgress() const;
    RetrieveImageCompletion forwardingCompletion() const;
    std::shared_ptr<platform::Image> placeholderImage() const;

    std::shared_ptr<State> m_state;
};

Builder source(std::optional<Source> source);
// A file URL is read from disk; any other URL is downloaded.
Builder resource(const std::shared_ptr<const Resource>& resource);
// `cacheKey` replaces the key the URL would give.
Builder url(const std::optional<QUrl>& url, std::optional<QString> cacheKey = std::nullopt);
Builder data(const std::optional<QByteArray>& data, const QString& cacheKey);
Builder dataProvider(std::shared_ptr<const ImageDataProvider> provider);

} // namespace IR

} // namespace iris
