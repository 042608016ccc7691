#include "Iris/utility/CallbackQueue.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using iris::CallbackQueue;
using iris::runCallback;
using platform::DispatchQueue;
using testsupport::isMainThread;
using testsupport::waitUntil;

TEST(CallbackQueue, OnTheMainThread)
{
    struct Case {
        const char* name;
        CallbackQueue queue;
        bool runsBeforeReturn;
    };
    const Case cases[] = {
        { "mainAsync", CallbackQueue::mainAsync(), false },
        { "mainCurrentOrAsync", CallbackQueue::mainCurrentOrAsync(), true },
        { "untouch", CallbackQueue::untouch(), true },
    };
    for (const Case& c : cases) {
        std::atomic<bool> ran { false };
        std::atomic<bool> onMain { false };
        runCallback(c.queue, [&] {
            onMain = isMainThread();
            ran = true;
        });
        EXPECT_EQ(ran.load(), c.runsBeforeReturn) << c.name;
        ASSERT_TRUE(waitUntil([&] { return ran.load(); })) << c.name;
        EXPECT_TRUE(onMain) << c.name;
    }
}

TEST(CallbackQueue, FromAnotherThread)
{
    auto serial = DispatchQueue::makeSerial("test.callback.target");
    struct Case {
        const char* name;
        CallbackQueue queue;
        bool runsBeforeReturn;
        bool runsOnMain;
        bool runsOnCaller;
    };
    const Case cases[] = {
        { "mainAsync", CallbackQueue::mainAsync(), false, true, false },
        { "mainCurrentOrAsync", CallbackQueue::mainCurrentOrAsync(), false, true, false },
        { "untouch", CallbackQueue::untouch(), true, false, true },
        { "dispatch", CallbackQueue::dispatch(serial), false, false, false },
    };
    for (const Case& c : cases) {
        std::atomic<bool> ran { false };
        std::atomic<bool> onMain { false };
        std::atomic<bool> onCaller { false };
        std::atomic<bool> onSerial { false };
        std::atomic<bool> ranBeforeReturn { false };
        std::atomic<bool> returned { false };
        // The target queue stays busy until runCallback has returned, so a callback that ran early
        // could only have run inline.
        serial->async([&] {
            while (!returned)
                std::this_thread::yield();
        });
        std::thread caller([&] {
            auto callerId = std::this_thread::get_id();
            runCallback(c.queue, [&, callerId] {
                onMain = isMainThread();
                onCaller = std::this_thread::get_id() == callerId;
                onSerial = serial->isCurrent();
                ran = true;
            });
            ranBeforeReturn = ran.load();
            returned = true;
        });
        caller.join();
        EXPECT_EQ(ranBeforeReturn.load(), c.runsBeforeReturn) << c.name;
        ASSERT_TRUE(waitUntil([&] { return ran.load(); })) << c.name;
        EXPECT_EQ(onMain.load(), c.runsOnMain) << c.name;
        EXPECT_EQ(onCaller.load(), c.runsOnCaller) << c.name;
        EXPECT_EQ(onSerial.load(), c.queue.kind() == CallbackQueue::Kind::dispatch) << c.name;
        // The blocker reads this iteration's flags; it must be done before they go.
        serial->sync([] {});
    }
}

TEST(CallbackQueue, DispatchFromItsOwnQueueRunsAfterTheCurrentBlock)
{
    auto serial = DispatchQueue::makeSerial("test.callback.self");
    std::atomic<int> order { 0 };
    std::atomic<int> blockEnded { -1 };
    std::atomic<int> callbackRan { -1 };
    serial->async([&] {
        runCallback(CallbackQueue::dispatch(serial), [&] { callbackRan = order++; });
        blockEnded = order++;
    });
    ASSERT_TRUE(waitUntil([&] { return callbackRan >= 0; }));
    EXPECT_EQ(blockEnded, 0);
    EXPECT_EQ(callbackRan, 1);
}

TEST(CallbackQueue, MainAsyncRunsAfterTheCurrentMainWorkItem)
{
    std::vector<std::string> order;
    DispatchQueue::main()->async([&] {
        runCallback(CallbackQueue::mainAsync(), [&] { order.push_back("callback"); });
        runCallback(CallbackQueue::mainCurrentOrAsync(), [&] { order.push_back("inline"); });
        order.push_back("item end");
    });
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<std::string> { "inline", "item end", "callback" }));
}

// Without a queue, the first callback due on it would stop the program, far from the mistake.
TEST(CallbackQueue, ANullDispatchQueueIsRefusedWhereTheValueIsMade)
{
    EXPECT_THROW(CallbackQueue::dispatch(nullptr), std::invalid_argument);
}
