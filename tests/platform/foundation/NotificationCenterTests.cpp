#include "platform/foundation/NotificationCenter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using platform::Notification;
using platform::NotificationCenter;

TEST(NotificationCenter, DeliversByNameAndSenderSynchronously)
{
    NotificationCenter center;
    int senderA = 0;
    int senderB = 0;
    std::vector<QString> seen;
    auto observer = std::make_shared<int>(0);
    center.addObserver(observer, "cleaned", &senderA, [&](const Notification& n) {
        seen.push_back(n.name + ":" + n.userInfo.value("files").toStringList().join(","));
    });
    auto any
        = center.addObserver("", nullptr, [&](const Notification& n) { seen.push_back("any:" + n.name); });

    center.post("cleaned", &senderA, { { "files", QStringList { "a", "b" } } });
    center.post("cleaned", &senderB);
    center.post("other");
    EXPECT_EQ(seen, (std::vector<QString> { "cleaned:a,b", "any:cleaned", "any:cleaned", "any:other" }));

    center.removeObserver(any);
    seen.clear();
    center.post("other");
    EXPECT_TRUE(seen.empty());
}

TEST(NotificationCenter, AnObserverThatIsGoneIsNeverCalled)
{
    NotificationCenter center;
    int calls = 0;
    auto observer = std::make_shared<int>(0);
    center.addObserver(observer, "n", nullptr, [&](const Notification&) { ++calls; });
    center.post("n");
    observer.reset();
    center.post("n");
    EXPECT_EQ(calls, 1);
}

TEST(NotificationCenter, RemovingByObserverStopsItsRegistrations)
{
    NotificationCenter center;
    int calls = 0;
    auto observer = std::make_shared<int>(0);
    center.addObserver(observer, "a", nullptr, [&](const Notification&) { ++calls; });
    center.addObserver(observer, "b", nullptr, [&](const Notification&) { ++calls; });
    center.removeObserver(observer.get());
    center.post("a");
    center.post("b");
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, RemovalDuringPostingOnAnotherThreadIsSafe)
{
    NotificationCenter center;
    std::atomic<int> calls { 0 };
    std::atomic<bool> stop { false };
    std::thread poster([&] {
        while (!stop)
            center.post("tick");
    });
    for (int i = 0; i < 200; ++i) {
        auto observer = std::make_shared<int>(i);
        auto token = center.addObserver(observer, "tick", nullptr, [&](const Notification&) { ++calls; });
        if (i % 2)
            center.removeObserver(token);
    }
    stop = true;
    poster.join();
    SUCCEED();
}
