#include "EDTextView/EDScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

EDScrollBar::EDScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
{
}

EDScrollBar::Look EDScrollBar::look() const
{
    // The arrows of most styles look disabled at the ends.
    return Look { value() <= minimum(), value() >= maximum() };
}

QRect EDScrollBar::handleRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
}

void EDScrollBar::sliderChange(SliderChange change)
{
    // Bars that fade in when scrolled need the base class's handling; so does anything but a move
    // or a new range.
    const bool movable
        = change == SliderValueChange || change == SliderRangeChange || change == SliderStepsChange;
    if (!movable || m_paintedHandle.isEmpty() || look() != m_paintedLook
        || style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this)) {
        QScrollBar::sliderChange(change);
        return;
    }
    const QRect handle = handleRect();
    if (handle == m_paintedHandle)
        return;
    // Styles draw borders and shadows a little outside the handle's rectangle: a margin of the
    // bar's thickness along it covers them.
    const int margin = orientation() == Qt::Vertical ? width() : height();
    const QRect moved = handle.united(m_paintedHandle);
    update(orientation() == Qt::Vertical
            ? QRect(0, moved.top() - margin, width(), moved.height() + 2 * margin)
            : QRect(moved.left() - margin, 0, moved.width() + 2 * margin, height()));
}

void EDScrollBar::paintEvent(QPaintEvent* event)
{
    QScrollBar::paintEvent(event);
    m_paintedHandle = handleRect();
    m_paintedLook = look();
}
