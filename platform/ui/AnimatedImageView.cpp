#include "platform/ui/AnimatedImageView.h"

#include "platform/graphics/Image.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// Frames that claim no time (or next to none) would spin the event loop; show them as most
// viewers do.
constexpr double shortestFrameSeconds = 0.02;
constexpr double substituteFrameSeconds = 0.1;

double frameSeconds(double duration)
{
    if (!std::isfinite(duration) || duration < shortestFrameSeconds)
        return substituteFrameSeconds;
    return std::min(duration, 3600.0);
}

} // namespace

AnimatedImageView::AnimatedImageView(QWidget* parent)
    : QWidget(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { advance(); });
}

void AnimatedImageView::setImage(std::shared_ptr<Image> image)
{
    if (image == m_image)
        return;
    const bool sizeChanged = !image || !m_image || image->size().width != m_image->size().width
        || image->size().height != m_image->size().height;
    m_image = std::move(image);
    m_frame = 0;
    m_loopsPlayed = 0;
    m_timer.stop();
    if (isVisible())
        scheduleNextFrame();
    if (sizeChanged)
        updateGeometry();
    update();
}

void AnimatedImageView::setContentCompressionResistancePriority(float priority, Qt::Orientation orientation)
{
    (orientation == Qt::Horizontal ? m_horizontalResistance : m_verticalResistance) = priority;
    updateGeometry();
}

float AnimatedImageView::contentCompressionResistancePriority(Qt::Orientation orientation) const
{
    return orientation == Qt::Horizontal ? m_horizontalResistance : m_verticalResistance;
}

QSize AnimatedImageView::sizeHint() const
{
    if (!m_image)
        return {};
    return QSize(static_cast<int>(std::ceil(m_image->size().width)),
        static_cast<int>(std::ceil(m_image->size().height)));
}

QSize AnimatedImageView::minimumSizeHint() const
{
    const QSize natural = sizeHint();
    return QSize(m_horizontalResistance < defaultPriority ? 0 : natural.width(),
        m_verticalResistance < defaultPriority ? 0 : natural.height());
}

void AnimatedImageView::paintEvent(QPaintEvent*)
{
    if (!m_image)
        return;
    const Bitmap* bitmap = nullptr;
    if (m_image->isAnimated())
        bitmap = &m_image->frames()[static_cast<std::size_t>(m_frame)].bitmap;
    else
        bitmap = m_image->bitmap();
    if (!bitmap)
        return;
    QSizeF size(m_image->size().width, m_image->size().height);
    if (size.isEmpty())
        return;
    if (size.width() > width() || size.height() > height())
        size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(QRectF(rect()).center());
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, bitmap->image());
}

void AnimatedImageView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_timer.isActive())
        scheduleNextFrame();
}

void AnimatedImageView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}

void AnimatedImageView::scheduleNextFrame()
{
    if (!m_image || m_image->frames().size() < 2)
        return;
    const int loops = m_image->loopCount();
    const bool lastFrame = m_frame + 1 == static_cast<int>(m_image->frames().size());
    if (lastFrame && loops > 0 && m_loopsPlayed + 1 >= loops)
        return;
    const double seconds = frameSeconds(m_image->frames()[static_cast<std::size_t>(m_frame)].duration);
    m_timer.start(static_cast<int>(std::lround(seconds * 1000)));
}

void AnimatedImageView::advance()
{
    if (!m_image || m_image->frames().empty())
        return;
    ++m_frame;
    if (m_frame >= static_cast<int>(m_image->frames().size())) {
        m_frame = 0;
        ++m_loopsPlayed;
    }
    update();
    scheduleNextFrame();
}

} // namespace platform
