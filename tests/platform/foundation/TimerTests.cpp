#include "platform/foundation/Timer.h"

#include "platform/foundation/DispatchQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::DispatchQueue;
using platform::Timer;
using testsupport::waitUntil;

TEST(Timer, RepeatsOnTheMainThreadUntilInvalidated)
{
    std::atomic<int> fired { 0 };
    std::atomic<bool> offMain { false };
    auto timer = Timer::scheduledRepeating(0.005, [&] {
        if (!testsupport::isMainThread())
            offMain = true;
        ++fired;
    });
    ASSERT_TRUE(waitUntil([&] { return fired >= 3; }));
    EXPECT_FALSE(offMain);
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    int after = fired;
    // Further events run, but the invalidated timer no longer fires.
    QCoreApplication::processEvents();
    EXPECT_EQ(fired, after);
}

TEST(Timer, ScheduledFromAnotherThreadFiresOnTheMainThread)
{
    std::atomic<int> fired { 0 };
    std::atomic<bool> offMain { false };
    std::shared_ptr<Timer> timer;
    std::thread([&] {
        timer = Timer::scheduledRepeating(0.001, [&] {
            offMain = offMain || !testsupport::isMainThread();
            ++fired;
        });
    }).join();
    ASSERT_TRUE(waitUntil([&] { return fired >= 2; }));
    EXPECT_FALSE(offMain);
    timer.reset();
}

TEST(Timer, WeakTargetIsNotKeptAlive)
{
    struct Target {
        int count = 0;
    };
    auto target = std::make_shared<Target>();
    std::weak_ptr<Target> weak = target;
    auto timer = Timer::scheduledRepeating<Target>(0.001, target, [](Target& t) { ++t.count; });
    ASSERT_TRUE(waitUntil([&] { return target->count >= 2; }));
    target.reset();
    EXPECT_TRUE(weak.expired());
    // Firing with the target gone is harmless.
    int ticks = 0;
    auto counter = Timer::scheduledRepeating(0.001, [&] { ++ticks; });
    ASSERT_TRUE(waitUntil([&] { return ticks >= 3; }));
    EXPECT_TRUE(timer->isValid());
}

TEST(Timer, InvalidatingFromInsideItsOwnFiringIsSafe)
{
    std::shared_ptr<Timer> timer;
    int fired = 0;
    timer = Timer::scheduledRepeating(0.001, [&] {
        ++fired;
        timer.reset();
    });
    ASSERT_TRUE(waitUntil([&] { return fired >= 1; }));
    int ticks = 0;
    auto other = Timer::scheduledRepeating(0.001, [&] { ++ticks; });
    ASSERT_TRUE(waitUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(fired, 1);
}
