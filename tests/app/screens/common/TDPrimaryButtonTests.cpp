#include "app/screens/common/TDFocusRing.h"
#include "app/screens/common/TDPrimaryButton.h"

#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

// The focus ring is drawn in the highlight colour, close to this button's own fill: when the keys
// reach it, a white line inside the fill shows it; a click shows nothing more than before.
TEST(TDPrimaryButton, TheKeysShowALineInsideItsFill)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    auto* button = new TDPrimaryButton(QStringLiteral("Add"), &window);
    layout->addWidget(other);
    layout->addWidget(button);
    tdfocusring::attach(button, 5);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto inner = [&] {
        const QImage picture = button->grab().toImage();
        return picture.pixelColor(4, picture.height() / 2);
    };
    other->setFocus(Qt::TabFocusReason);
    const QColor without = inner();
    button->setFocus(Qt::TabFocusReason);
    const QColor keys = inner();
    EXPECT_GT(keys.red(), 200);
    EXPECT_GT(keys.green(), 200);
    EXPECT_LT(without.red(), 150);
    other->setFocus(Qt::TabFocusReason);
    button->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(inner(), without);
}
