#include "platform/foundation/DispatchQueue.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>
#include <semaphore>
#include <mutex>
#include <thread>
#include <vector>

using platform::DispatchGroup;
using platform::DispatchQueue;
using testsupport::waitUntil;

TEST(DispatchQueue, SerialQueueRunsInOrderOneAtATime)
{
    auto queue = DispatchQueue::makeSerial("test.order");
    std::mutex mutex;
    std::vector<int> seen;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 1000; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0)
                overlapped = true;
            {
                std::lock_guard lock(mutex);
                seen.push_back(i);
            }
            running.fetch_sub(1);
        });
    }
    queue->sync([] {});
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(seen[i], i);
}

TEST(DispatchQueue, SyncWaitsForEarlierWorkAndRunsOnCallerThread)
{
    auto queue = DispatchQueue::makeSerial("test.sync");
    std::atomic<bool> firstDone{false};
    queue->async([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        firstDone = true;
    });
    std::thread::id ranOn;
    bool sawCurrent = false;
    queue->sync([&] {
        ranOn = std::this_thread::get_id();
        sawCurrent = queue->isCurrent();
    });
    EXPECT_TRUE(firstDone);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(sawCurrent);
    EXPECT_FALSE(queue->isCurrent());
}

TEST(DispatchQueue, SyncFromInsideTheQueueRunsInlineInsteadOfDeadlocking)
{
    auto queue = DispatchQueue::makeSerial("test.reentrant");
    bool inner = false;
    queue->sync([&] { queue->sync([&] { inner = true; }); });
    EXPECT_TRUE(inner);
}

TEST(DispatchQueue, IsCurrentOnlyInsideItsOwnWork)
{
    auto a = DispatchQueue::makeSerial("test.a");
    auto b = DispatchQueue::makeSerial("test.b");
    std::atomic<int> checks{0};
    a->async([&] {
        if (a->isCurrent() && !b->isCurrent() && DispatchQueue::current() == a.get())
            ++checks;
    });
    a->sync([] {});
    EXPECT_EQ(checks.load(), 1);
    EXPECT_FALSE(a->isCurrent());
}

TEST(DispatchQueue, MainQueueRunsPostedWorkOnTheMainThreadInOrder)
{
    ASSERT_TRUE(DispatchQueue::isMainThread());
    std::vector<int> seen;
    std::atomic<bool> fromWorker{false};
    auto main = DispatchQueue::main();
    main->async([&] { seen.push_back(1); });
    main->async([&] { seen.push_back(2); });
    EXPECT_TRUE(seen.empty()) << "async never runs inline";
    DispatchQueue::global()->async([&, main] {
        main->async([&fromWorker, main] { fromWorker = DispatchQueue::isMainThread() && main->isCurrent(); });
    });
    ASSERT_TRUE(waitUntil([&] { return fromWorker.load(); }));
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(DispatchQueue, MainSyncFromWorkerRunsOnMainThread)
{
    std::atomic<bool> done{false};
    std::atomic<bool> onMain{false};
    std::thread worker([&] {
        DispatchQueue::main()->sync([&] { onMain = DispatchQueue::isMainThread(); });
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(onMain);
}

TEST(DispatchQueue, AsyncAfterRunsNoEarlierThanItsDelay)
{
    auto queue = DispatchQueue::makeSerial("test.after");
    auto start = std::chrono::steady_clock::now();
    std::atomic<bool> ran{false};
    std::chrono::steady_clock::time_point ranAt;
    queue->asyncAfter(std::chrono::milliseconds(30), [&] {
        ranAt = std::chrono::steady_clock::now();
        ran = true;
    });
    ASSERT_TRUE(waitUntil([&] { return ran.load(); }));
    EXPECT_GE(ranAt - start, std::chrono::milliseconds(30));

    std::atomic<bool> nanRan{false};
    queue->asyncAfterSeconds(std::nan(""), [&] { nanRan = true; });
    EXPECT_TRUE(waitUntil([&] { return nanRan.load(); }));
}

TEST(DispatchGroup, NotifiesOnceAllWorkHasLeft)
{
    auto group = DispatchGroup::make();
    std::atomic<int> done{0};
    for (int i = 0; i < 50; ++i)
        group->async(DispatchQueue::global(), [&] { ++done; });
    bool notified = false;
    group->notify(DispatchQueue::main(), [&] { notified = true; });
    ASSERT_TRUE(waitUntil([&] { return notified; }));
    EXPECT_EQ(done.load(), 50);
    EXPECT_TRUE(group->wait(std::chrono::milliseconds(0)));
}

// Every pool thread waits for work queued behind it in the same pool: each wait is stood in for by
// another thread, so the queued work runs and every wait ends.
TEST(DispatchQueue, WaitsOnEveryPoolThreadForWorkQueuedBehindThemEnd)
{
    // Each queues work while the pool is full and returns the wait for it.
    const std::vector<std::pair<const char*, std::function<std::function<void()>()>>> cases {
        { "serial sync",
            [] {
                auto queue = DispatchQueue::makeSerial("test.sync-when-full");
                queue->async([] {});
                return [queue] { queue->sync([] {}); };
            } },
        { "group wait",
            [] {
                auto group = DispatchGroup::make();
                group->async(DispatchQueue::global(), [] {});
                return [group] { group->wait(); };
            } },
    };
    const int threads = int(platform::sharedPoolSize());
    // Held by the pool's work too: the last of it may still be leaving when the test goes on.
    struct Run {
        explicit Run(int threads)
            : allRunning(threads)
            , left(threads)
        {
        }
        std::latch allRunning, queued { 1 };
        std::function<void()> wait;
        std::atomic<int> left;
        std::binary_semaphore allEnded { 0 };
    };
    for (const auto& [name, queueAndWait] : cases) {
        auto run = std::make_shared<Run>(threads);
        for (int i = 0; i < threads; ++i) {
            DispatchQueue::global()->async([run, i, queueAndWait = queueAndWait] {
                run->allRunning.arrive_and_wait();
                if (i == 0) {
                    run->wait = queueAndWait();
                    run->queued.count_down();
                }
                run->queued.wait();
                run->wait();
                if (--run->left == 0)
                    run->allEnded.release();
            });
        }
        EXPECT_TRUE(run->allEnded.try_acquire_for(std::chrono::seconds(20))) << name;
    }
}

// Main-queue work that runs an event loop of its own (a modal dialog, a wait for saves) still sees
// the main-queue work queued meanwhile, in order, and a worker waiting in a main-queue sync is
// answered.
TEST(DispatchQueue, MainQueueWorkRunsInsideAnEventLoopStartedByMainQueueWork)
{
    auto main = DispatchQueue::main();
    std::vector<int> order;
    bool nestedDone = false;
    std::atomic<bool> syncAnswered { false };
    std::thread worker;
    main->async([&] {
        order.push_back(1);
        main->async([&] { order.push_back(2); });
        worker = std::thread([&] {
            main->sync([&] { order.push_back(3); });
            syncAnswered = true;
        });
        nestedDone = platform::runMainLoopUntil([&] { return syncAnswered.load(); }, std::chrono::seconds(3));
        order.push_back(4);
    });
    main->async([&] { order.push_back(5); });
    ASSERT_TRUE(waitUntil([&] { return order.size() == 5 && syncAnswered; }, 15000));
    worker.join();
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(order, (std::vector<int> { 1, 5, 2, 3, 4 }));
}
