#include "app/screens/common/TDKeyboardStep.h"

#include <algorithm>

std::optional<int> tdKeyboardStep(
    int key, int current, int count, int columns, int rowsInView, Qt::LayoutDirection direction)
{
    const bool grid = columns > 1;
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (!grid)
            return std::nullopt;
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        break;
    default:
        return std::nullopt;
    }
    if (count <= 0)
        return std::nullopt;
    const int last = count - 1;
    if (current < 0 || current > last)
        return key == Qt::Key_Up || key == Qt::Key_End || key == Qt::Key_PageDown ? last : 0;
    columns = std::max(1, columns);
    const int page = rowsInView > 0 ? rowsInView * columns : count;
    const int forward = direction == Qt::RightToLeft ? -1 : 1;
    int next = current;
    switch (key) {
    case Qt::Key_Left:
        next = current - forward;
        break;
    case Qt::Key_Right:
        next = current + forward;
        break;
    case Qt::Key_Up:
        next = current - columns;
        break;
    case Qt::Key_Down:
        next = current / columns < last / columns ? std::min(last, current + columns) : current;
        break;
    case Qt::Key_PageUp:
        return std::max(0, current - page);
    case Qt::Key_PageDown:
        return std::min(last, current + page);
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return last;
    }
    return next >= 0 && next <= last ? next : current;
}
