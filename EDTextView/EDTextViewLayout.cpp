#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextLayoutFragment.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/EDVerticalRuler.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/ui/RulerView.h"

#include <QCoreApplication>
#include <QResizeEvent>
#include <QScrollBar>

#include <cmath>

using platform::TextLayoutFragment;
using platform::TextLayoutManager;
using platform::TextLocation;
using platform::TextRange;
using platform::TextViewportLayoutController;

namespace {

// Passes of one layout: a pass that scrolls (to the selection, or to keep the text in place while
// estimated heights above turn real) is followed by one for what is now in view.
constexpr int maximumLayoutPasses = 4;
// A height correction smaller than this is left alone.
constexpr double correctionThreshold = 0.5;

} // namespace

void EDTextView::setNeedsLayout()
{
    setNeedsDisplay();
    requestLayoutPass();
}

void EDTextView::setNeedsLayoutForEdit(TextRange edited)
{
    // The range is that of the text after the edit; a second edit before the pass would move it.
    if (m_editedRange)
        setNeedsDisplay();
    else
        m_editedRange = edited;
    requestLayoutPass();
}

void EDTextView::requestLayoutPass()
{
    // The finder's current match takes its colour from the selection, and its highlights have no
    // rectangles of their own to repaint.
    if (m_textFinder && m_textFinder->isFindBarVisible())
        setNeedsDisplay();
    m_needsLayout = true;
    if (!m_layoutRequestPosted) {
        m_layoutRequestPosted = true;
        QCoreApplication::postEvent(this, new QEvent(layoutRequestEventType()));
    }
}

void EDTextView::layoutIfNeeded()
{
    if (!m_needsLayout || m_inLayout)
        return;
    layout();
}

void EDTextView::layout()
{
    m_needsLayout = false;
    m_inLayout = true;
    TextViewportLayoutController& controller = m_textLayoutManager->textViewportLayoutController();
    bool settled = false;
    for (int pass = 0; pass < maximumLayoutPasses && !settled; ++pass) {
        m_scrolledDuringLayout = false;
        if (const auto anchor = std::exchange(m_pendingTopAnchor, std::nullopt))
            scrollToTopAnchor(*anchor);
        controller.layoutViewport();
        bool scrolledToSelection = false;
        if (m_needsScrollToSelection) {
            m_needsScrollToSelection = false;
            const auto& selections = m_textLayoutManager->textSelections();
            if (!selections.empty() && !selections.back().textRanges.empty()) {
                const platform::TextSelection& last = selections.back();
                const TextRange range = last.textRanges.back();
                const bool movingEndIsStart
                    = last.anchorLocation && *last.anchorLocation == range.endLocation;
                if (const auto target = scrollTargetRect(range, !movingEndIsStart, last.affinity)) {
                    scrollRectToVisible(*target);
                    scrolledToSelection = true;
                }
            }
        }
        // Fragments that came into view above the text shown before replaced estimated heights
        // with real ones; scrolling by the difference keeps that text where the user saw it.
        const double correction = controller.lastHeightCorrection();
        if (!scrolledToSelection && std::abs(correction) >= correctionThreshold) {
            const QRectF visible = documentVisibleRect();
            scrollPoint(QPointF(visible.left(), visible.top() + correction));
        }
        settled = !m_scrolledDuringLayout && fragmentViewsFollowHeights();
    }
    m_needsScrollToSelection = false;
    m_editedRange.reset();
    m_inLayout = false;
    // Out of passes with the text in view still moving (a caret far into a long paragraph whose
    // rows replace their estimates as they come into view): the next turn of the event loop goes
    // on, or the last scroll would show rows nobody laid out.
    constexpr int mostUnsettledLayouts = 8;
    m_unsettledLayouts = settled ? 0 : m_unsettledLayouts + 1;
    if (!settled && m_unsettledLayouts < mostUnsettledLayouts)
        setNeedsLayout();
    // Every edit, caret move and scroll ends here: an input method places its candidate window where
    // it was last told the caret is.
    updateMicroFocus();
    // A request made during the pass (the container changed width) stays for the next one.
}

// Work after a pass (scrolling to the selection, its highlights, the ruler) may lay out a paragraph
// above the text in view, whose height then differs from its estimate: the views placed before
// would stand where clicks and the ruler no longer find their text.
bool EDTextView::fragmentViewsFollowHeights() const
{
    const double ratio = devicePixelRatioF();
    for (const FragmentView& view : m_fragmentViews) {
        const qint64 index = view.fragment->layoutParagraphIndex();
        if (index >= m_textContentStorage->layoutParagraphCount())
            return false;
        const QRectF placed(view.frame.left(), m_textContentStorage->layoutParagraphY(index), 1, 1);
        if (!edtextview::isAlmostEqual(edtextview::pixelAligned(placed, ratio).top(), view.frame.top()))
            return false;
    }
    return true;
}

