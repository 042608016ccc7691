#include "platform/ui/RulerView.h"

#include "platform/ui/RulerClient.h"
#include "platform/ui/RulerMarker.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

const char rulersVisibleProperty[] = "platformRulersVisible";

// QAbstractScrollArea keeps its viewport margins protected, meant for subclasses. The ruler owns
// the left margin of whatever scroll view it sits in, subclass or not, so it reaches them through
// member pointers named via a subclass, which the language allows.
struct MarginAccess : QAbstractScrollArea {
    using QAbstractScrollArea::setViewportMargins;
    using QAbstractScrollArea::viewportMargins;
};

QMargins viewportMargins(const QAbstractScrollArea& scrollView)
{
    QMargins (QAbstractScrollArea::*get)() const = &MarginAccess::viewportMargins;
    return (scrollView.*get)();
}

void setLeftViewportMargin(QAbstractScrollArea& scrollView, int left)
{
    QMargins margins = viewportMargins(scrollView);
    if (margins.left() == left)
        return;
    margins.setLeft(left);
    void (QAbstractScrollArea::*set)(const QMargins&) = &MarginAccess::setViewportMargins;
    (scrollView.*set)(margins);
}

// Hash marks every 10 client units, longer every 50, longest and labelled every 100.
constexpr qint64 hashMarkStep = 10;

} // namespace

RulerView::RulerView(QAbstractScrollArea* scrollView)
{
    watchScrollView(scrollView);
}

RulerView::~RulerView()
{
    setClientView(nullptr);
    uninstall();
    for (const auto& marker : m_markers)
        marker->m_inRuler = false;
}

RulerView* RulerView::verticalRuler(const QAbstractScrollArea& scrollView)
{
    for (auto* ruler : scrollView.findChildren<RulerView*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (ruler->m_installed)
            return ruler;
    }
    return nullptr;
}

void RulerView::setVerticalRuler(QAbstractScrollArea& scrollView, RulerView* ruler)
{
    RulerView* old = verticalRuler(scrollView);
    if (old == ruler) {
        if (ruler)
            ruler->tile();
        return;
    }
    if (old) {
        old->uninstall();
        old->setParent(nullptr);
        old->deleteLater();
    }
    if (ruler) {
        ruler->uninstall();
        ruler->install(scrollView);
    }
}

bool RulerView::rulersVisible(const QAbstractScrollArea& scrollView)
{
    return scrollView.property(rulersVisibleProperty).toBool();
}

void RulerView::setRulersVisible(QAbstractScrollArea& scrollView, bool visible)
{
    scrollView.setProperty(rulersVisibleProperty, visible);
    if (RulerView* ruler = verticalRuler(scrollView))
        ruler->tile();
}

QAbstractScrollArea* RulerView::scrollView() const
{
    return qobject_cast<QAbstractScrollArea*>(m_scrollView);
}

void RulerView::watchScrollView(QAbstractScrollArea* scrollView)
{
    disconnect(m_scrollViewDestroyed);
    m_scrollView = scrollView;
    if (scrollView) {
        m_scrollViewDestroyed = connect(scrollView, &QObject::destroyed, this, [this] {
            m_scrollView = nullptr;
            m_installed = false;
        });
    }
}

void RulerView::install(QAbstractScrollArea& scrollView)
{
    watchScrollView(&scrollView);
    setParent(&scrollView);
    m_installed = true;
    m_viewport = scrollView.viewport();
    m_viewport->installEventFilter(this);
    m_scrolled
        = connect(scrollView.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { update(); });
    tile();
}

void RulerView::uninstall()
{
    if (!m_installed)
        return;
    m_installed = false;
    disconnect(m_scrolled);
    if (m_viewport)
        m_viewport->removeEventFilter(this);
    if (QAbstractScrollArea* area = scrollView())
        setLeftViewportMargin(*area, 0);
}

void RulerView::setClientView(RulerClient* client)
{
    if (client == m_client)
        return;
    if (m_client)
        std::erase(m_client->m_rulers, this);
    m_client = client;
    if (client)
        client->m_rulers.push_back(this);
    if (!m_markers.empty())
        setMarkers({});
    update();
}

void RulerView::setRuleThickness(double thickness)
{
    thickness = std::max(0.0, thickness);
    if (thickness == m_ruleThickness)
        return;
    m_ruleThickness = thickness;
    tile();
    update();
}

