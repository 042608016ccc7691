#include "EDTextView/EDTextView.h"

#include "EDTextView/EDFindBar.h"
#include "EDTextView/EDTextFinder.h"
#include "EDTextView/EDTextFinderClient.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"

#include <QPainter>
#include <QPainterPath>

using platform::TextLayoutManager;
using platform::TextRange;

namespace {

constexpr double highlightCornerRadius = 2.0;

void perform(EDTextFinder& finder, int action)
{
    if (finder.validateAction(action))
        finder.performAction(action);
}

} // namespace

bool EDTextView::isIncrementalSearchingEnabled() const
{
    return m_textFinder->isIncrementalSearchingEnabled();
}

void EDTextView::setIsIncrementalSearchingEnabled(bool enabled)
{
    m_textFinder->setIncrementalSearchingEnabled(enabled);
}

void EDTextView::setUpTextFinder()
{
    m_textFinder->setClient(m_textFinderClient.get());
    m_textFinder->setFindBarContainer(this);
}

void EDTextView::tileFindBar()
{
    EDFindBar* bar = m_textFinder->findBarContainer() == this ? m_textFinder->findBar() : nullptr;
    const bool shown = bar && !bar->isHidden();
    const int height = shown ? bar->sizeHint().height() : 0;
    QMargins margins = viewportMargins();
    if (margins.top() != height) {
        margins.setTop(height);
        setViewportMargins(margins);
    }
    if (shown) {
        // Across the whole area, over the ruler's column too, as an editor's find bar is.
        const QRect area = contentsRect();
        bar->setGeometry(area.left(), area.top(), area.width(), height);
        bar->raise();
    }
}

void EDTextView::performFindPanelAction(QObject* sender)
{
    performTextFinderAction(sender);
}

void EDTextView::performTextFinderAction(QObject* sender)
{
    // Only a menu item says which action it is.
    if (const auto tag = EDTextFinder::actionTag(sender))
        perform(*m_textFinder, *tag);
}

void EDTextView::showFindInterface(QObject*)
{
    perform(*m_textFinder, EDTextFinder::showFindInterface);
}

void EDTextView::showReplaceInterface(QObject*)
{
    // A view that may not be edited offers finding only.
    perform(
        *m_textFinder, m_isEditable ? EDTextFinder::showReplaceInterface : EDTextFinder::showFindInterface);
}

void EDTextView::hideFindInterface(QObject*)
{
    perform(*m_textFinder, EDTextFinder::hideFindInterface);
}

void EDTextView::findNext(QObject*)
{
    // With nothing to find yet, the key opens the bar to type it.
    perform(*m_textFinder,
        m_textFinder->searchString().isEmpty() ? EDTextFinder::showFindInterface : EDTextFinder::nextMatch);
}

void EDTextView::findPrevious(QObject*)
{
    perform(*m_textFinder,
        m_textFinder->searchString().isEmpty() ? EDTextFinder::showFindInterface
                                               : EDTextFinder::previousMatch);
}

void EDTextView::useSelectionForFind(QObject*)
{
    // The selected text, across paragraphs too, is the search string; Ctrl+G then finds it.
    perform(*m_textFinder, EDTextFinder::useSelectionForFind);
}

void EDTextView::drawFindHighlights(QPainter& painter, const QRectF& dirty)
{
    const auto visible = visibleCharacterRange();
    m_textFinder->prepareHighlights(visible);
    if (!visible || !m_textFinder->isFindBarVisible())
        return;
    // The selected match stands out from the others.
    std::optional<TextRange> current;
    if (const auto index = m_textFinder->currentMatch())
        current = m_textFinder->matchRange(*index);
    const bool dark = palette().color(QPalette::Base).lightnessF() < 0.5f;
    const QColor matchColor = dark ? QColor(0x7A, 0x62, 0x00) : QColor(0xFF, 0xE3, 0x6E);
    const QColor currentColor = dark ? QColor(0xC2, 0x5E, 0x00) : QColor(0xFF, 0xA3, 0x2B);
    QPainterPath matches;
    QPainterPath selected;
    // Touching matches fill as one, not as the difference of two.
    matches.setFillRule(Qt::WindingFill);
    selected.setFillRule(Qt::WindingFill);
    edtextview::enumerateRenderingAttributes(*m_textLayoutManager, *visible, false,
        [&](const platform::TextAttributes& attributes, TextRange run) {
            if (!attributes.contains(EDTextFinder::highlightAttribute))
                return true;
            QPainterPath& path = current && current->contains(run) ? selected : matches;
            m_textLayoutManager->enumerateTextSegments(run, TextLayoutManager::SegmentType::highlight,
                TextLayoutManager::rangeNotRequired, [&](std::optional<TextRange>, QRectF frame, double) {
                    if (frame.width() > 0 && frame.intersects(dirty))
                        path.addRoundedRect(
                            edtextview::pixelAligned(frame), highlightCornerRadius, highlightCornerRadius);
                    return true;
                });
            return true;
        });
    if (matches.isEmpty() && selected.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(matches, matchColor);
    painter.fillPath(selected, currentColor);
    painter.restore();
}
