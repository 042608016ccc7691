#include "EDTextView/EDScrollBar.h"
#include "TextViewTestSupport.h"

#include <QBackingStore>
#include <QImage>
#include <QPaintEvent>
#include <QScrollBar>

using namespace textviewtest;

namespace {

// Collects the regions a widget is asked to paint.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget* widget) { widget->installEventFilter(this); }
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

// The bar's pixels as the window shows them now, against the bar painted afresh in full.
void expectShownAsPaintedAfresh(QScrollBar* bar, const char* when)
{
    auto* shown = dynamic_cast<QImage*>(bar->window()->backingStore()->paintDevice());
    ASSERT_NE(shown, nullptr);
    const qreal ratio = shown->devicePixelRatio();
    const QRect area(bar->mapTo(bar->window(), QPoint(0, 0)) * ratio, bar->size() * ratio);
    const QImage onScreen = shown->copy(area).convertToFormat(QImage::Format_ARGB32);
    const QImage fresh = bar->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(onScreen.size(), fresh.size()) << when;
    EXPECT_TRUE(onScreen == fresh) << when << ": the bar shows stale pixels";
}

} // namespace

TEST(EDScrollBar, APageDownRepaintsOnlyWhereTheHandleWasAndIs)
{
    QString text;
    for (int line = 0; line < 4000; ++line)
        text += QStringLiteral("line %1 of a long note\n").arg(line);
    ShownView view(text);
    QScrollBar* bar = view->verticalScrollBar();
    ASSERT_NE(dynamic_cast<EDScrollBar*>(bar), nullptr);
    ASSERT_TRUE(waitFor([&] { return bar->isVisible() && bar->maximum() > 0; }));
    waitFor([&] { return false; }, 50);

    // Leaving the top changes the arrows' look, which repaints the whole bar.
    view->pageDown(nullptr);
    view.settle();
    waitFor([&] { return false; }, 50);
    expectShownAsPaintedAfresh(bar, "after leaving the top");

    PaintRecorder recorder(bar);
    for (int page = 0; page < 5; ++page) {
        view->pageDown(nullptr);
        view.settle();
        ASSERT_TRUE(waitFor([&] { return recorder.paints > page; }));
    }
    const QRect repainted = recorder.painted.boundingRect();
    EXPECT_LT(repainted.height(), bar->height() / 2) << "the whole bar was repainted";
    expectShownAsPaintedAfresh(bar, "after moving down");

    // At the ends the arrows change their look: those repaints take the whole bar.
    while (bar->value() < bar->maximum()) {
        view->pageDown(nullptr);
        view.settle();
    }
    waitFor([&] { return false; }, 50);
    expectShownAsPaintedAfresh(bar, "at the end");
    view->pageUp(nullptr);
    view.settle();
    waitFor([&] { return false; }, 50);
    expectShownAsPaintedAfresh(bar, "back from the end");

    // A new range (text added) moves and resizes the handle.
    view->setString(text.left(text.size() / 3));
    view.settle();
    waitFor([&] { return false; }, 50);
    expectShownAsPaintedAfresh(bar, "after the text shrank");
}