void RulerView::setReservedThicknessForMarkers(double thickness)
{
    thickness = std::max(0.0, thickness);
    if (thickness == m_reservedThicknessForMarkers)
        return;
    m_reservedThicknessForMarkers = thickness;
    tile();
    update();
}

double RulerView::requiredThickness() const
{
    return ruleThickness() + reservedThicknessForMarkers();
}

void RulerView::setMarkers(std::vector<std::shared_ptr<RulerMarker>> markers)
{
    for (const auto& marker : m_markers)
        marker->m_inRuler = false;
    m_markers.clear();
    for (auto& marker : markers) {
        if (!marker || marker->ruler() != this || marker->m_inRuler)
            continue;
        marker->m_inRuler = true;
        m_markers.push_back(std::move(marker));
    }
    update();
}

void RulerView::addMarker(std::shared_ptr<RulerMarker> marker)
{
    if (!marker || marker->ruler() != this || marker->m_inRuler)
        return;
    marker->m_inRuler = true;
    m_markers.push_back(std::move(marker));
    update();
}

void RulerView::removeMarker(const RulerMarker& marker)
{
    auto found = std::find_if(
        m_markers.begin(), m_markers.end(), [&](const auto& held) { return held.get() == &marker; });
    if (found == m_markers.end())
        return;
    (*found)->m_inRuler = false;
    m_markers.erase(found);
    update();
}

void RulerView::invalidateHashMarks()
{
    update();
}

void RulerView::tile()
{
    QAbstractScrollArea* area = scrollView();
    if (!m_installed || !area)
        return;
    const bool visible = rulersVisible(*area);
    setLeftViewportMargin(*area, visible ? int(std::ceil(requiredThickness())) : 0);
    setVisible(visible);
    placeInViewportMargin();
}

void RulerView::placeInViewportMargin()
{
    QAbstractScrollArea* area = scrollView();
    if (!m_installed || !area)
        return;
    const QRect viewport = area->viewport()->geometry();
    const int left = viewportMargins(*area).left();
    setGeometry(viewport.x() - left, viewport.y(), left, viewport.height());
}

QPointF RulerView::scrolledContentOrigin() const
{
    QAbstractScrollArea* area = scrollView();
    if (!area)
        return {};
    return QPointF(-area->horizontalScrollBar()->value(), -area->verticalScrollBar()->value());
}

QPointF RulerView::clientOrigin() const
{
    return m_client ? m_client->rulerViewClientOrigin(*this) : scrolledContentOrigin();
}

QPointF RulerView::viewportOriginInRuler() const
{
    QAbstractScrollArea* area = scrollView();
    if (m_installed && area)
        return area->viewport()->geometry().topLeft() - geometry().topLeft();
    return QPointF(width(), 0);
}

QPointF RulerView::convertFromClient(QPointF point) const
{
    return point + clientOrigin() + viewportOriginInRuler();
}

QPointF RulerView::convertToClient(QPointF point) const
{
    return point - clientOrigin() - viewportOriginInRuler();
}

void RulerView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    drawRect(painter, event->rect());
}

void RulerView::drawRect(QPainter& painter, const QRectF& dirtyRect)
{
    painter.fillRect(dirtyRect, palette().color(QPalette::Window));
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    const double separatorX = width() - 0.5;
    painter.drawLine(QPointF(separatorX, dirtyRect.top()), QPointF(separatorX, dirtyRect.bottom() + 1));
    drawHashMarksAndLabels(painter, dirtyRect);
    if (!m_markers.empty())
        drawMarkers(painter, dirtyRect);
}

