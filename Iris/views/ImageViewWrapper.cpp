#include "Iris/views/ImageViewWrapper.h"

#include "Iris/general/ImageDataProvider.h"
#include "Iris/image/Placeholder.h"
#include "Iris/utility/AssociatedState.h"
#include "Iris/views/AnimatedImageFrames.h"
#include "Iris/views/ImageSettingRoad.h"

#include "platform/ui/ImageView.h"

#include <QEvent>
#include <QPointer>

#include <cmath>

namespace iris {

namespace {

// One static byte per item of an image view's state: its address is the item's key.
const char imageTaskKey = 0;
const char indicatorKey = 0;
const char indicatorTypeKey = 0;
const char placeholderKey = 0;

// Keeps an indicator's view centred in its image view (plus the offset) and sized by the strategy
// as the image view resizes. A child of the indicator's view, so it goes with it.
class IndicatorPlacement final : public QObject {
public:
    IndicatorPlacement(
        QWidget* view, platform::ImageView* host, platform::Point offset, IndicatorSizeStrategy strategy)
        : QObject(view)
        , m_view(view)
        , m_host(host)
        , m_offset(offset)
        , m_strategy(strategy)
    {
        host->installEventFilter(this);
        place();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_host && event->type() == QEvent::Resize)
            place();
        return false;
    }

private:
    void place()
    {
        if (!m_view || !m_host || m_view->parentWidget() != m_host)
            return;
        QSizeF size;
        switch (m_strategy.kind()) {
        case IndicatorSizeStrategy::Kind::intrinsicSize:
            size = m_view->sizeHint().isValid() ? m_view->sizeHint() : m_view->size();
            break;
        case IndicatorSizeStrategy::Kind::full:
            size = m_host->size();
            break;
        case IndicatorSizeStrategy::Kind::size:
            size = QSizeF(m_strategy.fixedSize().width, m_strategy.fixedSize().height);
            break;
        }
        QRectF frame(QPointF(), size);
        frame.moveCenter(QRectF(m_host->rect()).center() + QPointF(m_offset.x, m_offset.y));
        m_view->setGeometry(frame.toRect());
    }

    QPointer<QWidget> m_view;
    // Held as a plain widget: the host still sends events through this filter while it is being
    // destroyed, when it is no longer an image view.
    QPointer<QWidget> m_host;
    platform::Point m_offset;
    IndicatorSizeStrategy m_strategy;
};

void removePlacements(QWidget* view)
{
    const QObjectList children = view->children();
    for (QObject* child : children) {
        if (dynamic_cast<IndicatorPlacement*>(child))
            delete child;
    }
}

std::shared_ptr<ImageTaskSlot> slotOf(platform::ImageView* view)
{
    return ImageTaskSlot::of(static_cast<QObject&>(*view), *view, &imageTaskKey);
}

} // namespace