std::optional<QRectF> EDTextView::scrollTargetRect(
    TextRange range, bool movingEndIsEnd, platform::TextSelection::Affinity movingEndAffinity)
{
    using Affinity = platform::TextSelection::Affinity;
    const double padding = textContainer().lineFragmentPadding;
    auto caretRect = [&](TextLocation location, unsigned options) -> std::optional<QRectF> {
        auto frame = edtextview::glyphSegmentFrame(
            *m_textLayoutManager, TextRange(location), TextLayoutManager::rangeNotRequired | options);
        if (frame && frame->width() == 0)
            frame = QRectF(frame->left() - padding, frame->top(), 2 * padding, frame->height());
        return frame;
    };
    if (range.isEmpty()) {
        // A caret where a wrapped row ends stands at the end of that row or at the start of the
        // next, by its affinity: both are brought into view, or a caret moved down to the start of
        // a row just below the visible text would stay hidden there.
        const auto upstream = caretRect(range.location, TextLayoutManager::upstreamAffinity);
        const auto downstream = caretRect(range.location, 0);
        if (upstream && downstream)
            return upstream->united(*downstream);
        return upstream ? upstream : downstream;
    }
    // An end where a wrapped row ends is on that row or on the next one: the end that stays is
    // where its highlight ends or begins, the end that moved is where the move put it (Shift+Down
    // from column 0 ends at the start of a row, not at the end of the one above).
    const Affinity startAffinity = movingEndIsEnd ? Affinity::downstream : movingEndAffinity;
    const Affinity endAffinity = movingEndIsEnd ? movingEndAffinity : Affinity::upstream;
    // A range within one row shows whole; a longer one shows where it is being extended, which
    // also spares laying out every paragraph of a selection of the whole text.
    const platform::TextLineFragmentHandle first
        = m_textLayoutManager->lineFragment(range.location, startAffinity);
    const platform::TextLineFragmentHandle last
        = m_textLayoutManager->lineFragment(range.endLocation, endAffinity);
    if (first && last && first.fragment == last.fragment
        && first->visualLineIndex() == last->visualLineIndex()) {
        const auto whole = edtextview::glyphSegmentFrame(*m_textLayoutManager, range,
            TextLayoutManager::rangeNotRequired | TextLayoutManager::upstreamAffinity);
        // Wider than the view (Shift+End in a long unwrapped line), the range would show from its
        // start whichever end moved: the moving end is shown instead.
        const QSizeF shown = documentVisibleRect().size();
        if (!whole || (whole->width() <= shown.width() && whole->height() <= shown.height()))
            return whole;
    }
    const auto options = [](Affinity affinity) {
        return affinity == Affinity::upstream ? unsigned(TextLayoutManager::upstreamAffinity) : 0u;
    };
    return movingEndIsEnd ? caretRect(range.endLocation, options(endAffinity))
                          : caretRect(range.location, options(startAffinity));
}

QRectF EDTextView::viewportBounds(TextViewportLayoutController&)
{
    // Only what shows is laid out: the prepared area is the visible one.
    return documentVisibleRect();
}

void EDTextView::willLayout(TextViewportLayoutController&)
{
    // The views of the last pass stay alive until this one is done, so that a fragment is only
    // ever found again as itself.
    m_previousFragmentViews.clear();
    for (FragmentView& view : m_fragmentViews)
        m_previousFragmentViews.emplace(view.fragment.get(), std::move(view));
    m_fragmentViews.clear();
}

