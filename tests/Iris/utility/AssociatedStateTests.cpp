#include "Iris/utility/AssociatedState.h"
#include "Iris/utility/DataWrapper.h"
#include "Iris/utility/IrisWrapper.h"

#include <QString>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace iris;

namespace {

// Stands in for the platform objects (images, image views) that carry associated state.
class TestView : public platform::AssociatedObjects {
public:
    int size = 0;
};

const char imageTaskKey = 0;
const char alternateImageTaskKey = 0;
const char dataKey = 0;
const char indicatorTypeKey = 0;
const char frameCountKey = 0;

} // namespace

namespace iris {
// Operations on the test view, declared on its wrapper as the library declares them for its types.
template<> struct IrisWrapper<std::shared_ptr<TestView>> {
    std::shared_ptr<TestView> base;

    std::optional<std::uint64_t> taskIdentifier() const
    {
        auto box = getAssociatedTaskIdentifierBox(*base, &imageTaskKey);
        return box ? std::optional<std::uint64_t>(box->value) : std::nullopt;
    }
    void setTaskIdentifier(std::optional<std::uint64_t> identifier) const
    {
        setAssociatedValue(*base, &imageTaskKey,
            identifier ? std::optional(std::make_shared<Box<std::uint64_t>>(*identifier)) : std::nullopt);
    }
};
} // namespace iris

TEST(IrisWrapper, HoldsTheReceiver)
{
    auto view = std::make_shared<TestView>();
    auto wrapper = ir(view);
    EXPECT_EQ(wrapper.base, view);
    wrapper.setTaskIdentifier(0);
    // A task identifier of 0 is present: it is stored boxed.
    EXPECT_EQ(ir(view).taskIdentifier(), 0u);
    wrapper.setTaskIdentifier(std::nullopt);
    EXPECT_EQ(ir(view).taskIdentifier(), std::nullopt);
}

TEST(IrisWrapper, DataTellsItsImageFormat)
{
    const QByteArray gif("GIF89a\x01\x00\x01\x00\x00\x00\x00", 13);
    EXPECT_EQ(ir(gif).imageFormat(), ImageFormat::GIF);
    EXPECT_EQ(ir(QByteArray("not an image")).imageFormat(), ImageFormat::unknown);
    EXPECT_FALSE(ir(gif).contains(JPEGMarker::SOS()));
}

TEST(AssociatedState, NeverWrittenOrWrittenAbsentReadsAbsent)
{
    TestView view;
    EXPECT_EQ(getAssociatedData(view, &dataKey), std::nullopt);
    EXPECT_EQ(getAssociatedTaskIdentifierBox(view, &imageTaskKey), nullptr);
    EXPECT_EQ(getAssociatedIndicatorType(view, &indicatorTypeKey), std::nullopt);
    EXPECT_EQ(getAssociatedPlaceholder(view, &dataKey), nullptr);
    EXPECT_EQ(getAssociatedFrameSource(view, &dataKey), nullptr);
    EXPECT_EQ(getAssociatedImages(view, &dataKey), std::nullopt);
    EXPECT_EQ(getAssociatedDownloadTask(view, &dataKey).has_value(), false);

    setAssociatedValue<QByteArray>(view, &dataKey, QByteArray("gif"));
    EXPECT_EQ(getAssociatedData(view, &dataKey), QByteArray("gif"));
    setAssociatedValue<QByteArray>(view, &dataKey, std::nullopt);
    EXPECT_EQ(getAssociatedData(view, &dataKey), std::nullopt);
}

TEST(AssociatedState, ItemsAndObjectsAreIndependent)
{
    TestView first;
    TestView second;
    setAssociatedValue(first, &imageTaskKey, std::optional(std::make_shared<Box<std::uint64_t>>(1)));
    setAssociatedValue(first, &alternateImageTaskKey, std::optional(std::make_shared<Box<std::uint64_t>>(2)));
    setAssociatedValue(second, &imageTaskKey, std::optional(std::make_shared<Box<std::uint64_t>>(3)));
    EXPECT_EQ(getAssociatedTaskIdentifierBox(first, &imageTaskKey)->value, 1u);
    EXPECT_EQ(getAssociatedTaskIdentifierBox(first, &alternateImageTaskKey)->value, 2u);
    EXPECT_EQ(getAssociatedTaskIdentifierBox(second, &imageTaskKey)->value, 3u);
}

TEST(AssociatedState, AValueOfAnotherTypeReadsAbsent)
{
    TestView view;
    setAssociatedValue<QString>(view, &imageTaskKey, QString("not a box"));
    EXPECT_EQ(getAssociatedTaskIdentifierBox(view, &imageTaskKey), nullptr);
    setAssociatedValue<int>(view, &frameCountKey, 5);
    // Stored as a plain int, not the 64-bit integer the reader expects.
    EXPECT_EQ(getAssociatedInt(view, &frameCountKey), std::nullopt);
    setAssociatedValue<std::int64_t>(view, &frameCountKey, 5);
    EXPECT_EQ(getAssociatedInt(view, &frameCountKey), 5);
    setAssociatedValue(view, &indicatorTypeKey, std::optional(IndicatorType::activity()));
    EXPECT_EQ(getAssociatedIndicatorType(view, &indicatorTypeKey)->kind(), IndicatorType::Kind::activity);
}

TEST(AssociatedState, ConcurrentReadersAndWriters)
{
    auto view = std::make_shared<TestView>();
    std::atomic<bool> stop { false };
    std::thread writer([&] {
        for (std::uint64_t i = 0; i < 5000; ++i)
            ir(view).setTaskIdentifier(i);
        stop = true;
    });
    std::uint64_t last = 0;
    bool ordered = true;
    while (!stop) {
        if (auto identifier = ir(view).taskIdentifier()) {
            ordered = ordered && *identifier >= last;
            last = *identifier;
        }
    }
    writer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(ir(view).taskIdentifier(), 4999u);
}
