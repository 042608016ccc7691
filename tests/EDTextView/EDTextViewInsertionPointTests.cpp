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

// Under a line-height multiple the glyphs stand in the middle of a taller row: the caret and the
// input method's rectangle are level with them, not the whole row; in an empty text the caret is
// where the first letter will stand.
TEST(EDTextViewInsertionPoint, TheCaretStandsLevelWithTheGlyphsAtEveryLineHeight)
{
    for (const double multiple : { 0.8, 1.0, 1.5, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        ShownView view(QStringLiteral("\nHg Hg\n\n")); // ink from the top of an "H" to the foot of a "g"
        setLineHeightMultiple(*view, multiple);
        view->setInsertionPointColor(Qt::red);
        view.setCaret(6);
        view.settle();
        const QImage shot = view->viewport()->grab().toImage();
        const auto [inkTop, inkBottom] = inkRows(shot);
        ASSERT_GE(inkTop, 0);
        ASSERT_EQ(view->insertionPointViews().size(), 1u);
        const QRectF caret
            = view->insertionPointViews().front().frame.translated(-view->documentVisibleRect().topLeft());
        const QRect told
            = view->inputMethodQuery(Qt::ImCursorRectangle).toRect().translated(-view->viewport()->pos());
        // The font's box reaches a little above a capital and below a descender, never a row.
        for (const QRectF& rect : { caret, QRectF(told) }) {
            EXPECT_TRUE(rect.top() <= inkTop + 1 && rect.top() >= inkTop - 5)
                << rect.top() << " for " << inkTop;
            EXPECT_TRUE(rect.bottom() >= inkBottom - 1 && rect.bottom() <= inkBottom + 3)
                << rect.bottom() << " for " << inkBottom;
        }

        view->setString(QString());
        view.settle();
        const QRectF empty = view->insertionPointViews().at(0).frame;
        view->insertText(QStringLiteral("H"), platform::CharacterRange::notFound());
        view.settle();
        EXPECT_NEAR(empty.top(), view->insertionPointViews().at(0).frame.top(), 1.0);
        EXPECT_NEAR(empty.height(), view->insertionPointViews().at(0).frame.height(), 1.0);
    }
}

// A caret caught in the hidden half of its blink shows again at every edit, also one that leaves it
// where it was: held down, forward delete keeps it in sight.
TEST(EDTextViewInsertionPoint, AnEditThatLeavesTheCaretInPlaceShowsIt)
{
    ShownView view("hello world");
    view.setCaret(3);
    const auto hidden = [&] {
        view.settle();
        const auto& carets = view->insertionPointViews();
        EXPECT_EQ(carets.size(), 1u);
        const auto* built = carets.empty()
            ? nullptr
            : dynamic_cast<const EDTextInsertionIndicator*>(carets.front().textInsertionIndicator.get());
        return built && built->isHidden();
    };
    for (int press = 0; press < 2; ++press) {
        ASSERT_TRUE(waitFor(hidden));
        QTest::keyClick(view.view.get(), Qt::Key_Delete);
        EXPECT_FALSE(hidden());
    }
    EXPECT_EQ(view->string(), "hel world");
}