void EDTextView::configureRenderingSurface(
    TextViewportLayoutController&, const std::shared_ptr<TextLayoutFragment>& fragment)
{
    const QRectF frame = edtextview::pixelAligned(fragment->layoutFragmentFrame(), devicePixelRatioF());
    const auto previous = m_previousFragmentViews.find(fragment.get());
    const bool found = previous != m_previousFragmentViews.end();
    const TextRange range = fragment->rangeInElement();
    const bool edited = m_editedRange && range.location <= m_editedRange->endLocation
        && m_editedRange->location <= range.endLocation;
    if (!found || edited || !edtextview::isAlmostEqual(previous->second.frame.topLeft(), frame.topLeft())
        || !edtextview::isAlmostEqual(previous->second.frame.size(), frame.size())) {
        // Where it was drawn too: text that moved up leaves its old rows to be cleared.
        if (found)
            setNeedsDisplay(previous->second.frame);
        setNeedsDisplay(fragment->renderingSurfaceBounds().translated(frame.topLeft()).united(frame));
    }
    if (auto* ours = dynamic_cast<EDTextLayoutFragment*>(fragment.get()))
        ours->setShowsInvisibleCharacters(
            m_showsInvisibleCharacters, palette().color(QPalette::PlaceholderText));
    m_fragmentViews.push_back({ fragment, frame });
}

void EDTextView::didLayout(TextViewportLayoutController& controller)
{
    // Paragraphs no longer in view, or no longer there at all, leave their place to be cleared.
    for (const auto& [fragment, view] : m_previousFragmentViews) {
        if (std::none_of(m_fragmentViews.begin(), m_fragmentViews.end(),
                [fragment = fragment](
                    const FragmentView& shown) { return shown.fragment.get() == fragment; }))
            setNeedsDisplay(view.frame);
    }
    m_previousFragmentViews.clear();
    sizeToFit();
    updateSelectionHighlights();
    adjustViewportOffsetIfNeeded();
    if (auto* ruler = dynamic_cast<EDVerticalRuler*>(m_verticalRuler.data()))
        ruler->invalidateHashMarks();
    if (platform::RulerView* ruler = platform::RulerView::verticalRuler(*this))
        ruler->invalidateHashMarks();
    if (const auto range = controller.viewportRange()) {
        for (const auto& events : m_delegateProxy->events()) {
            if (events->didLayoutViewportHandler)
                events->didLayoutViewportHandler(range);
        }
    }
}

void EDTextView::updateTextContainerSize()
{
    platform::TextContainer container = m_textLayoutManager->textContainer();
    QSizeF size = container.size;
    // Tracking the view, the container takes the width the viewport shows (the view is as wide).
    if (container.widthTracksTextView)
        size.setWidth(std::max(1, viewport()->width()));
    if (container.heightTracksTextView)
        size.setHeight(std::max(1, viewport()->height()));
    if (!edtextview::isAlmostEqual(size, container.size)) {
        // Rows of another width change the estimated height of everything above the view, which
        // would move the text under the user's eyes by thousands of lines in a long note.
        if (!edtextview::isAlmostEqual(size.width(), container.size.width()) && !m_pendingTopAnchor)
            m_pendingTopAnchor = topAnchor();
        container.size = size;
        m_textLayoutManager->setTextContainer(container);
        setNeedsLayout();
    }
}

std::optional<EDTextView::TopAnchor> EDTextView::topAnchor()
{
    // Nothing shown yet: nothing to keep.
    if (m_fragmentViews.empty())
        return std::nullopt;
    const QRectF visible = documentVisibleRect();
    const platform::TextLineFragmentHandle line
        = m_textLayoutManager->lineFragment(QPointF(visible.left(), visible.top()));
    if (!line)
        return std::nullopt;
    const TextLayoutFragment& fragment = *line.fragment;
    const TextLayoutFragment::VisualLine row = fragment.visualLine(line->visualLineIndex());
    const double rowTop = fragment.layoutFragmentFrame().top() + row.y;
    // Ctrl+End, then a ruler widened for the longer numbers it brought into view: the end must
    // still show. Found by place, as the views of the last layout may stand for an earlier scroll.
    bool caretShown = false;
    const auto& selections = m_textLayoutManager->textSelections();
    if (!selections.empty() && !selections.back().textRanges.empty()
        && selections.back().textRanges.back().isEmpty()) {
        const platform::TextLineFragmentHandle caret
            = m_textLayoutManager->lineFragment(selections.back().textRanges.back().location);
        if (caret) {
            const TextLayoutFragment::VisualLine caretRow
                = caret.fragment->visualLine(caret->visualLineIndex());
            const double top = caret.fragment->layoutFragmentFrame().top() + caretRow.y;
            caretShown = top + caretRow.height > visible.top() && top < visible.bottom();
        }
    }
    return TopAnchor { fragment.rangeInElement().location + row.characterRange.location,
        visible.top() - rowTop, caretShown };
}