void RulerView::drawHashMarksAndLabels(QPainter& painter, const QRectF& dirtyRect)
{
    const double rule = ruleThickness();
    if (rule <= 0)
        return;
    const double inner = width();
    const double originY = convertFromClient(QPointF(0, 0)).y();

    QFont labelFont = font();
    labelFont.setPointSizeF(std::max(6.0, labelFont.pointSizeF() * 0.7));
    const QFontMetricsF metrics(labelFont);

    painter.save();
    painter.setClipRect(QRectF(inner - rule, dirtyRect.top(), rule, dirtyRect.height()));
    painter.setFont(labelFont);
    painter.setPen(QPen(palette().color(QPalette::PlaceholderText), 1));
    // A label hangs below its mark, so marks just above the dirty rectangle may still show theirs.
    const qint64 first
        = qint64(std::floor((dirtyRect.top() - metrics.height() - originY) / hashMarkStep)) * hashMarkStep;
    const qint64 last = qint64(std::ceil((dirtyRect.bottom() - originY) / hashMarkStep)) * hashMarkStep;
    for (qint64 value = first; value <= last; value += hashMarkStep) {
        const double y = std::floor(originY + double(value)) + 0.5;
        const bool labelled = value % 100 == 0;
        const double length = labelled ? rule * 0.75 : value % 50 == 0 ? rule * 0.5 : rule * 0.25;
        painter.drawLine(QPointF(inner - length, y), QPointF(inner, y));
        if (labelled)
            painter.drawText(QPointF(inner - rule + 1, y + 1 + metrics.ascent()), QString::number(value));
    }
    painter.restore();
}

void RulerView::drawMarkers(QPainter& painter, const QRectF& dirtyRect)
{
    for (const auto& marker : m_markers) {
        if (m_drag && m_drag->offRuler && m_drag->marker == marker)
            continue;
        const QRectF rect = marker->imageRectInRuler();
        if (rect.isEmpty() || !rect.intersects(dirtyRect))
            continue;
        painter.save();
        marker->drawImage(painter, rect);
        painter.restore();
    }
}

std::shared_ptr<RulerMarker> RulerView::trackableMarkerAt(QPointF point) const
{
    for (auto marker = m_markers.rbegin(); marker != m_markers.rend(); ++marker) {
        if (((*marker)->isMovable() || (*marker)->isRemovable())
            && (*marker)->imageRectInRuler().contains(point))
            return *marker;
    }
    return nullptr;
}

void RulerView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    m_drag.reset();
    if (auto marker = trackableMarkerAt(event->position())) {
        m_drag = MarkerDrag { std::move(marker), std::unique_ptr<QMouseEvent>(event->clone()) };
        return;
    }
    if (m_client)
        m_client->rulerViewHandleMouseDown(*this, *event);
}

void RulerView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_drag || !(event->buttons() & Qt::LeftButton))
        return;
    MarkerDrag& drag = *m_drag;
    if (!drag.marker->isInRuler()) {
        m_drag.reset();
        return;
    }
    if (!drag.moved) {
        if ((event->position() - drag.press->position()).manhattanLength()
            < QApplication::startDragDistance())
            return;
        drag.moved = true;
    }
    const bool offRuler
        = drag.marker->isRemovable() && (event->position().x() < 0 || event->position().x() >= width());
    if (offRuler != drag.offRuler) {
        drag.offRuler = offRuler;
        update();
    }
    if (!offRuler && drag.marker->isMovable()) {
        const QPointF point = convertToClient(event->position());
        drag.marker->setMarkerLocation(
            m_client ? m_client->rulerViewLocationForPoint(*this, point) : point.y());
    }
}

void RulerView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_drag)
        return;
    MarkerDrag drag = std::move(*m_drag);
    m_drag.reset();
    if (!drag.moved) {
        if (m_client)
            m_client->rulerViewHandleMouseDown(*this, *drag.press);
        return;
    }
    if (drag.offRuler && drag.marker->isInRuler()) {
        removeMarker(*drag.marker);
        if (m_client)
            m_client->rulerViewDidRemoveMarker(*this, *drag.marker);
    }
    update();
}

void RulerView::wheelEvent(QWheelEvent* event)
{
    // A wheel over the ruler scrolls its view, as one over the view's content does. Left ignored
    // when the view cannot scroll that way, so that an enclosing view scrolls instead.
    if (!m_installed || !m_viewport) {
        event->ignore();
        return;
    }
    QWheelEvent forwarded(m_viewport->mapFromGlobal(event->globalPosition()), event->globalPosition(),
        event->pixelDelta(), event->angleDelta(), event->buttons(), event->modifiers(), event->phase(),
        event->inverted(), event->source(), event->pointingDevice());
    forwarded.setTimestamp(event->timestamp());
    QCoreApplication::sendEvent(m_viewport, &forwarded);
    event->setAccepted(forwarded.isAccepted());
}

bool RulerView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_viewport && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placeInViewportMargin();
    return QWidget::eventFilter(watched, event);
}

} // namespace platform
