#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"

using platform::TextLayoutManager;
using platform::TextRange;

void EDTextView::updateInsertionPointViews()
{
    if (!shouldDrawInsertionPoint()) {
        removeInsertionPointViews();
        return;
    }
    std::vector<QRectF> frames;
    const bool emptyDocument = m_textContentStorage->length() == 0;
    const QRectF viewBounds = bounds();
    for (const platform::TextSelection& selection : edtextview::textSelectionRanges(*m_textLayoutManager)) {
        for (const TextRange& range : selection.textRanges) {
            if (!range.isEmpty())
                continue;
            // A caret where a wrapped row ends stands on the row its affinity names: End leaves it
            // at the end of its row, not at the start of the next one.
            const unsigned affinity = selection.affinity == platform::TextSelection::Affinity::upstream
                ? TextLayoutManager::upstreamAffinity
                : 0u;
            // As tall as the glyphs and level with them as they are drawn, not the whole row: a
            // line-height multiple makes the row taller, and the caret would stand out above and
            // below the text.
            auto frame = edtextview::glyphSegmentFrame(
                *m_textLayoutManager, range, TextLayoutManager::rangeNotRequired | affinity);
            if (!frame)
                continue;
            if (emptyDocument) {
                // A line of the typing font, where its first letter will stand.
                const QVariant style = m_typingAttributes.value(platform::AttributeKey::paragraphStyle);
                const double multiple = style.canConvert<platform::ParagraphStyle>()
                    ? style.value<platform::ParagraphStyle>().lineHeightMultiple
                    : m_textLayoutManager->defaultParagraphStyle().lineHeightMultiple;
                frame->setHeight(typingLineHeight() / (edtextview::isAlmostZero(multiple) ? 1.0 : multiple));
            }
            const double top = std::max(frame->top(), viewBounds.top());
            const double bottom = std::min(frame->bottom(), viewBounds.bottom());
            if (bottom < top)
                continue;
            QRectF caret(frame->left(), top, frame->width(), bottom - top);
            caret.setWidth(std::max(caret.width(), EDInsertionPointView::minimumWidth));
            frames.push_back(edtextview::pixelAligned(caret, devicePixelRatioF()));
        }
    }
    // The same carets keep blinking as they were; a caret that moved, or an edit, starts over, shown.
    const bool unchanged = frames.size() == m_insertionPointViews.size()
        && std::equal(frames.begin(), frames.end(), m_insertionPointViews.begin(),
            [this](const QRectF& frame, const EDInsertionPointView& view) {
                return frame == view.frame && view.textChanges == m_textChanges;
            });
    if (unchanged && !frames.empty()) {
        updateInsertionPointBlinking();
        return;
    }
    removeInsertionPointViews();
    for (const QRectF& frame : frames) {
        std::unique_ptr<EDInsertionPointIndicator> indicator
            = m_delegateProxy->insertionPointIndicator(*this, QRectF(0, 0, frame.width(), frame.height()));
        if (!indicator)
            indicator = std::make_unique<EDTextInsertionIndicator>();
        indicator->setInsertionPointColor(insertionPointColor());
        indicator->setNeedsDisplayHandler([this, frame] { setNeedsDisplay(frame); });
        const bool blinks = m_isFirstResponder && frame.intersects(documentVisibleRect());
        if (blinks)
            indicator->blinkStart();
        else
            indicator->blinkStop();
        m_insertionPointViews.push_back({ frame, std::move(indicator), blinks, m_textChanges });
        setNeedsDisplay(frame);
    }
}

void EDTextView::updateInsertionPointBlinking()
{
    // A caret scrolled out of sight stands still: its blinking would wake the program twice a
    // second to paint nothing.
    const QRectF visible = documentVisibleRect();
    for (EDInsertionPointView& caret : m_insertionPointViews) {
        const bool blinks = m_isFirstResponder && caret.frame.intersects(visible);
        if (blinks == caret.blinks)
            continue;
        caret.blinks = blinks;
        if (blinks)
            caret.textInsertionIndicator->blinkStart();
        else
            caret.textInsertionIndicator->blinkStop();
    }
}

void EDTextView::removeInsertionPointViews()
{
    for (const EDInsertionPointView& view : m_insertionPointViews)
        setNeedsDisplay(view.frame);
    m_insertionPointViews.clear();
}
