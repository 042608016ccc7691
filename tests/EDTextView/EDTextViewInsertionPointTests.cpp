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
