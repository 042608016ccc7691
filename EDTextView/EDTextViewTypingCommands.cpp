#include "EDTextView/EDTextView.h"

#include "EDTextView/EDTextContentStorage.h"
#include "EDTextView/EDTextLayoutManager.h"
#include "EDTextView/YankingManager.h"

using platform::CharacterRange;
using platform::TextRange;
using platform::TextSelection;
using Direction = platform::TextSelectionNavigation::Direction;
using Destination = platform::TextSelectionNavigation::Destination;
using DeleteAction = YankingManager::DeleteAction;

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
    insertCommandText(QString(QChar(0x2028)));
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
        } else {
            const auto deletions = navigation.deletionRanges(
                selection, direction, destination, decomposition == Decomposition::lastCodePoint);
            ranges.insert(ranges.end(), deletions.begin(), deletions.end());
        }
    }
    std::erase_if(ranges, [](const TextRange& range) { return range.isEmpty(); });
    if (ranges.empty() || !shouldChangeText(ranges, QString()))
        return;
    // Carets in one word delete that word once, and the kill ring gets it once.
    const std::vector<TextRange> merged = mergedTextRanges(ranges);
    QString deleted;
    for (const TextRange& range : merged)
        deleted += m_textContentStorage->substring(range);
    m_deleteCommandInProgress = true;
    replaceCharacters(merged, QString(), false);
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
    // Kills to the paragraph's start join a run of kills to the line's start in the kill ring.
    deleteByMovement(Direction::backward, Destination::paragraph, Decomposition::whole,
        int(DeleteAction::deleteToBeginningOfLine));
}

void EDTextView::deleteToEndOfParagraph(QObject*)
{
    deleteByMovement(Direction::forward, Destination::paragraph, Decomposition::whole,
        int(DeleteAction::deleteToEndOfParagraph));
}
