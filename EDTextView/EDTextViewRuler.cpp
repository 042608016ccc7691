#include "EDTextView/EDLineNumberRulerView.h"
#include "EDTextView/EDRulerMarker.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDTextView.h"
#include "EDTextView/TextLayoutUtilities.h"

#include <QMouseEvent>

#include <cmath>

using platform::RulerMarker;
using platform::RulerView;
using platform::TextLayoutFragment;
using platform::TextLayoutManager;

namespace {

// The fragment whose frame holds the point's y; none above the first or below the last. The
// layout manager's own look-up clamps to them, which a click in the empty area below the text must
// not.
std::shared_ptr<TextLayoutFragment> fragmentAt(TextLayoutManager& manager, QPointF point)
{
    auto fragment = manager.textLayoutFragment(point);
    if (!fragment)
        return nullptr;
    const QRectF frame = fragment->layoutFragmentFrame();
    if (point.y() < frame.top() || point.y() >= frame.bottom())
        return nullptr;
    return fragment;
}

} // namespace

bool EDTextView::isRulerVisible() const
{
    return RulerView::rulersVisible(*this);
}

void EDTextView::setIsRulerVisible(bool visible)
{
    if (visible && !RulerView::verticalRuler(*this))
        RulerView::setVerticalRuler(*this, new EDLineNumberRulerView(*this));
    RulerView::setRulersVisible(*this, visible);
}

void EDTextView::toggleRuler(QObject*)
{
    setIsRulerVisible(!isRulerVisible());
}

bool EDTextView::rulerViewShouldAddMarker(RulerView& ruler, RulerMarker&)
{
    if (!m_isEditable)
        return false;
    if (auto* lineNumbers = qobject_cast<EDLineNumberRulerView*>(&ruler))
        return lineNumbers->allowsMarkers();
    return true;
}

double EDTextView::rulerViewWillAddMarker(RulerView&, RulerMarker&, double location)
{
    return location;
}

void EDTextView::rulerViewDidAddMarker(RulerView& ruler, RulerMarker&)
{
    ruler.invalidateHashMarks();
}

void EDTextView::rulerViewDidRemoveMarker(RulerView& ruler, RulerMarker&)
{
    ruler.invalidateHashMarks();
}

double EDTextView::rulerViewLocationForPoint(RulerView&, QPointF point)
{
    const auto fragment = fragmentAt(*m_textLayoutManager, point);
    if (!fragment)
        return point.y();
    // A line-height multiple makes a typing line typingLineHeight() tall from a natural height of
    // typingLineHeight() / multiple, and its glyphs are drawn half the extra height above the
    // line's bottom: a dragged marker stops at their foot. Half the extra taken from the full
    // height would lift it by a whole line at a multiple of 2, and off its line above that.
    double offset = 0;
    const QVariant style = m_typingAttributes.value(platform::AttributeKey::paragraphStyle);
    if (style.canConvert<platform::ParagraphStyle>()) {
        const double multiple = style.value<platform::ParagraphStyle>().lineHeightMultiple;
        if (std::abs(multiple) >= edtextview::geometryTolerance)
            offset = typingLineHeight() / multiple * (multiple - 1) * -0.5;
    }
    return fragment->layoutFragmentFrame().bottom() + offset;
}

void EDTextView::rulerViewHandleMouseDown(RulerView& ruler, QMouseEvent& event)
{
    const QPointF point = ruler.convertToClient(event.position());
    const auto fragment = fragmentAt(*m_textLayoutManager, point);
    if (!fragment)
        return;
    const auto segment
        = edtextview::textSegmentFrame(*m_textLayoutManager, fragment->rangeInElement().location,
            TextLayoutManager::SegmentType::highlight, TextLayoutManager::upstreamAffinity);
    if (!segment)
        return;
    const QRectF line = edtextview::pixelAligned(*segment);

    // A marker dragged onto this line stands where the drag put it, at the line's unrounded bottom:
    // it is on the line too, so the click takes it away rather than adding a second one.
    const double dragged = rulerViewLocationForPoint(ruler, point);
    std::vector<std::shared_ptr<RulerMarker>> onLine;
    for (const auto& marker : ruler.markers()) {
        if (edtextview::isAlmostEqual(marker->markerLocation(), line.bottom())
            || edtextview::isAlmostEqual(marker->markerLocation(), dragged))
            onLine.push_back(marker);
    }
    platform::RulerClient* client = ruler.clientView();
    if (onLine.empty()) {
        auto marker = std::make_shared<EDRulerMarker>(ruler, line.bottom(), line.height());
        marker->setMovable(true);
        marker->setRemovable(true);
        // A view that may not be edited keeps its ruler as it is, whatever the ruler allows.
        if (client && !client->rulerViewShouldAddMarker(ruler, *marker))
            return;
        if (client)
            client->rulerViewWillAddMarker(ruler, *marker, marker->markerLocation());
        ruler.addMarker(marker);
        if (client)
            client->rulerViewDidAddMarker(ruler, *marker);
    } else {
        for (const auto& marker : onLine) {
            ruler.removeMarker(*marker);
            if (client)
                client->rulerViewDidRemoveMarker(ruler, *marker);
        }
    }
    ruler.update();
}
