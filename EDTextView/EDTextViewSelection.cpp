#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "EDTextView/YankingManager.h"
#include "platform/foundation/NotificationCenter.h"

using platform::CharacterRange;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;
using Direction = platform::TextSelectionNavigation::Direction;
using Destination = platform::TextSelectionNavigation::Destination;

namespace {

// Whether `at` stands between the halves of one character: a CR LF or a surrogate pair.
bool splitsCharacter(const platform::TextContentStorage& storage, TextLocation at)
{
    if (at <= 0 || at >= storage.length())
        return false;
    const QString pair = storage.substring(TextRange(at - 1, at + 1));
    return pair.size() == 2
        && ((pair[0] == u'\r' && pair[1] == u'\n')
            || (pair[0].isHighSurrogate() && pair[1].isLowSurrogate()));
}

} // namespace

void EDTextView::setSelectedTextRange(TextRange range, bool updateLayout)
{
    if (!m_isSelectable)
        return;
    if (range.location < 0 || range.endLocation > m_textLayoutManager->documentRange().endLocation)
        return;
    range = edtextview::wholeCharacters(range, *m_textContentStorage);
    m_textLayoutManager->setTextSelections(
        { TextSelection(range, TextSelection::Affinity::downstream, TextSelection::Granularity::character) });
    updateTypingAttributes(range.location);
    if (updateLayout)
        requestLayoutPass();
}

void EDTextView::setSelectedRange(CharacterRange range)
{
    // A range outside the text is ignored.
    if (const auto textRange = edtextview::textRange(range, *m_textContentStorage))
        setSelectedTextRange(*textRange, true);
}

std::optional<TextRange> EDTextView::selectedTextRange() const
{
    const auto& selections = m_textLayoutManager->textSelections();
    if (selections.empty() || selections.back().textRanges.empty())
        return std::nullopt;
    return selections.back().textRanges.back();
}

void EDTextView::selectionDidChange()
{
    YankingManager& killRing = YankingManager::shared();
    if (!m_deleteCommandInProgress)
        killRing.lastDeleteAction.reset();
    const platform::Notification notification { didChangeSelectionNotification, this, {} };
    platform::NotificationCenter::defaultCenter().post(notification);
    m_delegateProxy->textViewDidChangeSelection(notification);
    notifyAccessibleSelectionChange();
    schedulePrimarySelectionUpdate();
    // Whoever set the selection, the next pass shows it.
    requestLayoutPass();
}

TextLocation EDTextView::caretOutsideCharacter(TextLocation at, Direction direction) const
{
    if (!splitsCharacter(*m_textContentStorage, at))
        return at;
    return direction == Direction::backward ? at - 1 : at + 1;
}

Direction EDTextView::editDirection() const
{
    // Backspace leaves the caret before a line end it joined, with the text that followed the
    // caret still after it; Delete and typing leave what stood before the caret before it.
    return m_deleteCommandInProgress && m_deletingBackward ? Direction::backward : Direction::forward;
}

void EDTextView::placeSelectionsOutsideCharacters(Direction direction)
{
    std::vector<TextSelection> selections = m_textLayoutManager->textSelections();
    bool moved = false;
    for (TextSelection& selection : selections) {
        for (TextRange& range : selection.textRanges) {
            const TextRange outside = range.isEmpty()
                ? TextRange(caretOutsideCharacter(range.location, direction))
                : edtextview::wholeCharacters(range, *m_textContentStorage);
            if (outside == range)
                continue;
            if (selection.anchorLocation == range.location)
                selection.anchorLocation = outside.location;
            else if (selection.anchorLocation == range.endLocation)
                selection.anchorLocation = outside.endLocation;
            range = outside;
            moved = true;
        }
    }
    if (moved)
        m_textLayoutManager->setTextSelections(std::move(selections));
}

void EDTextView::selectAll(QObject*)
{
    if (!m_isSelectable)
        return;
    m_textLayoutManager->setTextSelections({ TextSelection(m_textLayoutManager->documentRange(),
        TextSelection::Affinity::downstream, TextSelection::Granularity::line) });
    updateTypingAttributes();
    updateSelectionHighlights();
}

