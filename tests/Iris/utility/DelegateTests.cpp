#include "Iris/utility/Box.h"
#include "Iris/utility/Delegate.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using iris::Box;
using iris::Delegate;

namespace {
struct Target {
    std::string name;
};
} // namespace

TEST(Delegate, WithoutABlockYieldsNothing)
{
    Delegate<int, int> plain;
    EXPECT_EQ(plain.call(1), std::nullopt);
    Delegate<int, std::optional<int>> optionalOutput;
    // The output type is optional itself: its nil value comes back, not an optional of it.
    static_assert(std::is_same_v<decltype(optionalOutput.call(1)), std::optional<int>>);
    EXPECT_EQ(optionalOutput(1), std::nullopt);
    Delegate<void, int> noInput;
    EXPECT_EQ(noInput(), std::nullopt);
}

TEST(Delegate, RunsWithTheVeryTargetWhileItLives)
{
    auto target = std::make_shared<Target>(Target { "first" });
    Delegate<int, std::string> delegate;
    const Target* seen = nullptr;
    delegate.delegate<Target>(target, [&](Target& t, int input) {
        seen = &t;
        return t.name + std::to_string(input);
    });
    EXPECT_EQ(delegate.call(7), "first7");
    EXPECT_EQ(delegate(8), "first8");
    EXPECT_EQ(seen, target.get());
}

TEST(Delegate, DoesNotKeepTheTargetAliveNorRunAfterIt)
{
    auto target = std::make_shared<Target>(Target { "gone" });
    std::weak_ptr<Target> weak = target;
    Delegate<void, int> delegate;
    int runs = 0;
    delegate.delegate<Target>(target, [&](Target&) { return ++runs; });
    EXPECT_EQ(delegate(), 1);
    target.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(delegate(), std::nullopt);
    EXPECT_EQ(runs, 1);
}

TEST(Delegate, OptionalOutputIsFlattened)
{
    auto target = std::make_shared<Target>();
    Delegate<int, std::optional<int>> delegate;
    delegate.delegate<Target>(target, [](Target&, int input) -> std::optional<int> {
        if (input < 0)
            return std::nullopt;
        return input * 2;
    });
    EXPECT_EQ(delegate(4), 8);
    EXPECT_EQ(delegate(-1), std::nullopt);
}

TEST(Delegate, RegisteringAgainKeepsOnlyTheLastBlock)
{
    auto target = std::make_shared<Target>();
    Delegate<int, int> delegate;
    delegate.delegate<Target>(target, [](Target&, int input) { return input + 1; });
    delegate.delegate<Target>(target, [](Target&, int input) { return input + 100; });
    EXPECT_EQ(delegate(1), 101);
    // No block given: every later call yields nothing even though the target lives.
    delegate.delegate<Target>(target, nullptr);
    EXPECT_EQ(delegate(1), std::nullopt);
}

TEST(Box, HoldsAndReleasesItsValue)
{
    auto value = std::make_shared<int>(3);
    std::weak_ptr<int> weak = value;
    {
        auto box = std::make_shared<Box<std::shared_ptr<int>>>(std::move(value));
        EXPECT_EQ(*box->value, 3);
    }
    EXPECT_TRUE(weak.expired());
}
