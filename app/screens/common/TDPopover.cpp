#include "app/screens/common/TDPopover.h"

#include "app/screens/common/TDAppearance.h"

#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

using tdappearance::SystemColor;

TDPopover::TDPopover(QWidget* content, QWidget* owner)
    : QFrame(owner, Qt::Popup)
    , m_content(content)
{
    setObjectName(QStringLiteral("popover"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    content->setParent(this);
    layout->addWidget(content);
}

void TDPopover::showBelow(QWidget* anchor)
{
    adjustSize();
    if (anchor) {
        QPoint below = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height() + 4));
        QRect frame(QPoint(), size());
        frame.moveTop(below.y());
        frame.moveLeft(below.x() - frame.width() / 2);
        // An anchor near the window's edge keeps the popover over its window where it fits.
        const QRect window = anchor->window()->frameGeometry();
        if (frame.width() <= window.width())
            frame.moveLeft(
                std::max(window.left(), std::min(frame.left(), window.right() + 1 - frame.width())));
        if (QScreen* screen = anchor->screen()) {
            QRect area = screen->availableGeometry();
            frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())));
            if (frame.bottom() > area.bottom())
                frame.moveBottom(anchor->mapToGlobal(QPoint(0, -4)).y());
        }
        move(frame.topLeft());
    }
    show();
}

void TDPopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    if (m_onHide)
        m_onHide();
}

void TDPopover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = tdappearance::isDark(this);
    painter.fillRect(rect(), tdappearance::color(SystemColor::windowBackground, dark));
    painter.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 60), 1));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