void EDTextView::selectGranularity(TextSelection::Granularity granularity)
{
    if (!m_isSelectable)
        return;
    const auto& selections = m_textLayoutManager->textSelections();
    if (selections.empty())
        return;
    const TextSelection widened
        = m_textLayoutManager->textSelectionNavigation().textSelection(granularity, selections.back());
    m_textLayoutManager->setTextSelections({ widened });
    updateTypingAttributes();
    m_needsScrollToSelection = true;
    requestLayoutPass();
}

void EDTextView::selectWord(QObject*)
{
    selectGranularity(TextSelection::Granularity::word);
}

void EDTextView::selectParagraph(QObject*)
{
    selectGranularity(TextSelection::Granularity::paragraph);
}

void EDTextView::selectLine(QObject*)
{
    selectGranularity(TextSelection::Granularity::line);
}

void EDTextView::moveSelections(Direction direction, Destination destination, bool extending)
{
    if (!m_isSelectable)
        return;
    platform::TextSelectionNavigation& navigation = m_textLayoutManager->textSelectionNavigation();
    std::vector<TextSelection> moved;
    for (const TextSelection& selection : m_textLayoutManager->textSelections()) {
        if (auto destinationSelection
            = navigation.destinationSelection(selection, direction, destination, extending, false))
            moved.push_back(std::move(*destinationSelection));
    }
    // Carets that meet become one (the layout manager merges them).
    m_textLayoutManager->setTextSelections(std::move(moved));
    updateTypingAttributes();
    m_needsScrollToSelection = true;
    requestLayoutPass();
}

#define ED_MOVE_COMMAND(name, direction, destination)                                                        \
    void EDTextView::name(QObject*)                                                                          \
    {                                                                                                        \
        moveSelections(Direction::direction, Destination::destination, false);                               \
    }                                                                                                        \
    void EDTextView::name##AndModifySelection(QObject*)                                                      \
    {                                                                                                        \
        moveSelections(Direction::direction, Destination::destination, true);                                \
    }

// The bodies of the movement commands of the command list.
#define ED_NOT_A_MOVE(member)
ED_TEXT_VIEW_COMMANDS(ED_NOT_A_MOVE, ED_MOVE_COMMAND)
#undef ED_NOT_A_MOVE
#undef ED_MOVE_COMMAND

void EDTextView::moveParagraphForwardAndModifySelection(QObject*)
{
    moveSelections(Direction::forward, Destination::paragraph, true);
}

void EDTextView::moveParagraphBackwardAndModifySelection(QObject*)
{
    moveSelections(Direction::backward, Destination::paragraph, true);
}

void EDTextView::pageUp(QObject* sender)
{
    scrollPageUp(sender);
}

void EDTextView::pageDown(QObject* sender)
{
    scrollPageDown(sender);
}

void EDTextView::pageUpAndModifySelection(QObject* sender)
{
    pageUp(sender);
}

void EDTextView::pageDownAndModifySelection(QObject* sender)
{
    pageDown(sender);
}

void EDTextView::scrollPageUp(QObject*)
{
    const QRectF visible = documentVisibleRect();
    scrollPoint(visible.topLeft() - QPointF(0, visible.height()));
}

void EDTextView::scrollPageDown(QObject*)
{
    const QRectF visible = documentVisibleRect();
    scrollPoint(visible.topLeft() + QPointF(0, visible.height()));
}

void EDTextView::scrollToBeginningOfDocument(QObject*)
{
    scrollPoint(QPointF(documentVisibleRect().left(), bounds().top()));
}

void EDTextView::scrollToEndOfDocument(QObject*)
{
    scrollPoint(QPointF(documentVisibleRect().left(), bounds().bottom()));
}

void EDTextView::centerSelectionInVisibleArea(QObject*)
{
    const auto& selections = m_textLayoutManager->textSelections();
    if (selections.empty() || selections.back().textRanges.empty())
        return;
    layoutIfNeeded();
    const TextSelection& last = selections.back();
    const TextRange range = last.textRanges.back();
    const bool movingEndIsStart = last.anchorLocation && *last.anchorLocation == range.endLocation;
    if (const auto target = scrollTargetRect(range, !movingEndIsStart, last.affinity))
        scrollRectToVisible(*target);
    setNeedsDisplay();
}
