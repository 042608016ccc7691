#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutFragment.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "platform/ui/RulerView.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>
#include <utility>

using platform::TextLayoutFragment;
using platform::TextLayoutManager;
using platform::TextRange;

namespace {

constexpr double spellingMarkInset = 2.5;
constexpr double spellingDotDiameter = 2.5;
constexpr double spellingDotSpacing = 3.75;

// The spelling state a rendering attribute carries: 1 for spelling, 2 for grammar. Text checking
// stores it as a string; a number is taken too.
int spellingState(const QVariant& value)
{
    if (!value.isValid())
        return 0;
    if (value.typeId() == QMetaType::QString)
        return value.toString() == QLatin1String("1") ? 1 : value.toString() == QLatin1String("2") ? 2 : 0;
    bool ok = false;
    const int state = value.toInt(&ok);
    return ok && (state == 1 || state == 2) ? state : 0;
}

} // namespace

QColor EDTextView::resolvedSelectionColor() const
{
    // The highlight colour softened over the background, so that text stays readable on it.
    const QColor highlight = palette().color(QPalette::Highlight);
    const QColor base = m_backgroundColor.value_or(palette().color(QPalette::Base));
    constexpr double share = 0.4;
    return QColor::fromRgbF(float(highlight.redF() * share + base.redF() * (1 - share)),
        float(highlight.greenF() * share + base.greenF() * (1 - share)),
        float(highlight.blueF() * share + base.blueF() * (1 - share)));
}

void EDTextView::setNeedsDisplay()
{
    setNeedsDisplayInViewport(viewport()->rect());
}

void EDTextView::setNeedsDisplay(const QRectF& viewRect)
{
    setNeedsDisplayInViewport(
        viewRect.translated(-documentVisibleRect().topLeft()).toAlignedRect().adjusted(-1, -1, 1, 1));
}

void EDTextView::setNeedsDisplayInViewport(const QRect& area)
{
    if (!m_regionBeingPainted) {
        viewport()->update(area);
        return;
    }
    // A paint lays out what an edit left, and what that pass asks to be drawn beyond the area being
    // painted is asked for again after it (a caret's blink painting first left a whole new text
    // undrawn). QRegion::contains only tells an overlap.
    m_displayAfterPaint += QRegion(area).subtracted(*m_regionBeingPainted);
}

void EDTextView::setNeedsRulerDisplay()
{
    if (platform::RulerView* ruler = platform::RulerView::verticalRuler(*this))
        ruler->update();
}

void EDTextView::paintEvent(QPaintEvent* event)
{
    m_regionBeingPainted = event->region();
    layoutIfNeeded();
    m_regionBeingPainted.reset();
    if (!m_displayAfterPaint.isEmpty()) {
        QMetaObject::invokeMethod(
            viewport(),
            [viewport = viewport(), area = std::exchange(m_displayAfterPaint, {})] {
                viewport->update(area);
            },
            Qt::QueuedConnection);
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, m_backgroundColor.value_or(palette().color(QPalette::Base)));
    const QPointF origin = documentVisibleRect().topLeft();
    painter.translate(-origin);
    const QRectF dirty = QRectF(area).translated(origin);
    painter.setClipRect(dirty);

    drawSelectedLineHighlight(painter, dirty);
    const QColor selection = selectionBackgroundColor();
    for (const QRectF& rect : m_selectionHighlights) {
        if (rect.intersects(dirty))
            painter.fillRect(rect, selection);
    }
    drawFindHighlights(painter, dirty);
    // Text without a colour of its own takes the pen's.
    painter.setPen(palette().color(QPalette::Text));
    const std::optional<TextRange> visible = visibleCharacterRange();
    for (const FragmentView& view : m_fragmentViews) {
        const QRectF surface
            = view.fragment->renderingSurfaceBounds().translated(view.frame.topLeft()).united(view.frame);
        if (!surface.intersects(dirty))
            continue;
        view.fragment->draw(painter, view.frame.topLeft());
        drawSpellingMarks(painter, view, dirty, visible);
    }
    // Carets last, over the text.
    for (const EDInsertionPointView& caret : m_insertionPointViews) {
        if (caret.frame.intersects(dirty.adjusted(-1, 0, 1, 0)))
            caret.textInsertionIndicator->paint(painter, caret.frame);
    }
    // Where a drag hovering over the view would drop its text: as tall as the glyphs there, as the
    // caret is, not the whole of a row a line-height multiple made taller.
    if (m_dropLocation) {
        if (const auto frame = edtextview::glyphSegmentFrame(
                *m_textLayoutManager, TextRange(*m_dropLocation), TextLayoutManager::rangeNotRequired)) {
            painter.fillRect(
                QRectF(frame->left(), frame->top(), EDInsertionPointView::minimumWidth, frame->height()),
                insertionPointColor());
        }
    }
}

