#include "app/screens/common/TDKeyRepeat.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

TDKeyRepeat::TDKeyRepeat(QObject* parent)
    : QObject(parent)
{
    qApp->installEventFilter(this);
}

TDKeyRepeat::~TDKeyRepeat()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool TDKeyRepeat::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::ShortcutOverride)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* window = widget->window();
    if (!key->isAutoRepeat()) {
        // The override comes before its press and says the same; a release leaves the entry, which
        // the next press replaces.
        if (type != QEvent::KeyRelease)
            m_downIn[key->key()] = window;
        return false;
    }
    auto it = m_downIn.find(key->key());
    // A repeat with no press seen began before the program had the keyboard: it acts as before.
    if (it == m_downIn.end() || it->second == window)
        return false;
    // Taken as an override, a shortcut does not fire; then the press itself is dropped.
    event->accept();
    return true;
}
