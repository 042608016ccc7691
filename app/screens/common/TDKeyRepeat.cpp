#include "app/screens/common/TDKeyRepeat.h"

#include <QKeyEvent>
#include <QWidget>

bool TDKeyRepeat::filterEvent(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* window = widget->window();
    if (type == QEvent::KeyRelease) {
        // The entry of where it went down stays for the repeats; the next real press replaces it.
        if (key->timestamp() != 0)
            m_upAt[key->key()] = key->timestamp();
        if (!key->isAutoRepeat())
            return false;
    } else if (!key->isAutoRepeat()) {
        const auto up = m_upAt.find(key->key());
        const bool repeat = key->timestamp() != 0 && up != m_upAt.end() && up->second == key->timestamp();
        if (!repeat) {
            // The override comes before its press and says the same.
            m_downIn[key->key()] = window;
            return false;
        }
    }
    auto it = m_downIn.find(key->key());
    // A repeat with no press seen began before the program had the keyboard: it acts as before.
    if (it == m_downIn.end() || it->second == window)
        return false;
    // Taken as an override, a shortcut does not fire; then the press itself is dropped.
    event->accept();
    return true;
}
