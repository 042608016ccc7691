#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDRulerMarker.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "TextViewTestSupport.h"

using namespace textviewtest;
using platform::TextRange;

namespace {

// Drags with the left button from `from` to `to` in small steps, as a hand does.
void drag(QWidget& widget, QPoint from, QPoint to)
{
    QTest::mousePress(&widget, Qt::LeftButton, {}, from);
    const int step = to.y() >= from.y() ? 2 : -2;
    for (int y = from.y(); step > 0 ? y <= to.y() : y >= to.y(); y += step) {
        QMouseEvent move(QEvent::MouseMove, QPointF(from.x(), y), widget.mapToGlobal(QPointF(from.x(), y)),
            Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&widget, &move);
    }
    QTest::mouseRelease(&widget, Qt::LeftButton, {}, to);
}

} // namespace

// Under a line-height multiple the glyphs are drawn in the middle of their taller row. A clicked
// marker spans its line with its point level with the letters; a marker dragged onto a line stops
// at the foot of that line's letters, half the extra height above the line's bottom, and stays on
// the line (it rose by a whole line at twice the height, onto the line above at three times).
TEST(EDRulerMarker, MarkersStayOnTheLettersOfTheirLineAtEveryLineHeight)
{
    for (const double multiple : { 0.8, 1.0, 1.5, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        ShownView view(QStringLiteral("alpha\nbeta\ngamma\ndelta\nepsilon"));
        platform::ParagraphStyle style;
        style.lineHeightMultiple = multiple;
        view->setDefaultParagraphStyle(style);
        view->setString(view->string());
        view->setIsRulerVisible(true);
        auto* ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*view));
        ASSERT_TRUE(ruler);
        ruler->setAllowsMarkers(true);
        view.settle();
        const auto rulerPoint = [&](platform::TextLocation at) {
            const QPoint inView = view->viewport()->mapTo(view.view.get(), view.pointOf(at));
            return QPoint(ruler->width() / 2, ruler->mapFrom(view.view.get(), inView).y());
        };
        const auto letters = [&](platform::TextLocation lineStart) {
            return *edtextview::glyphSegmentFrame(view->textLayoutManager(), TextRange(lineStart, lineStart + 4), 0);
        };

        QTest::mouseClick(ruler, Qt::LeftButton, {}, rulerPoint(7));
        ASSERT_EQ(ruler->markers().size(), 1u);
        const QRectF clicked = ruler->markers().front()->imageRectInRuler();
        const QRectF beta = letters(6);
        EXPECT_NEAR(clicked.center().y(), ruler->convertFromClient(beta.center()).y(), 1.0);

        drag(*ruler, rulerPoint(7), rulerPoint(19));
        ASSERT_EQ(ruler->markers().size(), 1u);
        const double dropped = ruler->markers().front()->markerLocation();
        const QRectF deltaRow = view->textLayoutManager().textLayoutFragment(18)->layoutFragmentFrame();
        EXPECT_NEAR(dropped, letters(17).bottom(), 1.0);
        EXPECT_GT(dropped, deltaRow.top() + 1) << "it left its line";

        // It is on that line: a click there takes it away, and one on the line above adds a marker.
        QTest::mouseClick(ruler, Qt::LeftButton, {}, rulerPoint(13));
        EXPECT_EQ(ruler->markers().size(), 2u);
        QTest::mouseClick(ruler, Qt::LeftButton, {}, rulerPoint(19));
        ASSERT_EQ(ruler->markers().size(), 1u);
        EXPECT_NE(ruler->markers().front()->markerLocation(), dropped);
    }
}
