#include "Iris/general/CacheCallbackCoordinator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace iris;
using Action = CacheCallbackCoordinator::Action;
using State = CacheCallbackCoordinator::State;

TEST(CacheCallbackCoordinator, Transitions)
{
    struct Case {
        bool wait;
        bool original;
        std::vector<Action> actions;
        std::vector<int> firesAfter; // how many triggers have fired after each action
        State end;
    };
    const Case cases[] = {
        { false, false, { Action::storeStarted, Action::imageStored }, { 1, 1 }, State::done },
        { true, false, { Action::storeStarted, Action::imageStored }, { 0, 1 }, State::done },
        { true, false, { Action::imageStored, Action::storeStarted }, { 1, 1 }, State::done },
        { true, true, { Action::storeStarted, Action::imageStored, Action::originalStored }, { 0, 0, 1 },
            State::done },
        { true, true, { Action::storeStarted, Action::originalStored, Action::imageStored }, { 0, 0, 1 },
            State::done },
        { false, true, { Action::storeStarted, Action::originalStored, Action::imageStored }, { 1, 1, 1 },
            State::done },
        { true, true, { Action::imageStored }, { 0 }, State::imageCached },
        { true, false, { Action::originalStored }, { 0 }, State::originalImageCached },
        { true, true, { Action::originalStored, Action::originalStored }, { 0, 0 },
            State::originalImageCached },
    };
    int index = 0;
    for (const Case& c : cases) {
        CacheCallbackCoordinator coordinator(c.wait, c.original);
        int fired = 0;
        for (std::size_t step = 0; step < c.actions.size(); ++step) {
            coordinator.applyCacheAction(c.actions[step], [&] { ++fired; });
            EXPECT_EQ(fired, c.firesAfter[step]) << "case " << index << " step " << step;
        }
        EXPECT_EQ(coordinator.state(), c.end) << "case " << index;
        ++index;
    }
}

// The two stores finish on two threads at the same time: the trigger still fires exactly once.
TEST(CacheCallbackCoordinator, RacingStoresFireOnce)
{
    for (int round = 0; round < 500; ++round) {
        CacheCallbackCoordinator coordinator(true, true);
        std::atomic<int> fired { 0 };
        coordinator.applyCacheAction(Action::storeStarted, [&] { ++fired; });
        std::thread image([&] { coordinator.applyCacheAction(Action::imageStored, [&] { ++fired; }); });
        std::thread original([&] { coordinator.applyCacheAction(Action::originalStored, [&] { ++fired; }); });
        image.join();
        original.join();
        ASSERT_EQ(fired, 1) << round;
    }
}
