#include "platform/foundation/ObservationRegistrar.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using platform::ObservationRegistrar;
using platform::withObservationTracking;

namespace {

// A small observable object, written the way records write their accessors.
class Counter {
public:
    int value() const
    {
        m_registrar.access("value");
        return m_value;
    }
    void setValue(int value)
    {
        m_registrar.withMutation("value", [&] { m_value = value; });
    }
    std::size_t observersOfValue() const { return m_registrar.observerCount("value"); }
    int other() const
    {
        m_registrar.access("other");
        return m_other;
    }
    void setOther(int other)
    {
        m_registrar.withMutation("other", [&] { m_other = other; });
    }

private:
    int m_value = 0;
    int m_other = 0;
    ObservationRegistrar m_registrar;
};

} // namespace

TEST(Observation, ATrackedReadThenAWriteFiresOnceBeforeTheValueChanges)
{
    Counter counter;
    int fired = 0;
    int seenDuringChange = -1;
    withObservationTracking([&] { (void)counter.value(); },
        [&] {
            ++fired;
            seenDuringChange = counter.value();
        });
    counter.setValue(1);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(seenDuringChange, 0) << "told before the new value is stored";
    counter.setValue(2);
    EXPECT_EQ(fired, 1) << "one-shot";
}

TEST(Observation, ACancelledScopeLeavesEveryObjectItReadAndNeverFires)
{
    Counter a;
    Counter b;
    int fired = 0;
    auto tracking = withObservationTracking(
        [&] {
            (void)a.value();
            (void)b.value();
            (void)a.value();
            (void)b.other();
        },
        [&] { ++fired; });
    EXPECT_TRUE(tracking.isActive());
    EXPECT_EQ(a.observersOfValue(), 1u) << "a property read twice holds the scope once";
    tracking.cancel();
    EXPECT_FALSE(tracking.isActive());
    EXPECT_EQ(a.observersOfValue(), 0u);
    EXPECT_EQ(b.observersOfValue(), 0u);
    a.setValue(1);
    b.setValue(1);
    b.setOther(1);
    EXPECT_EQ(fired, 0);

    // A scope that has fired is done; cancelling it afterwards is harmless.
    auto fires = withObservationTracking([&] { (void)a.value(); }, [&] { ++fired; });
    a.setValue(2);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(fires.isActive());
    fires.cancel();
}

TEST(Observation, UntrackedOrOtherPropertiesFireNothing)
{
    Counter counter;
    int fired = 0;
    counter.setValue(5);
    withObservationTracking([&] { (void)counter.value(); }, [&] { ++fired; });
    counter.setOther(1);
    EXPECT_EQ(fired, 0);

    Counter untracked;
    withObservationTracking([] {}, [&] { ++fired; });
    untracked.setValue(1);
    EXPECT_EQ(fired, 0);
}

TEST(Observation, OneChangeCancelsTheWholeScope)
{
    Counter a;
    Counter b;
    int fired = 0;
    withObservationTracking(
        [&] {
            (void)a.value();
            (void)a.value();
            (void)b.other();
        },
        [&] { ++fired; });
    b.setOther(1);
    a.setValue(1);
    EXPECT_EQ(fired, 1);
}

TEST(Observation, TrackingAgainFromTheChangeHandlerWorks)
{
    Counter counter;
    int fired = 0;
    std::function<void()> track = [&] {
        withObservationTracking([&] { (void)counter.value(); },
            [&] {
                ++fired;
                track();
            });
    };
    track();
    counter.setValue(1);
    counter.setValue(2);
    EXPECT_EQ(fired, 2);
}

TEST(Observation, AnObjectGoneBeforeItsChangeLeavesNothingBehind)
{
    int fired = 0;
    {
        Counter counter;
        withObservationTracking([&] { (void)counter.value(); }, [&] { ++fired; });
    }
    Counter another;
    another.setValue(1);
    EXPECT_EQ(fired, 0);
}
