#include "TextViewTestSupport.h"

using namespace textviewtest;

// End on a wrapped row leaves the caret where that row ends, drawn there, not at the start of the
// row below (the same offset); a caret moved down to that offset is drawn on the row below. Input
// methods are told the row the caret is drawn on.
TEST(EDTextViewInsertionPoint, ACaretWhereAWrappedRowEndsIsDrawnOnTheRowItsAffinityNames)
{
    ShownView view(QStringLiteral("word ").repeated(40), QSize(200, 200));
    auto caret = [&] {
        view.settle();
        EXPECT_EQ(view->insertionPointViews().size(), 1u);
        if (view->insertionPointViews().empty())
            return QRectF();
        const QRectF drawn = view->insertionPointViews().front().frame;
        const double told = view->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().y()
            - view->viewport()->pos().y();
        EXPECT_GE(told, view->viewToViewport(drawn.topLeft()).y());
        EXPECT_LE(told, view->viewToViewport(drawn.bottomLeft()).y());
        return drawn;
    };
    view.setCaret(0);
    const QRectF firstRowStart = caret();
    view->moveToEndOfLine();
    const platform::TextLocation rowEnd = view.ranges().front().location;
    ASSERT_LT(rowEnd, view->string().size()) << "the text wraps";
    const QRectF end = caret();
    EXPECT_DOUBLE_EQ(end.top(), firstRowStart.top());
    EXPECT_GT(end.left(), firstRowStart.left());

    view.setCaret(0);
    view->moveDown();
    ASSERT_EQ(view.ranges().front().location, rowEnd);
    const QRectF below = caret();
    EXPECT_GT(below.top(), firstRowStart.top());
    EXPECT_DOUBLE_EQ(below.left(), firstRowStart.left());
}

// Under a line-height multiple the row grows and its glyphs are drawn in its middle: the caret, and
// the rectangle input methods are told, stand level with the glyphs, as tall as a line of the font,
// not the whole row. In an empty text the caret stands where the first letter will.
TEST(EDTextViewInsertionPoint, TheCaretStandsLevelWithTheGlyphsAtEveryLineHeight)
{
    const QColor ink(0, 0, 0);
    // The rows of the viewport that hold dark ink (the caret is red).
    const auto inkRows = [&](const QImage& image) {
        int first = -1, last = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (std::max({ pixel.red(), pixel.green(), pixel.blue() }) < 128) {
                    first = first < 0 ? y : first;
                    last = y;
                    break;
                }
            }
        }
        return std::make_pair(first, last + 1);
    };
    for (const double multiple : { 0.8, 1.0, 1.5, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        // Ink on the middle line only, from the top of an "H" to the foot of a "g".
        ShownView view(QStringLiteral("\nHg Hg\n\n"));
        platform::ParagraphStyle style;
        style.lineHeightMultiple = multiple;
        view->setDefaultParagraphStyle(style);
        view->setString(view->string());
        view->setTextColor(ink, platform::CharacterRange { 0, 8 });
        view->setInsertionPointColor(Qt::red);
        view.setCaret(6);
        view.settle();
        const auto [inkTop, inkBottom] = inkRows(view->viewport()->grab().toImage());
        ASSERT_GE(inkTop, 0);
        ASSERT_EQ(view->insertionPointViews().size(), 1u);
        const QRectF caret
            = view->insertionPointViews().front().frame.translated(-view->documentVisibleRect().topLeft());
        const QRect told
            = view->inputMethodQuery(Qt::ImCursorRectangle).toRect().translated(-view->viewport()->pos());
        // The glyph box reaches a little above a capital and below a descender, never a row.
        for (const QRectF& rect : { caret, QRectF(told) }) {
            EXPECT_LE(rect.top(), inkTop + 1) << "the top of the letters sticks out above";
            EXPECT_GE(rect.top(), inkTop - 5) << "it reaches far above the letters";
            EXPECT_GE(rect.bottom(), inkBottom - 1) << "the foot of the g sticks out below";
            EXPECT_LE(rect.bottom(), inkBottom + 3) << "it reaches far below the letters";
        }

        view->setString(QString());
        view.settle();
        ASSERT_EQ(view->insertionPointViews().size(), 1u);
        const QRectF empty = view->insertionPointViews().front().frame;
        view->insertText(QStringLiteral("H"), platform::CharacterRange::notFound());
        view.settle();
        ASSERT_EQ(view->insertionPointViews().size(), 1u);
        const QRectF typed = view->insertionPointViews().front().frame;
        EXPECT_NEAR(empty.top(), typed.top(), 1.0);
        EXPECT_NEAR(empty.height(), typed.height(), 1.0);
    }
}