void EDTextView::scrollToTopAnchor(TopAnchor anchor)
{
    const TextLocation location = std::min(anchor.location, m_textContentStorage->length());
    const platform::TextLineFragmentHandle line = m_textLayoutManager->lineFragment(location);
    if (!line)
        return;
    const TextLayoutFragment& fragment = *line.fragment;
    const TextLayoutFragment::VisualLine row = fragment.visualLine(line->visualLineIndex());
    const double rowTop = fragment.layoutFragmentFrame().top() + row.y;
    const QRectF visible = documentVisibleRect();
    const double top = rowTop + std::clamp(anchor.offset, 0.0, row.height);
    // Heights estimated afresh (a larger font) may put the row beyond the scroll range left from
    // before: the range follows them first, or the view would stop short of the row.
    if (top > verticalScrollBar()->maximum())
        sizeToFit();
    scrollPoint(QPointF(visible.left(), top));
    if (anchor.caretShown)
        m_needsScrollToSelection = true;
}

void EDTextView::sizeToFit()
{
    updateTextContainerSize();
    const QRectF usage = m_textLayoutManager->usageBoundsForTextContainer();
    const platform::TextContainer& container = textContainer();
    double width = container.widthTracksTextView ? viewport()->width() : usage.width();
    double height = container.heightTracksTextView ? viewport()->height() : usage.height();
    width = std::max<double>(width, viewport()->width());
    height = std::max<double>(height, viewport()->height());
    if (!edtextview::isAlmostEqual(QSizeF(width, height), m_frameSize))
        setFrameSize(QSizeF(width, height));
}

void EDTextView::setFrameSize(QSizeF size)
{
    m_frameSize = size;
    updateScrollBars();
    updateTextContainerSize();
}

void EDTextView::updateScrollBars()
{
    const QSize area = viewport()->size();
    const double lineHeight = std::max(1.0, typingLineHeight());
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, std::max(0, int(std::ceil(m_frameSize.height())) - area.height()));
    vertical->setPageStep(std::max(1, area.height()));
    vertical->setSingleStep(int(std::ceil(lineHeight)));
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(0, int(std::ceil(m_frameSize.width())) - area.width()));
    horizontal->setPageStep(std::max(1, area.width()));
    horizontal->setSingleStep(int(std::ceil(lineHeight)));
}

void EDTextView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    tileRuler();
    // Sized at once, so that a view that wraps never shows a horizontal scroll bar for the width
    // it had before.
    sizeToFit();
    // The scroll ranges depend on the viewport's size as much as on the frame's, which a taller
    // or shorter viewport (a find bar shown above it) often leaves as it was.
    updateScrollBars();
    setNeedsLayout();
}

void EDTextView::scrollContentsBy(int, int)
{
    if (m_inLayout) {
        m_scrolledDuringLayout = true;
        setNeedsDisplay();
        return;
    }
    // A scroll made after a change of width, before it was laid out, says where to be instead.
    m_pendingTopAnchor.reset();
    setNeedsLayout();
}

QRectF EDTextView::documentVisibleRect() const
{
    return QRectF(horizontalScrollBar()->value(), verticalScrollBar()->value(), viewport()->width(),
        viewport()->height());
}

QPointF EDTextView::viewportToView(QPointF point) const
{
    return point + documentVisibleRect().topLeft();
}

QPointF EDTextView::viewToViewport(QPointF point) const
{
    return point - documentVisibleRect().topLeft();
}

void EDTextView::scrollPoint(QPointF point)
{
    horizontalScrollBar()->setValue(int(std::lround(point.x())));
    verticalScrollBar()->setValue(int(std::lround(point.y())));
}

void EDTextView::scrollRectToVisible(const QRectF& rect)
{
    const QRectF visible = documentVisibleRect();
    auto axis = [](double start, double end, double visibleStart, double visibleLength) {
        if (start < visibleStart)
            return start;
        if (end > visibleStart + visibleLength)
            return std::min(start, end - visibleLength);
        return visibleStart;
    };
    scrollPoint(QPointF(axis(rect.left(), rect.right(), visible.left(), visible.width()),
        axis(rect.top(), rect.bottom(), visible.top(), visible.height())));
}

void EDTextView::scrollRangeToVisible(platform::CharacterRange range)
{
    textFinderClient().scrollRangeToVisible(range);
}

void EDTextView::scrollTextRangeToVisible(TextRange range)
{
    layoutIfNeeded();
    if (const auto target = scrollTargetRect(range, true, platform::TextSelection::Affinity::upstream))
        scrollRectToVisible(*target);
}

