#include "EDTextView/EDRulerMarker.h"

#include "platform/ui/RulerView.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {

constexpr double tabShoulder = 0.85;
constexpr double markerOpacity = 0.7;

} // namespace

EDRulerMarker::EDRulerMarker(platform::RulerView& ruler, double markerLocation, double height)
    : RulerMarker(&ruler, markerLocation, QImage(), QPointF(0, 0))
    , m_size(ruler.ruleThickness(), height)
{
    setImageSize(m_size);
}

void EDRulerMarker::setSize(QSizeF size)
{
    m_size = size;
    setImageSize(size);
}

void EDRulerMarker::drawImage(QPainter& painter, const QRectF& rect) const
{
    painter.translate(rect.topLeft());
    drawMarker(painter, QRectF(QPointF(0, 0), rect.size()));
}

void EDRulerMarker::drawMarker(QPainter& painter, const QRectF& rect) const
{
    const double w = rect.width();
    const double h = rect.height();
    QPainterPath path;
    path.moveTo(0, h);
    path.lineTo(tabShoulder * w, h);
    path.cubicTo(tabShoulder * w, h, w, 0.6 * h, w, 0.5 * h);
    path.cubicTo(w, 0.4 * h, tabShoulder * w, 0, tabShoulder * w, 0);
    path.lineTo(0, 0);
    path.lineTo(0, h);
    path.closeSubpath();
    QColor accent = (ruler() ? ruler()->palette() : QGuiApplication::palette()).color(QPalette::Highlight);
    accent.setAlphaF(float(markerOpacity));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path.translated(rect.topLeft()), accent);
    painter.restore();
}
