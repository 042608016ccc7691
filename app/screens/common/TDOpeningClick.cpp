#include "app/screens/common/TDOpeningClick.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWidget>

#include <utility>

namespace {

bool within(quint64 at, quint64 since)
{
    // A clock that went back (events from another source) starts afresh.
    return at >= since && at - since < quint64(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

} // namespace

bool TDOpeningClick::press(const QMouseEvent* event)
{
    const quint64 at = event->timestamp();
    m_pressed.reset();
    if (event->button() == Qt::LeftButton && event->type() != QEvent::MouseButtonDblClick
        && !(m_opened && within(at, *m_opened)) && !isExtraClick(event))
        m_pressed = Press { at, event->globalPosition().toPoint() };
    return m_pressed.has_value();
}

bool TDOpeningClick::release(bool inside)
{
    const auto pressed = std::exchange(m_pressed, std::nullopt);
    if (!pressed || !inside)
        return false;
    m_opened = pressed->at;
    s_lastOpening = pressed;
    return true;
}

bool TDOpeningClick::isExtraClick(const QMouseEvent* event)
{
    return event->button() == Qt::LeftButton && s_lastOpening && within(event->timestamp(), s_lastOpening->at)
        && (event->globalPosition().toPoint() - s_lastOpening->global).manhattanLength()
        <= QApplication::startDragDistance();
}

bool TDOpeningClick::Filter::filterEvent(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick
            && type != QEvent::MouseButtonRelease)
        || !qobject_cast<QWidget*>(watched))
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (type == QEvent::MouseButtonRelease) {
        if (m_swallowed != int(mouse->button()))
            return false;
        m_swallowed.reset();
        return true;
    }
    if (!isExtraClick(mouse))
        return false;
    m_swallowed = int(mouse->button());
    return true;
}
