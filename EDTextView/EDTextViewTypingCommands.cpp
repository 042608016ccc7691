#include "EDTextView/EDTextView.h"

#include "EDTextView/CoalescingUndoManager.h"
#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/TextLayoutUtilities.h"
#include "EDTextView/YankingManager.h"

using platform::CharacterRange;
using platform::TextLocation;
using platform::TextRange;
using platform::TextSelection;
using Direction = platform::TextSelectionNavigation::Direction;
using Destination = platform::TextSelectionNavigation::Destination;
using DeleteAction = YankingManager::DeleteAction;

namespace {

constexpr char16_t lineSeparator = 0x2028;

} // namespace

void EDTextView::insertCommandText(const QString& text)
{
    insertText(text, CharacterRange::notFound());
}

void EDTextView::insertNewline(QObject*)
{
    insertCommandText(QStringLiteral("\n"));
}

void EDTextView::insertLineBreak(QObject*)
{
    insertCommandText(QString(QChar(lineSeparator)));
}

void EDTextView::insertParagraphSeparator(QObject*)
{
    insertCommandText(QString(QChar(0x2029)));
}

void EDTextView::insertTab(QObject*)
{
    insertCommandText(QStringLiteral("\t"));
}

void EDTextView::insertBacktab(QObject*)
{
    insertCommandText(QString(QChar(0x19)));
}

void EDTextView::insertTabIgnoringFieldEditor(QObject* sender)
{
    insertTab(sender);
}

void EDTextView::insertNewlineIgnoringFieldEditor(QObject* sender)
{
    insertNewline(sender);
}

std::optional<TextRange> EDTextView::paragraphKillRange(
    TextLocation caret, Direction direction, bool edgeOnly) const
{
    const qint64 length = m_textContentStorage->length();
    const auto paragraph = m_textContentStorage->paragraphAt(std::clamp<qint64>(caret, 0, length));
    if (!paragraph)
        return std::nullopt;
    const TextRange content = paragraph->paragraphContentRange;
    // After a final terminator the caret stands in an empty last paragraph of its own.
    const bool inEmptyLastParagraph
        = caret == paragraph->elementRange.endLocation && caret > content.endLocation;
    if (direction == Direction::forward) {
        if (inEmptyLastParagraph || caret >= length)
            return std::nullopt;
        // At the paragraph's end only its terminator goes.
        if (caret >= content.endLocation)
            return TextRange(caret, paragraph->elementRange.endLocation);
        if (edgeOnly)
            return std::nullopt;
        return TextRange(caret, content.endLocation);
    }
    if (caret <= 0)
        return std::nullopt;
    if (inEmptyLastParagraph)
        return TextRange(content.endLocation, caret);
    // At the paragraph's start only the terminator before it goes.
    if (caret <= content.location) {
        const auto previous = m_textContentStorage->paragraphAt(caret - 1);
        if (!previous)
            return std::nullopt;
        return TextRange(previous->paragraphContentRange.endLocation, caret);
    }
    if (edgeOnly)
        return std::nullopt;
    return TextRange(content.location, caret);
}

std::optional<TextRange> EDTextView::lineEndKillRange(TextLocation caret, Direction direction) const
{
    if (const auto kill = paragraphKillRange(caret, direction, true))
        return kill;
    // A line separator ends a row inside its paragraph.
    const TextRange beside
        = direction == Direction::backward ? TextRange(caret - 1, caret) : TextRange(caret, caret + 1);
    if (beside.location < 0 || beside.endLocation > m_textContentStorage->length())
        return std::nullopt;
    if (m_textContentStorage->substring(beside) != QString(QChar(lineSeparator)))
        return std::nullopt;
    return beside;
}

