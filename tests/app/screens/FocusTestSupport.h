#pragma once

#include "app/screens/common/TDAppearance.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace focustest {

// Pixels of `with` that stand out from `without` at a contrast of 3 to 1 or more, the least a sign
// of focus needs to be seen: a faint line of the style's does not count.
inline int changedPixels(const QImage& with, const QImage& without)
{
    int count = 0;
    for (int y = 0; y < std::min(with.height(), without.height()); ++y)
        for (int x = 0; x < std::min(with.width(), without.width()); ++x)
            count += tdappearance::contrastRatio(with.pixelColor(x, y), without.pixelColor(x, y)) >= 3;
    return count;
}
constexpr int visibleRing = 40;

inline QString accessibleName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// Presses Tab from the window's start until the focus comes round again and returns the stops in
// order. Each must show a ring while it has the keys (against its picture without them) and have
// a name, and a button of a symbol alone a tooltip; `ringedElsewhere` draws its ring around it.
inline std::vector<QWidget*> tabThrough(QWidget* window, const QString& ringedElsewhere = {})
{
    // Widgets a layout took in are shown from the event loop.
    QCoreApplication::processEvents();
    window->setFocus(Qt::OtherFocusReason);
    std::vector<QWidget*> stops;
    std::vector<QImage> focused;
    for (QWidget* now = nullptr; stops.size() < 100; stops.push_back(now)) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        now = QApplication::focusWidget();
        if (!now || now == window || std::find(stops.begin(), stops.end(), now) != stops.end())
            break;
        focused.push_back(now->grab().toImage());
    }
    window->setFocus(Qt::OtherFocusReason);
    for (std::size_t i = 0; i < stops.size(); ++i) {
        QWidget* stop = stops[i];
        const std::string what
            = (stop->metaObject()->className() + QString(' ') + stop->objectName()).toStdString();
        if (stop->objectName() != ringedElsewhere) {
            EXPECT_GE(changedPixels(focused[i], stop->grab().toImage()), visibleRing) << what;
        }
        EXPECT_FALSE(accessibleName(stop).isEmpty()) << what;
        auto* button = qobject_cast<QAbstractButton*>(stop);
        auto* tool = qobject_cast<QToolButton*>(stop);
        if (button
            && (button->text().isEmpty() || (tool && tool->toolButtonStyle() == Qt::ToolButtonIconOnly))) {
            EXPECT_FALSE(stop->toolTip().isEmpty()) << what;
        }
    }
    return stops;
}

} // namespace focustest