std::optional<DownloadTask> ImageViewWrapper::setImage(std::optional<Source> source,
    std::shared_ptr<Placeholder> placeholder, const std::optional<IrisOptionsInfo>& options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    return setImage(std::move(source), std::move(placeholder), parseImageSettingOptions(options),
        std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ImageViewWrapper::setImage(const std::shared_ptr<const Resource>& resource,
    std::shared_ptr<Placeholder> placeholder, const std::optional<IrisOptionsInfo>& options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    std::optional<Source> source;
    if (resource)
        source = convertToSource(*resource);
    return setImage(
        std::move(source), std::move(placeholder), options, std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ImageViewWrapper::setImage(
    const std::shared_ptr<const ImageDataProvider>& provider, std::shared_ptr<Placeholder> placeholder,
    const std::optional<IrisOptionsInfo>& options, DownloadProgressCallback progress,
    RetrieveImageCompletion completion) const
{
    std::optional<Source> source;
    if (provider)
        source = Source::provider(provider);
    return setImage(
        std::move(source), std::move(placeholder), options, std::move(progress), std::move(completion));
}

std::optional<DownloadTask> ImageViewWrapper::setImage(std::optional<Source> source,
    std::shared_ptr<Placeholder> placeholder, IrisParsedOptionsInfo options,
    DownloadProgressCallback progress, RetrieveImageCompletion completion) const
{
    installAnimatedImageFrameSources();
    if (!source) {
        setPlaceholder(std::move(placeholder));
        setTaskIdentifier(std::nullopt);
        if (completion)
            completion(RetrieveImageResultOrError::failure(emptySourceError()));
        return std::nullopt;
    }

    if (base->image()) {
        if (!options.keepCurrentImageWhileLoading)
            setPlaceholder(std::move(placeholder));
    } else if (!(this->placeholder() && options.keepCurrentImageWhileLoading)) {
        setPlaceholder(std::move(placeholder));
    }

    // The indicator started here is the one stopped when the answer arrives, even if another has
    // been installed in between.
    std::shared_ptr<Indicator> startedIndicator = indicator();
    if (startedIndicator)
        startedIndicator->startAnimatingView();

    if (base->shouldPreloadAllAnimation())
        options.preloadAllAnimationData = true;

    const QPointer<platform::ImageView> view(base);
    ImageSettingRequest request(std::move(*source));
    request.options = std::move(options);
    request.slot = slotOf(base);
    request.progress = std::move(progress);
    request.targetAlive = [view] { return !view.isNull(); };
    request.showPartialImage
        = [view](std::shared_ptr<platform::Image> image) { view->setImage(std::move(image)); };
    request.answerArrived = [startedIndicator] {
        if (startedIndicator)
            startedIndicator->stopAnimatingView();
    };
    request.applyOutcome = [view](const RetrieveImageResultOrError& outcome,
                               const ImageSettingRequest::FailureImage& failureImage) {
        const ImageViewWrapper wrapper { view.data() };
        if (outcome.isSuccess()) {
            wrapper.setPlaceholder(nullptr);
            view->setImage(outcome.value().image);
        } else if (failureImage) {
            wrapper.setPlaceholder(nullptr);
            view->setImage(*failureImage);
        }
    };
    request.completion = std::move(completion);
    return runImageSettingRequest(std::move(request));
}

void ImageViewWrapper::cancelDownloadTask() const
{
    if (std::optional<DownloadTask> task = imageTask())
        task->cancel();
}

std::optional<std::uint64_t> ImageViewWrapper::taskIdentifier() const
{
    std::shared_ptr<ImageTaskSlot> slot = ImageTaskSlot::existing(*base, &imageTaskKey);
    return slot ? slot->taskIdentifier() : std::nullopt;
}

void ImageViewWrapper::setTaskIdentifier(std::optional<std::uint64_t> identifier) const
{
    slotOf(base)->setTaskIdentifier(identifier);
}

std::optional<DownloadTask> ImageViewWrapper::imageTask() const
{
    std::shared_ptr<ImageTaskSlot> slot = ImageTaskSlot::existing(*base, &imageTaskKey);
    return slot ? slot->imageTask() : std::nullopt;
}

void ImageViewWrapper::setImageTask(std::optional<DownloadTask> task) const
{
    slotOf(base)->setImageTask(std::move(task));
}

std::shared_ptr<Placeholder> ImageViewWrapper::placeholder() const
{
    return getAssociatedPlaceholder(*base, &placeholderKey);
}

void ImageViewWrapper::setPlaceholder(std::shared_ptr<Placeholder> placeholder) const
{
    if (std::shared_ptr<Placeholder> current = this->placeholder())
        current->remove(*base);
    if (placeholder)
        placeholder->add(*base);
    else
        base->setImage(nullptr);
    setAssociatedValue(*base, &placeholderKey, placeholder ? std::optional(placeholder) : std::nullopt);
}

IndicatorType ImageViewWrapper::indicatorType() const
{
    return getAssociatedIndicatorType(*base, &indicatorTypeKey).value_or(IndicatorType::none());
}

void ImageViewWrapper::setIndicatorType(IndicatorType type) const
{
    switch (type.kind()) {
    case IndicatorType::Kind::none:
        setIndicator(nullptr);
        break;
    case IndicatorType::Kind::activity:
        setIndicator(std::make_shared<ActivityIndicator>());
        break;
    case IndicatorType::Kind::image:
        setIndicator(ImageIndicator::create(type.imageData()));
        break;
    case IndicatorType::Kind::custom:
        setIndicator(type.indicator());
        break;
    }
    setAssociatedValue(*base, &indicatorTypeKey, std::optional(std::move(type)));
}

std::shared_ptr<Indicator> ImageViewWrapper::indicator() const
{
    auto box = getAssociatedIndicatorBox(*base, &indicatorKey);
    return box ? box->value : nullptr;
}

void ImageViewWrapper::setIndicator(std::shared_ptr<Indicator> indicator) const
{
    if (std::shared_ptr<Indicator> current = this->indicator()) {
        if (QWidget* view = current->view()) {
            removePlacements(view);
            view->hide();
            view->setParent(nullptr);
        }
    }
    if (indicator) {
        if (QWidget* view = indicator->view()) {
            removePlacements(view);
            view->setParent(base);
            new IndicatorPlacement(view, base, indicator->centerOffset(), indicator->sizeStrategy(*base));
            view->setHidden(true);
        }
    }
    setAssociatedValue(*base, &indicatorKey,
        indicator ? std::optional(std::make_shared<Box<std::shared_ptr<Indicator>>>(std::move(indicator)))
                  : std::nullopt);
}

} // namespace iris