void EDTextView::deleteByMovement(
    Direction direction, Destination destination, Decomposition decomposition, int deleteAction)
{
    platform::TextSelectionNavigation& navigation = m_textLayoutManager->textSelectionNavigation();
    std::vector<TextRange> ranges;
    for (const TextSelection& selection : m_textLayoutManager->textSelections()) {
        if (destination == Destination::word && selection.isEmptySelection()) {
            if (const auto extended
                = navigation.destinationSelection(selection, direction, destination, true, false))
                ranges.insert(ranges.end(), extended->textRanges.begin(), extended->textRanges.end());
        } else if (destination == Destination::word) {
            // A selected range is deleted as it stands, like by every other delete command.
            ranges.insert(ranges.end(), selection.textRanges.begin(), selection.textRanges.end());
        } else if (destination == Destination::paragraph) {
            for (const TextRange& range : selection.textRanges) {
                if (!range.isEmpty())
                    ranges.push_back(range);
                else if (const auto kill = paragraphKillRange(range.location, direction, false))
                    ranges.push_back(*kill);
            }
        } else {
            std::vector<TextRange> deletions = navigation.deletionRanges(
                selection, direction, destination, decomposition == Decomposition::lastCodePoint);
            // A row's end lies past the line separator that ends it: a kill to it from inside the
            // row leaves the separator, as a kill to a paragraph's end leaves its terminator.
            if (destination == Destination::line && direction == Direction::forward
                && selection.isEmptySelection()) {
                for (TextRange& range : deletions) {
                    if (range.length() > 1
                        && m_textContentStorage->substring(
                               TextRange(range.endLocation - 1, range.endLocation))
                            == QString(QChar(lineSeparator)))
                        range = TextRange(range.location, range.endLocation - 1);
                }
            }
            ranges.insert(ranges.end(), deletions.begin(), deletions.end());
            // A line kill with nothing left on its line takes the line end there, a paragraph's or
            // a line separator, so that kills join lines.
            if (destination == Destination::line && deletions.empty()) {
                for (const TextRange& range : selection.textRanges) {
                    if (const auto kill
                        = range.isEmpty() ? lineEndKillRange(range.location, direction) : std::nullopt)
                        ranges.push_back(*kill);
                }
            }
        }
    }
    std::erase_if(ranges, [](const TextRange& range) { return range.isEmpty(); });
    if (ranges.empty() || !shouldChangeText(ranges, QString()))
        return;
    // The kill ring gets the pieces in the selections' order. Carets in one word delete that word
    // once, and the ring gets it once, whole, where the first of them comes.
    const std::vector<TextRange> merged = mergedTextRanges(ranges);
    QString deleted;
    std::vector<char> taken(merged.size(), false);
    for (const size_t index : mergedIndices(ranges, merged)) {
        if (!std::exchange(taken[index], true))
            deleted += m_textContentStorage->substring(merged[index]);
    }
    m_deleteCommandInProgress = true;
    m_deletingBackward = direction == Direction::backward;
    replaceCharacters(ranges, QString(), false);
    m_deleteCommandInProgress = false;
    YankingManager::shared().append(deleted, DeleteAction(deleteAction));
}

void EDTextView::deleteForward(QObject*)
{
    deleteByMovement(
        Direction::forward, Destination::character, Decomposition::whole, int(DeleteAction::delete_));
}

void EDTextView::deleteBackward(QObject*)
{
    deleteByMovement(
        Direction::backward, Destination::character, Decomposition::whole, int(DeleteAction::delete_));
}

void EDTextView::deleteBackwardByDecomposingPreviousCharacter(QObject*)
{
    deleteByMovement(Direction::backward, Destination::character, Decomposition::lastCodePoint,
        int(DeleteAction::delete_));
}

void EDTextView::deleteWordForward(QObject*)
{
    deleteByMovement(
        Direction::forward, Destination::word, Decomposition::whole, int(DeleteAction::deleteWordForward));
}

void EDTextView::deleteWordBackward(QObject*)
{
    deleteByMovement(
        Direction::backward, Destination::word, Decomposition::whole, int(DeleteAction::deleteWordBackward));
}

void EDTextView::deleteToBeginningOfLine(QObject*)
{
    deleteByMovement(Direction::backward, Destination::line, Decomposition::whole,
        int(DeleteAction::deleteToBeginningOfLine));
}

void EDTextView::deleteToEndOfLine(QObject*)
{
    deleteByMovement(
        Direction::forward, Destination::line, Decomposition::whole, int(DeleteAction::deleteToEndOfLine));
}

void EDTextView::deleteToBeginningOfParagraph(QObject*)
{
    deleteByMovement(Direction::backward, Destination::paragraph, Decomposition::whole,
        int(DeleteAction::deleteToBeginningOfParagraph));
}

void EDTextView::deleteToEndOfParagraph(QObject*)
{
    deleteByMovement(Direction::forward, Destination::paragraph, Decomposition::whole,
        int(DeleteAction::deleteToEndOfParagraph));
}

void EDTextView::yank(QObject*)
{
    // The carets, not selected ranges: a yank inserts, it does not replace.
    std::vector<TextRange> carets;
    for (const TextSelection& selection : edtextview::textSelectionRanges(*m_textLayoutManager))
        carets.insert(carets.end(), selection.textRanges.begin(), selection.textRanges.end());
    if (carets.empty())
        return;
    YankingManager& killRing = YankingManager::shared();
    const QString entry = killRing.currentEntry();
    // Like typing, a yank is refused by a view that may not be edited, and by its delegate.
    if (!shouldChangeText(carets, entry))
        return;
    // Like a paste, a yank is an undo step apart from the keys typed before and after it. Right
    // after a kill it goes with the kill, so that a kill yanked back where it was leaves no step.
    const auto* coalescing = dynamic_cast<CoalescingUndoManager*>(undoManager());
    if (coalescing && coalescing->coalescing()
        && coalescing->coalescing()->deleting == CoalescingUndoManager::Deletion::none)
        breakUndoCoalescing();
    replaceCharacters(carets, entry, true);
    breakUndoCoalescing();
    killRing.yanking = true;
}
