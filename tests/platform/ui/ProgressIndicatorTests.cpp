#include "platform/ui/ProgressIndicator.h"

#include <gtest/gtest.h>

using platform::ProgressIndicator;

// The spinner's timer runs only while it is on screen: a closed popover or a minimized window
// keeps it animating, ready to turn again, without waking the program every step.
TEST(ProgressIndicator, TicksOnlyWhileShown)
{
    QWidget window;
    auto* spinner = new ProgressIndicator(&window);
    spinner->startAnimation();
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isTicking()) << "not shown yet";

    window.show();
    EXPECT_TRUE(spinner->isTicking());
    window.hide();
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isTicking()) << "hidden";
    window.show();
    EXPECT_TRUE(spinner->isTicking());

    // Read before the offscreen platform, which keeps a minimized window exposed, shows it again.
    window.setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(spinner->isTicking()) << "minimized";
    window.setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(spinner->isTicking()) << "restored";

    spinner->stopAnimation();
    window.hide();
    window.show();
    EXPECT_FALSE(spinner->isTicking()) << "stopped stays stopped";
}
