#include "Iris/views/Indicator.h"

#include "Iris/general/IrisOptionsInfo.h"
#include "Iris/image/ImageProcessor.h"
#include "Iris/views/AnimatedImageFrames.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/graphics/Image.h"
#include "platform/ui/AnimatedImageView.h"
#include "platform/ui/ProgressIndicator.h"

#include <algorithm>

namespace iris {

void deleteViewOnMainThread(QPointer<QWidget> view)
{
    if (platform::DispatchQueue::isMainThread()) {
        delete view.data();
        return;
    }
    platform::DispatchQueue::main()->async([view] { delete view.data(); });
}

ActivityIndicator::ActivityIndicator()
{
    auto* view = new platform::ProgressIndicator;
    view->setControlSize(platform::ProgressIndicator::ControlSize::small);
    view->setGeometry(0, 0, 16, 16);
    m_activityIndicatorView = view;
}

ActivityIndicator::~ActivityIndicator()
{
    deleteViewOnMainThread(m_activityIndicatorView);
}

void ActivityIndicator::startAnimatingView()
{
    // A view taken out of its image view is not shown again: it would become a window of its own.
    if (m_animatingCount == 0 && m_activityIndicatorView && m_activityIndicatorView->parentWidget()) {
        activityIndicatorView()->startAnimation();
        m_activityIndicatorView->setHidden(false);
    }
    ++m_animatingCount;
}

void ActivityIndicator::stopAnimatingView()
{
    m_animatingCount = std::max(m_animatingCount - 1, 0);
    if (m_animatingCount == 0 && m_activityIndicatorView) {
        activityIndicatorView()->stopAnimation();
        m_activityIndicatorView->setHidden(true);
    }
}

QWidget* ActivityIndicator::view() const
{
    return m_activityIndicatorView;
}

platform::ProgressIndicator* ActivityIndicator::activityIndicatorView() const
{
    return static_cast<platform::ProgressIndicator*>(m_activityIndicatorView.data());
}

std::shared_ptr<ImageIndicator> ImageIndicator::create(
    const QByteArray& imageData, const IrisParsedOptionsInfo* options)
{
    IrisParsedOptionsInfo parsed = options ? *options : IrisParsedOptionsInfo();
    parsed.preloadAllAnimationData = true;
    std::shared_ptr<platform::Image> image
        = DefaultImageProcessor::shared()->process(ImageProcessItem::data(imageData), parsed);
    if (!image)
        return nullptr;
    installAnimatedImageFrameSources();
    auto* view = new platform::AnimatedImageView;
    view->setImageScaling(platform::ImageView::ImageScaling::none);
    view->setImage(std::move(image));
    return std::shared_ptr<ImageIndicator>(new ImageIndicator(view));
}

ImageIndicator::ImageIndicator(platform::AnimatedImageView* view)
    : m_animatedImageIndicatorView(view)
{
}

ImageIndicator::~ImageIndicator()
{
    deleteViewOnMainThread(m_animatedImageIndicatorView);
}

void ImageIndicator::startAnimatingView()
{
    if (m_animatingCount == 0 && m_animatedImageIndicatorView
        && m_animatedImageIndicatorView->parentWidget()) {
        animatedImageIndicatorView()->setAnimates(true);
        m_animatedImageIndicatorView->setHidden(false);
    }
    ++m_animatingCount;
}

void ImageIndicator::stopAnimatingView()
{
    m_animatingCount = std::max(m_animatingCount - 1, 0);
    if (m_animatingCount == 0 && m_animatedImageIndicatorView) {
        animatedImageIndicatorView()->setAnimates(false);
        m_animatedImageIndicatorView->setHidden(true);
    }
}

QWidget* ImageIndicator::view() const
{
    return m_animatedImageIndicatorView;
}

platform::AnimatedImageView* ImageIndicator::animatedImageIndicatorView() const
{
    return static_cast<platform::AnimatedImageView*>(m_animatedImageIndicatorView.data());
}

} // namespace iris
