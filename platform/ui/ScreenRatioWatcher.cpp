#include "platform/ui/ScreenRatioWatcher.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace platform {

ScreenRatioWatcher* ScreenRatioWatcher::watch(QWidget* widget, std::function<void()> changed)
{
    return new ScreenRatioWatcher(widget, std::move(changed));
}

ScreenRatioWatcher::ScreenRatioWatcher(QWidget* widget, std::function<void()> changed)
    : QObject(widget)
    , m_widget(widget)
    , m_changed(std::move(changed))
    , m_ratio(widget->devicePixelRatioF())
{
    widget->installEventFilter(this);
    follow();
}

bool ScreenRatioWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_widget) {
        switch (event->type()) {
        // A widget gets its window (and with it a screen) when it or an ancestor is shown or moved
        // to another parent; the window's own screen change reaches every widget in it too.
        case QEvent::Show:
        case QEvent::ParentChange:
        case QEvent::WinIdChange:
        case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
        case QEvent::DevicePixelRatioChange:
#endif
            follow();
            compare();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void ScreenRatioWatcher::follow()
{
    QWindow* window = m_widget->window()->windowHandle();
    if (window != m_window) {
        QObject::disconnect(m_windowConnection);
        m_window = window;
        if (window) {
            m_windowConnection = connect(window, &QWindow::screenChanged, this, [this] {
                follow();
                compare();
            });
        }
    }
    QScreen* screen = window ? window->screen() : m_widget->screen();
    if (screen == m_screen)
        return;
    for (const QMetaObject::Connection& connection : std::as_const(m_screenConnections))
        QObject::disconnect(connection);
    m_screenConnections.clear();
    m_screen = screen;
    if (!screen)
        return;
    // A screen's ratio follows its logical resolution (and, with some scaling rules, its size); Qt
    // has no signal for the ratio itself, so each of these only asks for a comparison.
    m_screenConnections = {
        connect(screen, &QScreen::logicalDotsPerInchChanged, this, &ScreenRatioWatcher::compare),
        connect(screen, &QScreen::physicalDotsPerInchChanged, this, &ScreenRatioWatcher::compare),
        connect(screen, &QScreen::geometryChanged, this, &ScreenRatioWatcher::compare),
    };
}

void ScreenRatioWatcher::compare()
{
    const qreal ratio = m_widget->devicePixelRatioF();
    if (qFuzzyCompare(ratio, m_ratio))
        return;
    m_ratio = ratio;
    if (m_changed)
        m_changed();
}

} // namespace platform
