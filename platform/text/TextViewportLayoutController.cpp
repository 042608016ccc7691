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
    for (; index < count; ++index) {
        auto fragment = m_manager.layoutFragment(index, true);
        const QRectF frame = fragment->layoutFragmentFrame();
        if (frame.top() > bottom || (frame.top() == bottom && range))
            break;
        if (frame.bottom() < top)
            continue;
        range = range ? range->united(fragment->rangeInElement()) : fragment->rangeInElement();
        m_delegate->configureRenderingSurface(*this, fragment);
    }
    // The text that began the last pass moved by however much the heights above it changed from
    // their estimates since then. An edit in between starts afresh.
    m_heightCorrection = 0;
    if (m_anchor && m_anchor->generation == m_manager.layoutGeneration())
        m_heightCorrection
            = storage->layoutParagraphY(storage->layoutParagraphIndex(m_anchor->location)) - m_anchor->y;
    if (range)
        m_anchor = Anchor { range->location,
            storage->layoutParagraphY(storage->layoutParagraphIndex(range->location)),
            m_manager.layoutGeneration() };
    m_viewportRange = range;
    m_delegate->didLayout(*this);
}

void TextViewportLayoutController::adjustViewportByVerticalOffset(double offset)
{
    m_verticalOffset += offset;
    m_viewportBounds.translate(0, offset);
}

double TextViewportLayoutController::relocateViewport(TextLocation location)
{
    auto fragment = m_manager.textLayoutFragment(location);
    return fragment ? fragment->layoutFragmentFrame().top() : 0.0;
}

} // namespace platform
