#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

using namespace platform;

TEST(Geometry, RectIntersection)
{
    struct Case {
        const char* name;
        Rect a, b;
        Rect expected;
    };
    const Case cases[] = {
        { "overlap", Rect(0, 0, 10, 10), Rect(5, 5, 10, 10), Rect(5, 5, 5, 5) },
        { "inside", Rect(0, 0, 10, 10), Rect(2, 3, 4, 5), Rect(2, 3, 4, 5) },
        { "disjoint", Rect(0, 0, 10, 10), Rect(20, 0, 5, 5), Rect::null() },
        { "touching", Rect(0, 0, 10, 10), Rect(10, 0, 5, 5), Rect(10, 0, 0, 5) },
        { "negative size", Rect(10, 10, -10, -10), Rect(5, 5, 10, 10), Rect(5, 5, 5, 5) },
        { "null operand", Rect::null(), Rect(0, 0, 10, 10), Rect::null() },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Rect result = c.a.intersection(c.b);
        EXPECT_EQ(result.isNull(), c.expected.isNull());
        if (!c.expected.isNull()) {
            EXPECT_EQ(result, c.expected);
        }
    }
    EXPECT_TRUE(Rect::null().isEmpty());
    EXPECT_TRUE(Rect(1, 1, 0, 4).isEmpty());
    EXPECT_FALSE(Rect(1, 1, 0, 4).isNull());
    EXPECT_EQ(Rect(0, 0, 10, 10).insetBy(2, 3), Rect(2, 3, 6, 4));
    EXPECT_TRUE(Rect(0, 0, 10, 10).insetBy(6, 0).isNull());
    EXPECT_EQ(Rect(10, 20, -4, -6).maxY(), 20);
    EXPECT_EQ(Rect(10, 20, -4, -6).minY(), 14);
}

TEST(Geometry, ArcThroughCornerRoundsTheCorner)
{
    // A 100 × 100 square whose top-left corner (y-up: minX, maxY) is rounded with radius 20 and
    // whose other corners stay sharp.
    Path path;
    path.moveTo({ 50, 100 });
    path.arcThroughCorner({ 0, 100 }, { 0, 0 }, 20);
    path.arcThroughCorner({ 0, 0 }, { 100, 0 }, 0);
    path.arcThroughCorner({ 100, 0 }, { 100, 100 }, 0);
    path.arcThroughCorner({ 100, 100 }, { 0, 100 }, 0);
    path.closeSubpath();
    const QPainterPath& p = path.painterPath();
    EXPECT_FALSE(p.contains(QPointF(1, 99))); // cut off by the arc
    EXPECT_TRUE(p.contains(QPointF(7, 93))); // inside the arc (centre 20, 80; distance ≈ 18.4)
    EXPECT_TRUE(p.contains(QPointF(99, 99))); // sharp corners
    EXPECT_TRUE(p.contains(QPointF(1, 1)));
    const Rect bounds = path.boundingRect();
    EXPECT_NEAR(bounds.minX(), 0, 1e-9);
    EXPECT_NEAR(bounds.maxY(), 100, 1e-9);
    // The arc's midpoint lies on the circle of radius 20 around (20, 80).
    const QPointF middle(20 - 20 / std::sqrt(2.0), 80 + 20 / std::sqrt(2.0));
    EXPECT_TRUE(p.contains(middle + QPointF(0.3, -0.3)));
    EXPECT_FALSE(p.contains(middle + QPointF(-0.3, 0.3)));

    Path fromNothing;
    fromNothing.arcThroughCorner({ 3, 4 }, { 5, 6 }, 2);
    EXPECT_EQ(fromNothing.currentPoint(), (Point { 3, 4 }));
    EXPECT_EQ(Path().fillRule(), FillRule::nonZero);
}

TEST(Color, DescriptionIgnoresTheLocale)
{
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(Color({ 1, 0.5, 0.25, 1 }).description(), QString("extended sRGB 1 0.5 0.25 1"));
    EXPECT_EQ(Color({ -0.0, 1.25, 0.1, 0 }).description(), QString("extended sRGB 0 1.25 0.1 0"));
    std::setlocale(LC_ALL, saved.c_str());
    const QColor extended = Color { 1.25, 0, 0, 0.5 }.toQColor();
    EXPECT_EQ(extended.spec(), QColor::ExtendedRgb);
    EXPECT_FLOAT_EQ(extended.alphaF(), 0.5f);
}
