#include "platform/ui/ProgressIndicator.h"

#include <QPainter>

#include <algorithm>

namespace platform {

namespace {

// One turn a second, in steps a display can show smoothly without keeping the program busy.
constexpr int stepMilliseconds = 33;
constexpr int degreesPerStep = 360 * stepMilliseconds / 1000;

} // namespace

ProgressIndicator::ProgressIndicator(QWidget* parent)
    : QWidget(parent)
{
    m_timer.setInterval(stepMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + degreesPerStep) % 360;
        update();
    });
    resize(sizeHint());
}

void ProgressIndicator::setControlSize(ControlSize size)
{
    m_controlSize = size;
    updateGeometry();
    update();
}

void ProgressIndicator::startAnimation()
{
    m_animating = true;
    followVisibility();
}

void ProgressIndicator::stopAnimation()
{
    m_animating = false;
    followVisibility();
    update();
}

// A minimized window's widgets get a hide event yet stay visible, so the events decide.
void ProgressIndicator::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_shown = true;
    followVisibility();
}

void ProgressIndicator::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_shown = false;
    followVisibility();
}

void ProgressIndicator::followVisibility()
{
    if (m_animating && m_shown) {
        if (!m_timer.isActive())
            m_timer.start();
    } else {
        m_timer.stop();
    }
}

QSize ProgressIndicator::sizeHint() const
{
    return m_controlSize == ControlSize::small ? QSize(16, 16) : QSize(32, 32);
}

void ProgressIndicator::paintEvent(QPaintEvent*)
{
    const qreal side = std::min(width(), height());
    if (side < 4)
        return;
    const qreal pen = std::max<qreal>(1.5, side / 8);
    QRectF circle(0, 0, side - pen, side - pen);
    circle.moveCenter(QRectF(rect()).center());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.2);
    painter.setPen(QPen(track, pen));
    painter.drawEllipse(circle);
    if (!isAnimating())
        return;
    painter.setPen(QPen(palette().color(QPalette::Highlight), pen, Qt::SolidLine, Qt::RoundCap));
    // Qt counts angles anticlockwise in sixteenths of a degree; the arc turns clockwise.
    painter.drawArc(circle, -m_angle * 16, 100 * 16);
}

} // namespace platform
