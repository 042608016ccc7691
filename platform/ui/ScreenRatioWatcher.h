#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QScreen;
class QWidget;
class QWindow;

namespace platform {

// Tells a widget when the device pixel ratio it is drawn at changes: its window moved to a screen
// of another ratio, the widget went into a window on another screen, or its screen's ratio
// changed. Qt 6.4 sends widgets no event for this, so whatever a widget made for one ratio (a
// pixmap, frames decoded to its pixel size) would stay made for it. The watcher is a child of the
// widget and calls back only when the ratio really differs from the one last seen, so a move
// between screens of the same ratio costs nothing. Main thread only.
class ScreenRatioWatcher final : public QObject {
public:
    // Watches `widget` for as long as it lives; `changed` runs on each change of its ratio, after
    // the widget already reports the new one.
    static ScreenRatioWatcher* watch(QWidget* widget, std::function<void()> changed);

    // The ratio last seen.
    qreal ratio() const { return m_ratio; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ScreenRatioWatcher(QWidget* widget, std::function<void()> changed);

    // Follows the window and the screen the widget is on now; they change as it is moved between
    // windows and as its window moves between screens.
    void follow();
    void compare();

    QWidget* const m_widget;
    const std::function<void()> m_changed;
    qreal m_ratio = 1;
    QPointer<QWindow> m_window;
    QPointer<QScreen> m_screen;
    QMetaObject::Connection m_windowConnection;
    QList<QMetaObject::Connection> m_screenConnections;
};

} // namespace platform
