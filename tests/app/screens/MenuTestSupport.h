#pragma once

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>

#include <functional>

namespace menutest {

// The texts of the menu `press` opens, closed at once; empty when none opens.
inline QStringList menuFrom(const std::function<void()>& press)
{
    QStringList texts;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions())
                texts.append(action->text());
            menu->close();
        }
    });
    press();
    QCoreApplication::processEvents();
    return texts;
}

} // namespace menutest
