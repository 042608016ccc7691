#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QImage>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <vector>

namespace focustest {

// Pixels of the focus ring's blues (the highlight or the grid's own) in a picture of `widget`.
inline int ringPixels(QWidget* widget)
{
    const QImage picture = widget->grab().toImage();
    int count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QColor pixel = picture.pixelColor(x, y);
            if (pixel.blue() > 150 && pixel.red() < 90 && pixel.green() < 160)
                ++count;
        }
    }
    return count;
}

struct Stop {
    QWidget* widget;
    bool ringed;
};

// Presses Tab from the window's start until the focus comes round again: the stops in order, each
// with whether a ring appeared on it while it had the keys (against its picture without them).
inline std::vector<Stop> tabThrough(QWidget* window, int limit = 200)
{
    window->setFocus(Qt::OtherFocusReason);
    std::vector<QWidget*> order;
    std::vector<int> focused;
    for (int i = 0; i < limit; ++i) {
        QWidget* from = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(from, Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        if (!now || now == window || std::find(order.begin(), order.end(), now) != order.end())
            break;
        order.push_back(now);
        focused.push_back(ringPixels(now));
    }
    window->setFocus(Qt::OtherFocusReason);
    std::vector<Stop> stops;
    for (std::size_t i = 0; i < order.size(); ++i)
        stops.push_back({ order[i], focused[i] - ringPixels(order[i]) >= 40 });
    return stops;
}

inline bool showsRing(QWidget* widget)
{
    const int with = ringPixels(widget);
    QWidget* had = QApplication::focusWidget();
    widget->clearFocus();
    const int without = ringPixels(widget);
    if (had)
        had->setFocus(Qt::OtherFocusReason);
    return with - without >= 40;
}

inline QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// A button that shows a symbol and no words.
inline bool showsOnlyASymbol(QWidget* widget)
{
    if (auto* tool = qobject_cast<QToolButton*>(widget))
        return tool->toolButtonStyle() == Qt::ToolButtonIconOnly || tool->text().isEmpty();
    auto* button = qobject_cast<QAbstractButton*>(widget);
    return button && button->text().isEmpty();
}

} // namespace focustest
