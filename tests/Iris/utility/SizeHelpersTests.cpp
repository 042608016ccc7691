#include "Iris/utility/DisplayLinkSupport.h"
#include "Iris/utility/SizeHelpers.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

using namespace iris;

TEST(SizeHelpers, FitAndFill)
{
    struct Case {
        QSizeF size;
        QSizeF target;
        QSizeF fit;
        QSizeF fill;
    };
    const Case cases[] = {
        { { 100, 50 }, { 40, 40 }, { 40, 20 }, { 80, 40 } },
        { { 50, 100 }, { 40, 40 }, { 20, 40 }, { 40, 80 } },
        { { 100, 100 }, { 30, 60 }, { 30, 30 }, { 60, 60 } },
        // A zero height counts as ratio 1.
        { { 100, 0 }, { 40, 20 }, { 20, 20 }, { 40, 40 } },
        // Halves round away from zero: 3 * 0.5 = 1.5 gives 2.
        { { 1, 2 }, { 10, 3 }, { 2, 3 }, { 10, 20 } },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(constrainedSize(c.size, c.target), c.fit) << c.size.width() << "x" << c.size.height();
        EXPECT_EQ(fillingSize(c.size, c.target), c.fill) << c.size.width() << "x" << c.size.height();
        EXPECT_EQ(ir(c.size).resizedSize(c.target, ContentMode::aspectFit), c.fit);
        EXPECT_EQ(ir(c.size).resizedSize(c.target, ContentMode::aspectFill), c.fill);
        EXPECT_EQ(ir(c.size).resizedSize(c.target, ContentMode::none), c.target);
    }
}

TEST(SizeHelpers, ConstrainedRect)
{
    EXPECT_EQ(constrainedRect({ 100, 100 }, { 50, 50 }, { 0.5, 0.5 }), QRectF(25, 25, 50, 50));
    // An anchor of (2, -1) is clamped to (1, 0).
    EXPECT_EQ(constrainedRect({ 100, 100 }, { 50, 50 }, { 2, -1 }), QRectF(50, 0, 50, 50));
    // A crop larger than the size is cut to the size.
    EXPECT_EQ(constrainedRect({ 100, 80 }, { 200, 200 }, { 0.5, 0.5 }), QRectF(0, 0, 100, 80));
    EXPECT_TRUE(constrainedRect({ 100, 100 }, { 0, 0 }, { 0.5, 0.5 }).isEmpty());
}

TEST(SizeHelpers, RoundedRectPath)
{
    // Radius 100 on a 40 x 20 rectangle rounds with 10: the corner point itself is outside, a
    // point just inside the arc is inside.
    QPainterPath all = roundedRectPath(QRectF(0, 0, 40, 20), RectCorner::all, 100);
    EXPECT_FALSE(all.contains(QPointF(0.5, 0.5)));
    EXPECT_TRUE(all.contains(QPointF(3.5, 3.5)));
    EXPECT_TRUE(all.contains(QPointF(20, 10)));
    EXPECT_FALSE(all.contains(QPointF(2, 18)));

    // Only top-left (maximum y, left) and bottom-right (minimum y, right) are rounded.
    QPainterPath two
        = roundedRectPath(QRectF(0, 0, 40, 20), RectCorner::topLeft | RectCorner::bottomRight, 8);
    EXPECT_FALSE(two.contains(QPointF(0.5, 19.5)));
    EXPECT_FALSE(two.contains(QPointF(39.5, 0.5)));
    EXPECT_TRUE(two.contains(QPointF(0.5, 0.5)));
    EXPECT_TRUE(two.contains(QPointF(39.5, 19.5)));

    EXPECT_TRUE(roundedRectPath(QRectF(0, 0, 0, 20), RectCorner::all, 5).isEmpty());
    EXPECT_TRUE(roundedRectPath(QRectF(0, 0, 10, 10), RectCorner::all, -5).contains(QPointF(0.2, 0.2)));
}

TEST(DisplayLinkSupport, RemovesEveryEqualModeInOrder)
{
    std::vector<QString> modes { "common", "default", "common", "tracking" };
    removeRunLoopMode(modes, "common");
    EXPECT_EQ(modes, (std::vector<QString> { "default", "tracking" }));
}

TEST(DisplayLinkSupport, OutputCallbackHandsTheStampToTheMainQueue)
{
    struct Link : DisplayLinkOutputHandling {
        std::atomic<bool> handled { false };
        std::atomic<bool> onMain { false };
        std::uint64_t hostTime = 0;
        void handleOutput(DisplayLinkTimeStamp stamp) override
        {
            onMain = testsupport::isMainThread();
            hostTime = stamp.hostTime;
            handled = true;
        }
    };
    auto link = std::make_shared<Link>();
    int result = -1;
    std::thread([&] {
        result = displayLinkOutputCallback(link, DisplayLinkTimeStamp { 42, 1, 1, 1 });
    }).join();
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return link->handled.load(); }));
    EXPECT_TRUE(link->onMain);
    EXPECT_EQ(link->hostTime, 42u);
}
