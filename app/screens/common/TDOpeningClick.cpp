#include "app/screens/common/TDOpeningClick.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>

#include <utility>

bool TDOpeningClick::press(const QMouseEvent* event)
{
    const quint64 at = event->timestamp();
    const auto interval = quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    // A clock that went back (events from another source) starts afresh.
    const bool soonAfter = m_opened && at >= *m_opened && at - *m_opened < interval;
    m_pressedAt.reset();
    if (event->button() == Qt::LeftButton && event->type() != QEvent::MouseButtonDblClick && !soonAfter)
        m_pressedAt = at;
    return m_pressedAt.has_value();
}

bool TDOpeningClick::release(bool inside)
{
    const auto pressedAt = std::exchange(m_pressedAt, std::nullopt);
    if (!pressedAt || !inside)
        return false;
    m_opened = pressedAt;
    return true;
}
