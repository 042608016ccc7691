#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QAbstractScrollArea;
class QMouseEvent;
class QPainter;

namespace platform {

class RulerClient;
class RulerMarker;

// A vertical ruler beside the content of a scroll view (a QAbstractScrollArea): it sits in the
// left viewport margin, which it keeps as wide as its required thickness, and measures a client
// view (RulerClient). It draws its background, hash marks and labels, and markers; subclasses
// replace any of these drawing steps. Main thread only.
//
// Thickness, from the outer (left) edge towards the content: the markers' reserved thickness,
// then the rule thickness, where hash marks are drawn. Markers may reach over the rule.
//
// Coordinates: the ruler is y-down (it is flipped) and its y axis is the viewport's. Locations of
// markers and the points a client is given are client coordinates; convertFromClient() and
// convertToClient() move between the two.
//
// Mouse: a press on a movable or removable marker starts tracking it. Dragging moves a movable
// marker along the ruler, its location given by the client's rulerViewLocationForPoint(); dragging
// a removable one off the ruler sideways and releasing it there removes it, and the client is told.
// A press that does not become a drag, on a marker or not, is handed to the client's
// rulerViewHandleMouseDown().
class RulerView : public QWidget {
    Q_OBJECT

public:
    static constexpr double defaultRuleThickness = 16;

    // A ruler for `scrollView`; it takes its place there through setVerticalRuler().
    explicit RulerView(QAbstractScrollArea* scrollView = nullptr);
    ~RulerView() override;

    // The vertical ruler of a scroll view, or null. Setting one makes the scroll view its parent
    // and owner and the ruler's scroll view; the ruler it replaces is deleted. Null removes the
    // ruler.
    static RulerView* verticalRuler(const QAbstractScrollArea& scrollView);
    static void setVerticalRuler(QAbstractScrollArea& scrollView, RulerView* ruler);
    // Whether a scroll view shows its ruler; false until set. Hidden, the ruler takes no margin.
    // The setting is the scroll view's: it holds across a change of ruler.
    static bool rulersVisible(const QAbstractScrollArea& scrollView);
    static void setRulersVisible(QAbstractScrollArea& scrollView, bool visible);

    // Null once the scroll view has started going.
    QAbstractScrollArea* scrollView() const;

    RulerClient* clientView() const { return m_client; }
    // Markers are placed in the client's coordinates: a different client starts with none.
    void setClientView(RulerClient* client);

    double ruleThickness() const { return m_ruleThickness; }
    // Negative values count as 0. The viewport margin follows.
    void setRuleThickness(double thickness);
    virtual double reservedThicknessForMarkers() const { return m_reservedThicknessForMarkers; }
    virtual void setReservedThicknessForMarkers(double thickness);
    // The whole thickness: rule and markers. The viewport margin is this, rounded up.
    double requiredThickness() const;
    // Always true: y grows downwards, as everywhere in Qt.
    bool isFlipped() const { return true; }

    // In the order they were added; later markers are drawn above earlier ones.
    const std::vector<std::shared_ptr<RulerMarker>>& markers() const { return m_markers; }
    // Markers made for another ruler are left out.
    void setMarkers(std::vector<std::shared_ptr<RulerMarker>> markers);
    // Appends a marker made for this ruler and redraws; a marker made for another ruler, or one
    // already held, is ignored. Neither asks nor tells the client.
    virtual void addMarker(std::shared_ptr<RulerMarker> marker);
    // Takes a marker off and redraws; does not tell the client.
    virtual void removeMarker(const RulerMarker& marker);

    // The hash marks and labels no longer match the client (it laid out or scrolled): redraws.
    virtual void invalidateHashMarks();
    // Brings the scroll view's left viewport margin and the ruler's geometry up to date with the
    // required thickness and the visibility. Changes made through this class tile by themselves.
    void tile();

    QPointF convertFromClient(QPointF point) const;
    QPointF convertToClient(QPointF point) const;
    // Where a scroll view's content point (0, 0) lies in its viewport when the content scrolls by
    // the scroll bars' values: the client origin unless the client says otherwise.
    QPointF scrolledContentOrigin() const;

protected:
    // The whole drawing of a dirty rectangle: background, hash marks and labels, markers, and a
    // separator along the inner edge.
    virtual void drawRect(QPainter& painter, const QRectF& dirtyRect);
    virtual void drawHashMarksAndLabels(QPainter& painter, const QRectF& dirtyRect);
    virtual void drawMarkers(QPainter& painter, const QRectF& dirtyRect);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class RulerClient;

    void watchScrollView(QAbstractScrollArea* scrollView);
    void install(QAbstractScrollArea& scrollView);
    void uninstall();
    void placeInViewportMargin();
    QPointF clientOrigin() const;
    QPointF viewportOriginInRuler() const;
    std::shared_ptr<RulerMarker> trackableMarkerAt(QPointF point) const;

    // Kept as the object it was when it was whole: a scroll view being destroyed is no longer a
    // QAbstractScrollArea by the time its viewport's last events come, and scrollView() stops
    // answering it then.
    QObject* m_scrollView = nullptr;
    QMetaObject::Connection m_scrollViewDestroyed;
    QMetaObject::Connection m_scrolled;
    QPointer<QWidget> m_viewport;
    bool m_installed = false;
    RulerClient* m_client = nullptr;
    double m_ruleThickness = defaultRuleThickness;
    double m_reservedThicknessForMarkers = 0;
    std::vector<std::shared_ptr<RulerMarker>> m_markers;

    struct MarkerDrag {
        std::shared_ptr<RulerMarker> marker;
        std::unique_ptr<QMouseEvent> press;
        bool moved = false;
        bool offRuler = false;
    };
    std::optional<MarkerDrag> m_drag;
};

} // namespace platform
