#include "platform/ui/RulerMarker.h"

#include "platform/ui/RulerView.h"

#include <QPainter>

namespace platform {

RulerMarker::RulerMarker(RulerView* ruler, double markerLocation, QImage image, QPointF imageOrigin)
    : m_ruler(ruler)
    , m_markerLocation(markerLocation)
    , m_image(std::move(image))
    , m_imageSize(m_image.deviceIndependentSize())
    , m_imageOrigin(imageOrigin)
{
}

RulerMarker::~RulerMarker() = default;

RulerView* RulerMarker::ruler() const
{
    return m_ruler;
}

void RulerMarker::setMarkerLocation(double location)
{
    m_markerLocation = location;
    redisplay();
}

void RulerMarker::setImage(QImage image)
{
    m_image = std::move(image);
    m_imageSize = m_image.deviceIndependentSize();
    redisplay();
}

void RulerMarker::setImageSize(QSizeF size)
{
    m_imageSize = size;
    redisplay();
}

void RulerMarker::setImageOrigin(QPointF origin)
{
    m_imageOrigin = origin;
    redisplay();
}

QRectF RulerMarker::imageRectInRuler() const
{
    if (!m_ruler)
        return {};
    const double y = m_ruler->convertFromClient(QPointF(0, m_markerLocation)).y();
    return QRectF(-m_imageOrigin.x(), y - m_imageSize.height() + m_imageOrigin.y(), m_imageSize.width(),
        m_imageSize.height());
}

void RulerMarker::drawImage(QPainter& painter, const QRectF& rect) const
{
    if (!m_image.isNull())
        painter.drawImage(rect, m_image);
}

void RulerMarker::redisplay() const
{
    if (m_inRuler && m_ruler)
        m_ruler->update();
}

} // namespace platform
