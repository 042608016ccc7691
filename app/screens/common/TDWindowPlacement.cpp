#include "app/screens/common/TDWindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

constexpr int cascadeStepPixels = 28;
constexpr int cascadeSteps = 8;
// A typical desktop's title bar: with no window to take the frame from, the window manager's is not
// known before the first show, and a window as tall as a small screen's area would otherwise have
// its bottom pushed below the screen's edge by it.
constexpr int assumedTitleBarPixels = 38;

} // namespace

void tdCentreWindow(QWidget* window, const QWidget* over, int cascade)
{
    if (!window)
        return;
    const bool overShown = over && over->isVisible() && over->screen();
    QScreen* screen = overShown ? over->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    QMargins frame(0, assumedTitleBarPixels, 0, 0);
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
    auto keptInside = [&area](QRect frame) {
        frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() + 1 - frame.width())));
        frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() + 1 - frame.height())));
        return frame;
    };
    outer = keptInside(outer);
    const int step = std::max(cascade, 0) % cascadeSteps * cascadeStepPixels;
    if (step > 0) {
        const QRect down = outer.translated(step, step);
        outer = keptInside(area.contains(down) ? down : outer.translated(-step, -step));
    }
    window->move(outer.topLeft());
}
