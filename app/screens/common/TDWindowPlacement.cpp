#include "app/screens/common/TDWindowPlacement.h"

#include <QScreen>
#include <QWidget>

#include <algorithm>

void tdCentreWindow(QWidget* window, const QWidget* over)
{
    if (!window || !over || !over->screen())
        return;
    window->adjustSize();
    const QRect area = over->screen()->availableGeometry();
    QRect frame(QPoint(), window->size());
    frame.moveCenter(over->frameGeometry().center());
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())));
    window->move(frame.topLeft());
}
