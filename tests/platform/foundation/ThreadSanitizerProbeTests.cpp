#include "platform/foundation/DispatchQueue.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using platform::DispatchGroup;
using platform::DispatchQueue;

// Deliberate races, kept out of the normal run. In a ThreadSanitizer build ctest runs each one on its
// own and passes only when the sanitizer reports it: proof that tests/tsan.supp hides no race of ours,
// neither on our own queues nor in our code that Qt runs on a thread of its own.

TEST(ThreadSanitizerProbe, DISABLED_ARaceOnOurQueuesIsReported)
{
    int counter = 0;
    // The queued block waits, through a relaxed flag that orders nothing, until the post has
    // returned: otherwise it could run before a lock the post takes last, which would order the two
    // increments.
    std::atomic<bool> posted { false };
    auto queue = DispatchQueue::makeSerial("probe");
    auto group = DispatchGroup::make();
    group->async(queue, [&counter, &posted] {
        while (!posted.load(std::memory_order_relaxed))
            std::this_thread::yield();
        ++counter;
    });
    posted.store(true, std::memory_order_relaxed);
    ++counter; // not ordered with the queued increment
    EXPECT_TRUE(group->wait());
}

TEST(ThreadSanitizerProbe, DISABLED_ARaceInWorkQtRunsIsReported)
{
    int shared = 0;
    std::unique_ptr<QThread> thread(QThread::create([&shared] { shared = 1; }));
    thread->start();
    shared = 2; // not ordered with the thread's write
    EXPECT_TRUE(thread->wait());
}
