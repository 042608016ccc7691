#include "app/screens/common/TDWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

void tdCentreWindow(QWidget* window, const QWidget* over)
{
    if (!window)
        return;
    const bool overShown = over && over->isVisible() && over->screen();
    QScreen* screen = overShown ? over->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QMargins frame;
    if (overShown) {
        const QRect outer = over->frameGeometry();
        const QRect inner = over->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
            outer.right() - inner.right(), outer.bottom() - inner.bottom());
    }
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize();
    const QSize size
        = window->size().boundedTo(area.size().shrunkBy(frame)).expandedTo(window->minimumSize());
    if (size != window->size())
        window->resize(size);
    QRect outer(QPoint(), size.grownBy(frame));
    outer.moveCenter(overShown ? over->frameGeometry().center() : area.center());
    // Moved in from the right and bottom first: a window larger than the area keeps its title bar
    // and its top-left corner on the screen.
    outer.moveLeft(std::max(area.left(), std::min(outer.left(), area.right() + 1 - outer.width())));
    outer.moveTop(std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outer.height())));
    window->move(outer.topLeft());
}
