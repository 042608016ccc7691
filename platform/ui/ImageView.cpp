#include "platform/ui/ImageView.h"

#include "platform/graphics/Image.h"

#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QPropertyAnimation>

#include <cmath>

namespace platform {

ImageView::ImageView(QWidget* parent)
    : QWidget(parent)
{
}

ImageView::~ImageView() = default;

void ImageView::setImage(std::shared_ptr<Image> image)
{
    stopFade();
    m_image = std::move(image);
    update();
}

void ImageView::setImage(std::shared_ptr<Image> image, double fadeSeconds)
{
    if (!(fadeSeconds > 0) || !std::isfinite(fadeSeconds)) {
        setImage(std::move(image));
        return;
    }
    setImage(std::move(image));
    auto* effect = new QGraphicsOpacityEffect(this);
    effect->setOpacity(0);
    setGraphicsEffect(effect);
    m_fade = new QPropertyAnimation(effect, "opacity", this);
    m_fade->setDuration(int(std::lround(fadeSeconds * 1000)));
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
    m_fade->setEasingCurve(QEasingCurve::Linear);
    connect(m_fade, &QPropertyAnimation::finished, this, [this] { stopFade(); });
    m_fade->start();
}

void ImageView::stopFade()
{
    if (!m_fade)
        return;
    // The animation is deleted after its signal returns; the effect goes with setGraphicsEffect.
    m_fade->disconnect(this);
    m_fade->stop();
    m_fade->deleteLater();
    m_fade = nullptr;
    setGraphicsEffect(nullptr);
}

void ImageView::setImageScaling(ImageScaling scaling)
{
    m_imageScaling = scaling;
    update();
}

void ImageView::setHighlighted(bool highlighted)
{
    m_highlighted = highlighted;
    update();
}

QRectF ImageView::placement(QSizeF pictureSize, const QRectF& bounds, ImageScaling scaling)
{
    QSizeF shown = pictureSize;
    switch (scaling) {
    case ImageScaling::axesIndependently:
        return bounds;
    case ImageScaling::none:
        break;
    case ImageScaling::proportionallyUpOrDown:
        shown = pictureSize.scaled(bounds.size(), Qt::KeepAspectRatio);
        break;
    case ImageScaling::proportionallyDown:
        if (shown.width() > bounds.width() || shown.height() > bounds.height())
            shown = pictureSize.scaled(bounds.size(), Qt::KeepAspectRatio);
        break;
    }
    QRectF target(QPointF(), shown);
    target.moveCenter(bounds.center());
    return target;
}

QSize ImageView::sizeHint() const
{
    if (!m_image)
        return QSize(0, 0);
    return QSize(int(std::ceil(m_image->size().width)), int(std::ceil(m_image->size().height)));
}

void ImageView::paintEvent(QPaintEvent*)
{
    if (!m_image || !m_image->bitmap())
        return;
    const QSizeF imageSize(m_image->size().width, m_image->size().height);
    if (imageSize.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(placement(imageSize, QRectF(rect()), m_imageScaling), m_image->bitmap()->image());
}

} // namespace platform
