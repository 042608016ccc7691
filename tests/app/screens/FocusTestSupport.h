#pragma once

#include "app/screens/common/TDAppearance.h"

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

// Pixels of `with` that stand out from `without` at a contrast of 3 to 1 or more, the least a
// sign of focus needs to be seen: a faint line of the style's does not count.
inline int changedPixels(const QImage& with, const QImage& without)
{
    if (with.size() != without.size())
        return with.width() * with.height();
    int count = 0;
    for (int y = 0; y < with.height(); ++y) {
        for (int x = 0; x < with.width(); ++x) {
            const QColor a = with.pixelColor(x, y);
            const QColor b = without.pixelColor(x, y);
            if (a != b && tdappearance::contrastRatio(a, b) >= 3)
                ++count;
        }
    }
    return count;
}

constexpr int visibleRing = 40;

struct Stop {
    QWidget* widget;
    bool ringed;
};

// Presses Tab from the window's start until the focus comes round again: the stops in order, each
// with whether a ring showed on it while it had the keys (against its picture without them).
inline std::vector<Stop> tabThrough(QWidget* window, int limit = 200)
{
    // Widgets a layout took in are shown from the event loop.
    QCoreApplication::processEvents();
    window->setFocus(Qt::OtherFocusReason);
    std::vector<QWidget*> order;
    std::vector<QImage> focused;
    for (int i = 0; i < limit; ++i) {
        QWidget* from = QApplication::focusWidget() ? QApplication::focusWidget() : window;
        QTest::keyClick(from, Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        if (!now || now == window || std::find(order.begin(), order.end(), now) != order.end())
            break;
        order.push_back(now);
        focused.push_back(now->grab().toImage());
    }
    window->setFocus(Qt::OtherFocusReason);
    std::vector<Stop> stops;
    for (std::size_t i = 0; i < order.size(); ++i)
        stops.push_back({ order[i], changedPixels(focused[i], order[i]->grab().toImage()) >= visibleRing });
    return stops;
}

inline bool showsRing(QWidget* widget)
{
    const QImage with = widget->grab().toImage();
    QWidget* had = QApplication::focusWidget();
    widget->clearFocus();
    const QImage without = widget->grab().toImage();
    if (had)
        had->setFocus(Qt::OtherFocusReason);
    return changedPixels(with, without) >= visibleRing;
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
