#include "EDTextView/EDInsertionPointView.h"

#include <QPainter>

EDTextInsertionIndicator::EDTextInsertionIndicator(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(blinkIntervalMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_hidden = !m_hidden;
        setNeedsDisplay();
    });
}

void EDTextInsertionIndicator::setInsertionPointColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    setNeedsDisplay();
}

void EDTextInsertionIndicator::blinkStart()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void EDTextInsertionIndicator::blinkStop()
{
    m_timer.stop();
    if (m_hidden) {
        m_hidden = false;
        setNeedsDisplay();
    }
}

void EDTextInsertionIndicator::paint(QPainter& painter, const QRectF& rect) const
{
    if (m_hidden)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color);
    painter.drawRoundedRect(rect, cornerRadius, cornerRadius);
    painter.restore();
}
