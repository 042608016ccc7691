#include "multiscreen/MultiScreenSupport.h"

#include "platform/ui/ScreenRatioWatcher.h"

#include <gtest/gtest.h>

#include <vector>

using platform::ScreenRatioWatcher;

namespace {

// The ratios a watched widget reported, one per call of the watcher.
struct Calls {
    void watch(QWidget* widget)
    {
        ScreenRatioWatcher::watch(widget, [this, widget] { ratios.push_back(widget->devicePixelRatioF()); });
    }
    std::vector<qreal> ratios;
};

} // namespace

// A window dragged from screen to screen: the watcher calls back once per change of ratio, with the
// widget already at the new one, and not for a screen of the same ratio or a screen's signal that
// changes nothing.
TEST(ScreenRatioWatcher, TellsOfEachChangeOfRatioAndOfNothingElse)
{
    REQUIRE_TEST_SCREENS();
    QWidget window;
    window.resize(80, 60);
    auto* child = new QWidget(&window);
    Calls calls;
    calls.watch(child);
    window.show();
    ASSERT_EQ(window.screen()->name(), "normal");
    EXPECT_TRUE(calls.ratios.empty());

    screentest::moveTo(&window, "dense");
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2 }));
    screentest::moveTo(&window, "normal-too");
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2, 1 }));
    screentest::moveTo(&window, "normal");
    emit screentest::screenNamed("normal")->logicalDotsPerInchChanged(96);
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2, 1 }));
}

// A widget follows the window it is in now: moved into a window on another screen it is told, and
// the window it left no longer concerns it. A widget made before its window is shown is told when
// the window comes up on a screen of another ratio than the one it was made for.
TEST(ScreenRatioWatcher, FollowsTheWindowTheWidgetIsIn)
{
    REQUIRE_TEST_SCREENS();
    QWidget first;
    first.resize(80, 60);
    first.show();
    QWidget second;
    auto* child = new QWidget(&first);
    Calls calls;
    calls.watch(child);
    calls.watch(&second);
    second.resize(80, 60);
    second.move(900, 40);
    second.show();
    ASSERT_EQ(second.screen()->name(), "dense");
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2 })) << "the second window, shown on the dense screen";

    child->setParent(&second);
    child->show();
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2, 2 }));
    screentest::moveTo(&first, "dense");
    EXPECT_EQ(calls.ratios.size(), 2u) << "the window the child left";
    screentest::moveTo(&second, "normal");
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2, 2, 1, 1 }));

    delete child;
    screentest::moveTo(&second, "dense");
    EXPECT_EQ(calls.ratios, std::vector<qreal>({ 2, 2, 1, 1, 2 })) << "only the window is left to tell";
}
