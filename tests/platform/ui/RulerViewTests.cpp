#include "platform/ui/RulerClient.h"
#include "platform/ui/RulerMarker.h"
#include "platform/ui/RulerView.h"
#include "support/TestSupport.h"

#include <QAbstractScrollArea>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace platform;

namespace {

// Snaps marker locations to lines 20 units tall, as a text view snaps them to its lines.
class FakeClient : public RulerClient {
public:
    bool rulerViewShouldAddMarker(RulerView&, RulerMarker&) override { return true; }
    double rulerViewWillAddMarker(RulerView&, RulerMarker&, double location) override { return location; }
    void rulerViewDidAddMarker(RulerView&, RulerMarker&) override { }
    void rulerViewDidRemoveMarker(RulerView&, RulerMarker& marker) override { removed.push_back(&marker); }
    double rulerViewLocationForPoint(RulerView&, QPointF point) override
    {
        return std::round(point.y() / 20) * 20;
    }
    void rulerViewHandleMouseDown(RulerView& ruler, QMouseEvent& event) override
    {
        clicks.push_back(ruler.convertToClient(event.position()));
    }

    std::vector<QPointF> clicks;
    std::vector<RulerMarker*> removed;
};

class CountingRuler : public RulerView {
public:
    using RulerView::RulerView;
    int paints = 0;

protected:
    void drawRect(QPainter& painter, const QRectF& dirtyRect) override
    {
        ++paints;
        RulerView::drawRect(painter, dirtyRect);
    }
};

// A 300 x 200 scroll area over 1,200 units of content, its ruler shown.
struct ScrollWithRuler {
    ScrollWithRuler()
    {
        area.setFrameShape(QFrame::NoFrame);
        area.resize(300, 200);
        area.verticalScrollBar()->setRange(0, 1000);
        ruler = new CountingRuler(&area);
        ruler->setClientView(&client);
        RulerView::setVerticalRuler(area, ruler);
        RulerView::setRulersVisible(area, true);
    }

    std::shared_ptr<RulerMarker> addMarker(double location, QColor color = Qt::red)
    {
        QImage image(16, 10, QImage::Format_ARGB32_Premultiplied);
        image.fill(color);
        auto marker = std::make_shared<RulerMarker>(ruler, location, image, QPointF());
        ruler->addMarker(marker);
        return marker;
    }

    FakeClient client;
    QAbstractScrollArea area;
    CountingRuler* ruler = nullptr;
};

bool isRed(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y) == QColor(Qt::red);
}

} // namespace

TEST(RulerView, KeepsTheLeftViewportMarginAsWideAsItsThicknessWhileShown)
{
    QAbstractScrollArea area;
    area.setFrameShape(QFrame::NoFrame);
    area.resize(300, 200);
    area.show();
    auto* ruler = new RulerView(&area);
    RulerView::setVerticalRuler(area, ruler);
    EXPECT_EQ(RulerView::verticalRuler(area), ruler);
    EXPECT_EQ(area.viewport()->x(), 0); // rulers start hidden
    EXPECT_TRUE(ruler->isHidden());

    RulerView::setRulersVisible(area, true);
    EXPECT_EQ(area.viewport()->geometry(), QRect(16, 0, 284, 200));
    EXPECT_EQ(ruler->geometry(), QRect(0, 0, 16, 200));

    ruler->setRuleThickness(30.5);
    ruler->setReservedThicknessForMarkers(9);
    EXPECT_EQ(ruler->requiredThickness(), 39.5);
    EXPECT_EQ(area.viewport()->x(), 40);
    EXPECT_EQ(ruler->geometry(), QRect(0, 0, 40, 200));

    area.resize(300, 260);
    EXPECT_TRUE(testsupport::waitUntil([&] { return ruler->height() == 260; }));

    RulerView::setRulersVisible(area, false);
    EXPECT_EQ(area.viewport()->x(), 0);
    EXPECT_TRUE(ruler->isHidden());

    // A new ruler takes the old one's place; the visibility is the scroll view's.
    RulerView::setRulersVisible(area, true);
    auto* replacement = new RulerView(&area);
    RulerView::setVerticalRuler(area, replacement);
    EXPECT_EQ(RulerView::verticalRuler(area), replacement);
    EXPECT_EQ(area.viewport()->x(), 16);
    RulerView::setVerticalRuler(area, nullptr);
    EXPECT_EQ(area.viewport()->x(), 0);
}