std::optional<TextRange> EDTextView::visibleCharacterRange() const
{
    if (m_fragmentViews.empty())
        return std::nullopt;
    const QRectF visible = documentVisibleRect();
    const TextLayoutFragment& first = *m_fragmentViews.front().fragment;
    const TextLayoutFragment& last = *m_fragmentViews.back().fragment;
    const qsizetype firstRow = first.visualLineIndex(visible.top() - first.layoutFragmentFrame().top());
    const qsizetype lastRow = last.visualLineIndex(visible.bottom() - last.layoutFragmentFrame().top());
    const TextLocation start
        = first.rangeInElement().location + first.visualLine(firstRow).characterRange.location;
    const TextLocation end
        = last.rangeInElement().location + last.visualLine(lastRow).characterRange.endLocation;
    return TextRange(start, std::max(start, end));
}

void EDTextView::updateSelectionHighlights()
{
    const std::vector<QRectF> previous = std::move(m_selectionHighlights);
    m_selectionHighlights.clear();
    for (const QRectF& rect : previous)
        setNeedsDisplay(rect);
    const auto& selections = m_textLayoutManager->textSelections();
    const auto viewportRange = m_textLayoutManager->textViewportLayoutController().viewportRange();
    if (selections.empty() || !viewportRange)
        return;
    const TextRange visible = visibleCharacterRange().value_or(*viewportRange);
    std::vector<TextRange> ranges = edtextview::textRangesOfSelections(selections);
    std::stable_sort(ranges.begin(), ranges.end(),
        [](const TextRange& a, const TextRange& b) { return a.location < b.location; });
    const QRectF viewBounds = bounds();
    // Carets show unless a highlighted range comes after the last of them (a caret and a range
    // are one selection of several only in unusual hands).
    std::optional<bool> caretsShow;
    for (const TextRange& range : ranges) {
        const TextRange clipped = edtextview::clamped(range, visible);
        m_textLayoutManager->enumerateTextSegments(clipped, TextLayoutManager::SegmentType::selection,
            TextLayoutManager::rangeNotRequired, [&](std::optional<TextRange>, QRectF frame, double) {
                const double left = std::max(frame.left(), viewBounds.left());
                const double right = std::min(frame.right(), viewBounds.right());
                const double top = std::max(frame.top(), viewBounds.top());
                const double bottom = std::min(frame.bottom(), viewBounds.bottom());
                if (right < left || bottom < top)
                    return true;
                const QRectF rect = edtextview::pixelAligned(QRectF(left, top, right - left, bottom - top));
                if (rect.width() == 0) {
                    caretsShow = true;
                } else {
                    m_selectionHighlights.push_back(rect);
                    setNeedsDisplay(rect);
                    caretsShow = false;
                }
                return true;
            });
    }
    if (caretsShow.value_or(true))
        updateInsertionPointViews();
    else
        removeInsertionPointViews();
    // The band behind the caret's line moves with the caret.
    const std::optional<QRectF> band = selectedLineHighlightRect(documentVisibleRect());
    if (band != m_shownSelectedLineBand) {
        if (m_shownSelectedLineBand)
            setNeedsDisplay(*m_shownSelectedLineBand);
        if (band)
            setNeedsDisplay(*band);
        m_shownSelectedLineBand = band;
    }
}

void EDTextView::adjustViewportOffsetIfNeeded()
{
    const auto range = m_textLayoutManager->textViewportLayoutController().viewportRange();
    if (!range)
        return;
    const QRectF visible = documentVisibleRect();
    if ((visible.top() < visible.height() && range->location > 0) || range->location == 0)
        adjustViewportOffset();
}

void EDTextView::adjustViewportOffset()
{
    const auto range = m_textLayoutManager->textViewportLayoutController().viewportRange();
    if (!range)
        return;
    // Near the top, lays out what lies above the viewport; should the first paragraph then not
    // start at the top, everything moves up so that it does.
    std::optional<double> firstTop;
    m_textLayoutManager->enumerateTextLayoutFragments(range->location,
        TextLayoutManager::reverse | TextLayoutManager::ensuresLayout,
        [&](const std::shared_ptr<TextLayoutFragment>& fragment) {
            firstTop = fragment->layoutFragmentFrame().top();
            return true;
        });
    if (!firstTop || *firstTop == 0)
        return;
    const QRectF visible = documentVisibleRect();
    const double offset = bounds().top() - *firstTop;
    m_textLayoutManager->textViewportLayoutController().adjustViewportByVerticalOffset(offset);
    scrollPoint(QPointF(visible.left(), offset + visible.top()));
}
