#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDRulerMarker.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "TextViewTestSupport.h"

using namespace textviewtest;
using platform::TextRange;

// Under a line-height multiple the glyphs are drawn in the middle of their taller row: a marker
// dragged onto a line stops at the foot of that line's letters and stays on the line (it rose by a
// whole line at twice the height, onto the line above at three times), so a click there takes it.
TEST(EDRulerMarker, ADraggedMarkerStopsAtTheFootOfItsLettersAtEveryLineHeight)
{
    for (const double multiple : { 0.8, 1.0, 1.5, 2.0, 3.0 }) {
        SCOPED_TRACE(multiple);
        ShownView view(QStringLiteral("alpha\nbeta\ngamma\ndelta\nepsilon"));
        setLineHeightMultiple(*view, multiple);
        view->setIsRulerVisible(true);
        auto* ruler = qobject_cast<EDLineNumberRulerView*>(platform::RulerView::verticalRuler(*view));
        ASSERT_TRUE(ruler);
        ruler->setAllowsMarkers(true);
        const auto rulerY = [&](platform::TextLocation at) {
            const QPoint inView = view->viewport()->mapTo(view.view.get(), view.pointOf(at));
            return ruler->mapFrom(view.view.get(), inView).y();
        };
        const int x = ruler->width() / 2;
        QTest::mouseClick(ruler, Qt::LeftButton, {}, QPoint(x, rulerY(7)));
        ASSERT_EQ(ruler->markers().size(), 1u);

        QTest::mousePress(ruler, Qt::LeftButton, {}, QPoint(x, rulerY(7)));
        for (int y = rulerY(7); y <= rulerY(19); y += 2) {
            QMouseEvent move(QEvent::MouseMove, QPointF(x, y), ruler->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                Qt::LeftButton, {});
            QCoreApplication::sendEvent(ruler, &move);
        }
        QTest::mouseRelease(ruler, Qt::LeftButton, {}, QPoint(x, rulerY(19)));
        ASSERT_EQ(ruler->markers().size(), 1u);
        const double dropped = ruler->markers().front()->markerLocation();
        const QRectF delta = *edtextview::glyphSegmentFrame(view->textLayoutManager(), TextRange(17, 22), 0);
        EXPECT_NEAR(dropped, delta.bottom(), 1.0);

        QTest::mouseClick(ruler, Qt::LeftButton, {}, QPoint(x, rulerY(19)));
        EXPECT_TRUE(ruler->markers().empty());
    }
}