TEST(RulerView, DrawsMarkersAtTheirLocationAndRepaintsWhenTheContentScrolls)
{
    ScrollWithRuler view;
    auto marker = view.addMarker(100);
    // The image ends at the location: rows 90 to 99.
    QImage shot = view.ruler->grab().toImage();
    EXPECT_TRUE(isRed(shot, 8, 90));
    EXPECT_TRUE(isRed(shot, 8, 99));
    EXPECT_FALSE(isRed(shot, 8, 89));
    EXPECT_FALSE(isRed(shot, 8, 100));

    view.area.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view.area));
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.ruler->paints > 0; }));
    view.ruler->paints = 0;
    view.area.verticalScrollBar()->setValue(60);
    EXPECT_TRUE(testsupport::waitUntil([&] { return view.ruler->paints > 0; }));
    shot = view.ruler->grab().toImage();
    EXPECT_TRUE(isRed(shot, 8, 35));
    EXPECT_FALSE(isRed(shot, 8, 95));

    // The image origin is measured up from the image's bottom edge.
    marker->setImageOrigin(QPointF(0, 10));
    shot = view.ruler->grab().toImage();
    EXPECT_TRUE(isRed(shot, 8, 45));
    EXPECT_FALSE(isRed(shot, 8, 35));

    view.ruler->removeMarker(*marker);
    EXPECT_FALSE(marker->isInRuler());
    EXPECT_FALSE(isRed(view.ruler->grab().toImage(), 8, 45));
}

TEST(RulerView, HandsClicksToTheClientAndLetsMarkersBeDraggedAlongAndOff)
{
    ScrollWithRuler view;
    view.area.show();
    view.area.verticalScrollBar()->setValue(60);

    QTest::mouseClick(view.ruler, Qt::LeftButton, {}, QPoint(5, 40));
    ASSERT_EQ(view.client.clicks.size(), 1u);
    EXPECT_EQ(view.client.clicks[0], QPointF(5 - 16, 100));

    // A click on a marker that does not drag it is the client's too.
    auto marker = view.addMarker(100); // rows 30 to 39 at this scroll position
    marker->setMovable(true);
    marker->setRemovable(true);
    QTest::mouseClick(view.ruler, Qt::LeftButton, {}, QPoint(5, 35));
    ASSERT_EQ(view.client.clicks.size(), 2u);
    EXPECT_EQ(view.client.clicks[1], QPointF(5 - 16, 95));

    // Dragged along, it lands where the client snaps it: 135 snaps to 140.
    QTest::mousePress(view.ruler, Qt::LeftButton, {}, QPoint(5, 35));
    QTest::mouseMove(view.ruler, QPoint(5, 75));
    QTest::mouseRelease(view.ruler, Qt::LeftButton, {}, QPoint(5, 75));
    EXPECT_EQ(marker->markerLocation(), 140);
    EXPECT_EQ(view.client.clicks.size(), 2u);

    // Dragged off sideways, it is removed and the client told.
    QTest::mousePress(view.ruler, Qt::LeftButton, {}, QPoint(5, 75));
    QTest::mouseMove(view.ruler, QPoint(60, 75));
    QTest::mouseRelease(view.ruler, Qt::LeftButton, {}, QPoint(60, 75));
    EXPECT_TRUE(view.ruler->markers().empty());
    ASSERT_EQ(view.client.removed.size(), 1u);
    EXPECT_EQ(view.client.removed[0], marker.get());

    // A client that goes leaves the ruler without one.
    {
        FakeClient shortLived;
        view.ruler->setClientView(&shortLived);
    }
    EXPECT_EQ(view.ruler->clientView(), nullptr);
    QTest::mouseClick(view.ruler, Qt::LeftButton, {}, QPoint(5, 40));
}

TEST(RulerView, AWheelOverTheRulerScrollsItsViewOrIsLeftToTheViewAround)
{
    ScrollWithRuler view;
    view.area.show();
    QScrollBar* bar = view.area.verticalScrollBar();
    auto wheelDown = [&] {
        const QPointF at(5, 40);
        QWheelEvent wheel(at, view.ruler->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view.ruler, &wheel);
        return wheel.isAccepted();
    };
    EXPECT_TRUE(wheelDown());
    EXPECT_GT(bar->value(), 0);
    // At the end there is nothing left to scroll: the event goes on to whatever holds the view.
    bar->setValue(bar->maximum());
    EXPECT_FALSE(wheelDown());
    EXPECT_EQ(bar->value(), bar->maximum());
}
