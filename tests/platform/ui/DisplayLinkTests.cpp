#include "platform/ui/DisplayLink.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <optional>
#include <thread>

using platform::DisplayLink;
using platform::DisplayLinkTimeStamp;
using platform::RunLoop;

namespace {

struct Counter : platform::DisplayLinkTarget {
    void onScreenUpdate() override { ++calls; }
    int calls = 0;
};

void runPostedCalls()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

// The first refresh only primes the time stamp and the period; from the second on, each refresh
// calls the target once per run loop, however many modes that run loop is scheduled in.
TEST(DisplayLink, PrimesOnTheFirstRefreshThenCallsOncePerRunLoop)
{
    auto target = std::make_shared<Counter>();
    DisplayLink link(target);
    link.add(RunLoop::main(), platform::commonRunLoopModes);
    link.add(RunLoop::main(), QStringLiteral("tracking"));

    link.handleOutput({ 3'000'000'000, 1'000'000'000, 16'666'667, 0 });
    runPostedCalls();
    EXPECT_EQ(target->calls, 0);
    EXPECT_DOUBLE_EQ(link.timestamp(), 3.0);
    EXPECT_NEAR(link.duration(), 1.0 / 60, 1e-9);

    link.handleOutput({ 3'016'666'667, 0, 0, 0 });
    runPostedCalls();
    EXPECT_EQ(target->calls, 1);
    EXPECT_NEAR(link.duration(), 1.0 / 60, 1e-9) << "a zero time scale keeps the period";

    // Calls already queued when the link is invalidated still reach the target, which holds its own
    // view weakly; nothing further does.
    link.handleOutput({ 3'033'333'334, 1'000'000'000, 16'666'667, 0 });
    link.invalidate();
    runPostedCalls();
    EXPECT_EQ(target->calls, 2);
    link.handleOutput({ 3'050'000'000, 1'000'000'000, 16'666'667, 0 });
    link.setPaused(false);
    EXPECT_TRUE(link.isPaused());
    EXPECT_FALSE(link.isRunning()) << "a dead link never wakes the program";
    runPostedCalls();
    EXPECT_EQ(target->calls, 2);
}

TEST(DisplayLink, KeepsModesPerRunLoop)
{
    DisplayLink link(std::make_shared<Counter>());
    const QString mode = QStringLiteral("m");
    link.add(RunLoop::main(), mode);
    link.add(RunLoop::main(), mode);
    link.add(RunLoop::main(), QStringLiteral("other"));
    link.remove(RunLoop::main(), mode);
    ASSERT_EQ(link.schedulers().size(), 1u);
    EXPECT_EQ(link.schedulers().front().second, std::vector<QString> { QStringLiteral("other") });
    link.remove(RunLoop::main(), QStringLiteral("other"));
    EXPECT_TRUE(link.schedulers().empty()) << "a run loop left without modes is dropped";
    link.remove(RunLoop::main(), mode);
    EXPECT_TRUE(link.schedulers().empty());
    EXPECT_EQ(link.preferredFramesPerSecond(), 0);
}

// Under the offscreen platform the link still ticks, at the screen's rate and no faster.
TEST(DisplayLink, TicksAtTheScreensRefreshRate)
{
    auto target = std::make_shared<Counter>();
    DisplayLink link(target);
    link.add(RunLoop::main(), platform::commonRunLoopModes);
    const double rate = link.refreshRate();
    EXPECT_GE(rate, 1.0);
    link.setPaused(false);
    link.setPaused(false);
    EXPECT_TRUE(link.isRunning());
    ASSERT_TRUE(testsupport::waitUntil([&] { return target->calls >= 1; }));
    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return target->calls >= 21; }));
    EXPECT_GE(double(elapsed.nsecsElapsed()) / 1e9, 20 / rate * 0.8);
    EXPECT_NEAR(link.duration(), 1 / rate, 1e-6);
    link.setPaused(true);
    EXPECT_FALSE(link.isRunning());
}

// A run loop of a thread that has ended is skipped: nothing is sent to a thread that is gone, and
// the other run loops are still called.
TEST(DisplayLink, SkipsARunLoopWhoseThreadHasEnded)
{
    std::optional<RunLoop> ended;
    std::thread([&] { ended = RunLoop::current(); }).join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->thread(), nullptr);

    auto target = std::make_shared<Counter>();
    DisplayLink link(target);
    link.add(*ended, platform::commonRunLoopModes);
    link.add(RunLoop::main(), platform::commonRunLoopModes);
    link.handleOutput({ 1'000'000'000, 1'000'000'000, 16'666'667, 0 });
    link.handleOutput({ 1'016'666'667, 1'000'000'000, 16'666'667, 0 });
    runPostedCalls();
    EXPECT_EQ(target->calls, 1);
}
