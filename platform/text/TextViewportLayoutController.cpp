#include "platform/text/TextViewportLayoutController.h"

#include "platform/text/TextContentStorage.h"
#include "platform/text/TextLayoutManager.h"

namespace platform {

TextViewportLayoutController::TextViewportLayoutController(TextLayoutManager& manager)
    : m_manager(manager)
{
}

void TextViewportLayoutController::layoutViewport()
{
    TextContentStorage* storage = m_manager.textContentStorage();
    if (!m_delegate || !storage)
        return;
    m_viewportBounds = m_delegate->viewportBounds(*this);
    m_delegate->willLayout(*this);
    std::optional<TextRange> range;
    const double top = m_viewportBounds.top();
    const double bottom = m_viewportBounds.bottom();
    qint64 index = storage->layoutParagraphIndexAtY(top);
    const qint64 count = storage->layoutParagraphCount();
    std::shared_ptr<TextLayoutFragment> first;
    for (; index < count; ++index) {
        // A long paragraph gets its text in view laid out, the rest stays estimated.
        auto fragment = m_manager.layoutFragment(index, m_viewportBounds);
        const QRectF frame = fragment->layoutFragmentFrame();
        if (frame.top() > bottom || (frame.top() == bottom && range))
            break;
        if (frame.bottom() < top)
            continue;
        range = range ? range->united(fragment->rangeInElement()) : fragment->rangeInElement();
        if (!first)
            first = fragment;
        m_delegate->configureRenderingSurface(*this, fragment);
    }
    // The text that began the last pass moved by however much the heights above it changed from
    // their estimates since then. An edit in between starts afresh.
    m_heightCorrection = 0;
    if (m_anchor && m_anchor->generation == m_manager.layoutGeneration()) {
        const qint64 anchorIndex = storage->layoutParagraphIndex(m_anchor->location);
        auto fragment = m_anchor->fragment.lock();
        if (!fragment)
            fragment = m_manager.layoutFragment(anchorIndex, false);
        m_heightCorrection = storage->layoutParagraphY(anchorIndex)
            + offsetInParagraph(m_anchor->location, fragment).value_or(m_anchor->offset) - m_anchor->y;
    }
    if (first) {
        // The first row in view, so that text laid out above it inside its own (long) paragraph
        // counts too.
        const TextLayoutFragment::VisualLine row
            = first->visualLine(first->visualLineIndex(top - first->layoutFragmentFrame().top()));
        const TextLocation location = first->rangeInElement().location + row.characterRange.location;
        const double offset = offsetInParagraph(location, first).value_or(0.0);
        m_anchor = Anchor { location, storage->layoutParagraphY(first->layoutParagraphIndex()) + offset,
            offset, m_manager.layoutGeneration(), first };
    }
    m_viewportRange = range;
    m_delegate->didLayout(*this);
}

void TextViewportLayoutController::adjustViewportByVerticalOffset(double offset)
{
    m_verticalOffset += offset;
    m_viewportBounds.translate(0, offset);
}

std::optional<double> TextViewportLayoutController::offsetInParagraph(
    TextLocation location, const std::shared_ptr<TextLayoutFragment>& fragment) const
{
    const TextContentStorage& storage = *m_manager.textContentStorage();
    const qint64 index = storage.layoutParagraphIndex(location);
    if (!fragment || fragment->state() != TextLayoutFragment::State::layoutAvailable
        || fragment->layoutParagraphIndex() != index
        || fragment->rangeInElement().location != storage.layoutParagraphRange(index).location)
        return std::nullopt;
    const auto line = fragment->lineFragmentIndex(location - fragment->rangeInElement().location);
    if (!line)
        return std::nullopt;
    return fragment->visualLine(fragment->lineFragment(*line).visualLineIndex()).y;
}

double TextViewportLayoutController::relocateViewport(TextLocation location)
{
    auto fragment = m_manager.textLayoutFragment(location);
    return fragment ? fragment->layoutFragmentFrame().top() : 0.0;
}

} // namespace platform