std::optional<QRectF> EDTextView::selectedLineHighlightRect(const QRectF&) const
{
    if (!m_highlightSelectedLine)
        return std::nullopt;
    // Only for carets: a selected range turns the band off.
    if (!edtextview::sortedSelectionTextRanges(*m_textLayoutManager, true).empty())
        return std::nullopt;
    const double width = std::max<double>(bounds().width(), viewport()->width());
    if (m_textContentStorage->length() == 0) {
        const auto frame = edtextview::textSegmentFrame(*m_textLayoutManager, 0,
            TextLayoutManager::SegmentType::standard, TextLayoutManager::upstreamAffinity);
        if (!frame)
            return std::nullopt;
        // The segment stands where the glyphs will, at the foot of a row made taller by a line-height
        // multiple: the band is the whole row above that foot, as it will be once a letter is typed.
        const double rowHeight = typingLineHeight();
        return edtextview::pixelAligned(
            QRectF(bounds().left(), frame->bottom() - rowHeight, width, rowHeight));
    }
    const std::vector<TextRange> ranges
        = edtextview::textRangesOfSelections(m_textLayoutManager->textSelections());
    std::optional<QRectF> band;
    for (const FragmentView& view : m_fragmentViews) {
        const TextLayoutFragment& fragment = *view.fragment;
        const TextRange element = fragment.rangeInElement();
        const TextRange paragraph(element.location, element.location + fragment.contentLength());
        // Only the line after a final line break is an empty line; every line of a paragraph
        // matches alike, wrapped lines included.
        const bool emptyLine = fragment.isExtraLineFragment() || element.isEmpty();
        auto matches = [&](const TextRange& range) {
            if (emptyLine)
                return element.endLocation == range.location;
            return paragraph.contains(range) || paragraph.intersects(range) || range.contains(paragraph)
                || range.intersects(paragraph) || paragraph.endLocation == range.location;
        };
        if (!std::all_of(ranges.begin(), ranges.end(), matches))
            continue;
        const QRectF frame = fragment.layoutFragmentFrame();
        band = edtextview::rectUnion(band, QRectF(bounds().left(), frame.top(), width, frame.height()));
    }
    if (!band)
        return std::nullopt;
    return edtextview::pixelAligned(*band);
}

void EDTextView::drawSelectedLineHighlight(QPainter& painter, const QRectF& dirty) const
{
    const auto band = selectedLineHighlightRect(dirty);
    if (!band)
        return;
    painter.save();
    painter.fillRect(*band, selectedLineHighlightColor());
    painter.restore();
}

void EDTextView::drawSpellingMarks(QPainter& painter, const FragmentView& view, const QRectF& dirty,
    const std::optional<TextRange>& visible) const
{
    TextRange range = view.fragment->rangeInElement();
    // Only the marks of the rows in view: a long paragraph may hold thousands.
    if (visible) {
        const auto shown = range.intersection(*visible);
        if (!shown)
            return;
        range = *shown;
    }
    struct Mark {
        QRectF rect;
        QColor color;
    };
    std::vector<Mark> marks;
    edtextview::enumerateRenderingAttributes(
        *m_textLayoutManager, range, false, [&](const platform::TextAttributes& attributes, TextRange run) {
            const int state = spellingState(attributes.value(platform::AttributeKey::spellingState));
            if (state == 0)
                return true;
            const auto segment = edtextview::textSegmentFrame(*m_textLayoutManager, run,
                TextLayoutManager::SegmentType::standard,
                TextLayoutManager::rangeNotRequired | TextLayoutManager::upstreamAffinity);
            if (!segment)
                return true;
            // Where the glyphs are drawn, in a row made taller by a line-height multiple.
            double lift = 0;
            if (const auto* ours = dynamic_cast<const EDTextLayoutFragment*>(view.fragment.get()))
                lift = ours->glyphLift(
                    ours->visualLineIndex(segment->top() - ours->layoutFragmentFrame().top()));
            const QRectF rect(segment->left() + spellingMarkInset, segment->top() - lift,
                segment->width() - spellingMarkInset, segment->height());
            // A one-letter run can be narrower than the inset.
            if (rect.width() <= 0 || !rect.intersects(dirty))
                return true;
            QColor color = state == 1 ? QColor(Qt::red) : palette().color(QPalette::Highlight);
            color.setAlphaF(0.8f);
            marks.push_back({ rect, color });
            return true;
        });
    if (marks.empty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (const Mark& mark : marks) {
        // A dotted line: round dots every few points along the bottom of the run.
        painter.setBrush(mark.color);
        const double y = mark.rect.bottom() - spellingMarkInset;
        for (double x = mark.rect.left(); x <= mark.rect.right(); x += spellingDotSpacing)
            painter.drawEllipse(QPointF(x, y), spellingDotDiameter / 2, spellingDotDiameter / 2);
    }
    painter.restore();
}
