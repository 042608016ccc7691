#include "platform/foundation/AssociatedObjects.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using platform::AssociatedObjects;

namespace {
const char firstKey = 0;
const char secondKey = 0;
} // namespace

TEST(AssociatedObjects, KeysAndObjectsAreIndependent)
{
    AssociatedObjects a;
    AssociatedObjects b;
    a.setAssociatedObject(&firstKey, 1);
    a.setAssociatedObject(&secondKey, std::string("two"));
    b.setAssociatedObject(&firstKey, 3);
    EXPECT_EQ(std::any_cast<int>(a.associatedObject(&firstKey)), 1);
    EXPECT_EQ(std::any_cast<std::string>(a.associatedObject(&secondKey)), "two");
    EXPECT_EQ(std::any_cast<int>(b.associatedObject(&firstKey)), 3);
    EXPECT_FALSE(b.associatedObject(&secondKey).has_value());

    a.setAssociatedObject(&firstKey, std::any());
    EXPECT_FALSE(a.associatedObject(&firstKey).has_value());

    AssociatedObjects copy(a);
    EXPECT_FALSE(copy.associatedObject(&secondKey).has_value());
}

TEST(AssociatedObjects, ReplacedValueIsReleased)
{
    AssociatedObjects object;
    auto value = std::make_shared<int>(5);
    std::weak_ptr<int> weak = value;
    object.setAssociatedObject(&firstKey, std::move(value));
    object.setAssociatedObject(&firstKey, 6);
    EXPECT_TRUE(weak.expired());
}

TEST(AssociatedObjects, ConcurrentReadsAndWrites)
{
    AssociatedObjects object;
    std::atomic<bool> wrong { false };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                object.setAssociatedObject(t % 2 ? &firstKey : &secondKey, i);
                std::any value = object.associatedObject(t % 2 ? &secondKey : &firstKey);
                if (value.has_value() && !std::any_cast<int>(&value))
                    wrong = true;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_FALSE(wrong);
}
