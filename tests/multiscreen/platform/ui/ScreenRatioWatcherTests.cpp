#include "multiscreen/MultiScreenSupport.h"

#include "platform/ui/ScreenRatioWatcher.h"

#include <gtest/gtest.h>

// The watcher calls back once per change of ratio, with the widget already at the new one: for a
// widget moved into a window on another screen, and for the window it is in when that moves. A
// screen of the same ratio, a screen's signal that changes nothing and the window the widget left
// are no change.
TEST(ScreenRatioWatcher, TellsOfEachChangeOfTheRatioOfTheWidgetsWindowAndOfNothingElse)
{
    REQUIRE_TEST_SCREENS();
    QWidget first;
    QWidget second;
    auto* child = new QWidget(&first);
    std::vector<qreal> ratios;
    platform::ScreenRatioWatcher::watch(child, [&] { ratios.push_back(child->devicePixelRatioF()); });
    first.show();
    second.move(900, 40);
    second.show();
    ASSERT_EQ(second.screen()->name(), "second");
    EXPECT_TRUE(ratios.empty());

    child->setParent(&second);
    child->show();
    moveTo(&first, "second");
    moveTo(&second, "third");
    moveTo(&second, "first");
    emit screenNamed("first")->logicalDotsPerInchChanged(96);
    moveTo(&second, "second");
    EXPECT_EQ(ratios, std::vector<qreal>({ 2, 1, 2 }));
}
