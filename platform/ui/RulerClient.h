#pragma once

#include <QPointF>

#include <vector>

class QMouseEvent;

namespace platform {

class RulerMarker;
class RulerView;

// The view a ruler measures (its client view): it decides where markers may go and what a click in
// the ruler does. A text view implements it for its line-number ruler. Main thread only.
//
// Client coordinates are the client's own: for a view that scrolls its content, the content's
// coordinates, which do not change when it scrolls. A ruler converts them to its own with
// rulerViewClientOrigin().
//
// A client may outlive its rulers and the other way round: when a client goes, every ruler that
// measured it is left without a client.
class RulerClient {
public:
    RulerClient() = default;
    RulerClient(const RulerClient&) = delete;
    RulerClient& operator=(const RulerClient&) = delete;
    virtual ~RulerClient();

    // Whether `marker` may be added to `ruler`.
    virtual bool rulerViewShouldAddMarker(RulerView& ruler, RulerMarker& marker) = 0;
    // Told before `marker` is added at `location`; answers the location to use instead.
    virtual double rulerViewWillAddMarker(RulerView& ruler, RulerMarker& marker, double location) = 0;
    virtual void rulerViewDidAddMarker(RulerView& ruler, RulerMarker& marker) = 0;
    // Told after a marker left the ruler: the user dragged it off, or the client removed it.
    virtual void rulerViewDidRemoveMarker(RulerView& ruler, RulerMarker& marker) = 0;
    // The marker location for `point`, in client coordinates. The ruler asks this while the user
    // drags a marker, so a client can snap markers to its lines.
    virtual double rulerViewLocationForPoint(RulerView& ruler, QPointF point) = 0;
    // A press of the left button in the ruler that does not start dragging a marker. The event's
    // position is in the ruler's coordinates; RulerView::convertToClient() gives the client's.
    virtual void rulerViewHandleMouseDown(RulerView& ruler, QMouseEvent& event) = 0;

    // Where the client's point (0, 0) lies in the viewport of the ruler's scroll view. By default
    // the content is taken to scroll by the scroll bars' values in pixels, as in a plain
    // QAbstractScrollArea; a client that scrolls otherwise, or insets its content, overrides this.
    virtual QPointF rulerViewClientOrigin(const RulerView& ruler) const;

protected:
    // Leaves every ruler that measures this client without a client. A client whose rulers may
    // call back into it while it is being destroyed (its own child widgets) calls this first, while
    // it is still whole.
    void detachFromRulers();

private:
    friend class RulerView;
    std::vector<RulerView*> m_rulers;
};

} // namespace platform
