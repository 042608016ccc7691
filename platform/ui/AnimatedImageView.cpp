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
    : ImageView(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { advance(); });
}

void AnimatedImageView::setImage(std::shared_ptr<Image> image)
{
    if (image == this->image())
        return;
    const QSize before = sizeHint();
    ImageView::setImage(std::move(image));
    m_frame = 0;
    m_loopsPlayed = 0;
    m_timer.stop();
    if (isVisible())
        scheduleNextFrame();
    if (sizeHint() != before)
        updateGeometry();
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

QSize AnimatedImageView::minimumSizeHint() const
{
    const QSize natural = sizeHint();
    return QSize(m_horizontalResistance < defaultPriority ? 0 : natural.width(),
        m_verticalResistance < defaultPriority ? 0 : natural.height());
}

void AnimatedImageView::paintEvent(QPaintEvent* event)
{
    const auto& shown = image();
    if (!shown || !shown->isAnimated()) {
        ImageView::paintEvent(event);
        return;
    }
    QSizeF size(shown->size().width, shown->size().height);
    if (size.isEmpty())
        return;
    if (size.width() > width() || size.height() > height())
        size.scale(QSizeF(this->size()), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(QRectF(rect()).center());
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, shown->frames()[static_cast<std::size_t>(m_frame)].bitmap.image());
}

void AnimatedImageView::showEvent(QShowEvent* event)
{
    ImageView::showEvent(event);
    if (!m_timer.isActive())
        scheduleNextFrame();
}

void AnimatedImageView::hideEvent(QHideEvent* event)
{
    ImageView::hideEvent(event);
    m_timer.stop();
}

void AnimatedImageView::scheduleNextFrame()
{
    if (!image() || image()->frames().size() < 2)
        return;
    const int loops = image()->loopCount();
    const bool lastFrame = m_frame + 1 == static_cast<int>(image()->frames().size());
    if (lastFrame && loops > 0 && m_loopsPlayed + 1 >= loops)
        return;
    const double seconds = frameSeconds(image()->frames()[static_cast<std::size_t>(m_frame)].duration);
    m_timer.start(static_cast<int>(std::lround(seconds * 1000)));
}

void AnimatedImageView::advance()
{
    if (!image() || image()->frames().empty())
        return;
    ++m_frame;
    if (m_frame >= static_cast<int>(image()->frames().size())) {
        m_frame = 0;
        ++m_loopsPlayed;
    }
    update();
    scheduleNextFrame();
}

} // namespace platform
