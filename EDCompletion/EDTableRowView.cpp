#include "EDCompletion/EDTableRowView.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr double selectionCornerRadius = 4.0;
constexpr double selectionAlpha = 0.7;

} // namespace

EDTableRowView::EDTableRowView(QWidget* parent)
    : QWidget(parent)
{
}

void EDTableRowView::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    if (selected) {
        QPalette highlighted;
        const QColor text = palette().color(QPalette::HighlightedText);
        highlighted.setColor(QPalette::WindowText, text);
        highlighted.setColor(QPalette::Text, text);
        setPalette(highlighted);
    } else {
        setPalette(QPalette());
    }
    update();
}

void EDTableRowView::drawSelectionInRect(QPainter& painter, const QRectF& rect)
{
    QColor accent = palette().color(QPalette::Highlight);
    accent.setAlphaF(selectionAlpha);
    QPainterPath path;
    path.addRoundedRect(rect, selectionCornerRadius, selectionCornerRadius);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, accent);
    painter.restore();
}

void EDTableRowView::paintEvent(QPaintEvent*)
{
    if (!m_selected)
        return;
    QPainter painter(this);
    drawSelectionInRect(painter, rect());
}
