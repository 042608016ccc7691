#include "app/screens/common/SymbolPainter.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

// The symbol drawn at ten pixels a design unit, in black on transparent.
QImage drawn(Symbol symbol)
{
    QImage image(240, 240, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    SymbolPainter::paint(painter, symbol, QRectF(0, 0, 240, 240), Qt::black);
    return image;
}

int alphaAt(const QImage& image, double x, double y)
{
    return qAlpha(image.pixel(int(x * 10), int(y * 10)));
}

} // namespace

// A plus cut out of a filled shape is cut out whole: where its two bars cross is a hole too, not a
// filled square that turns the plus into a four-leaved shape.
TEST(SymbolPainter, APlusCutOutOfAFilledShapeIsCutOutWhereItsBarsCross)
{
    const QImage plus = drawn(Symbol::plusCircleFill);
    EXPECT_EQ(alphaAt(plus, 12, 12), 0) << "the crossing";
    EXPECT_EQ(alphaAt(plus, 12, 8), 0) << "a bar";
    EXPECT_EQ(alphaAt(plus, 7, 7), 255) << "the circle beside the plus";

    const QImage minus = drawn(Symbol::minusCircleFill);
    EXPECT_EQ(alphaAt(minus, 12, 12), 0);
    EXPECT_EQ(alphaAt(minus, 12, 8), 255);

    const QImage badge = drawn(Symbol::photoBadgePlusFill);
    EXPECT_EQ(alphaAt(badge, 18.5, 17.5), 0) << "the badge's crossing";
    EXPECT_EQ(alphaAt(badge, 16.3, 15.3), 255) << "the badge beside its plus";
}
