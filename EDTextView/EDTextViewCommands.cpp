#include "EDTextView/EDTextView.h"

// The commands a key binding, a menu or another view may send by name. A command that is not in
// the table does nothing; adding one is adding a member and a row here.
const QHash<QString, EDTextView::Command>& EDTextView::commandTable()
{
    static const QHash<QString, Command> table {
        { QStringLiteral("undo:"), &EDTextView::undo },
        { QStringLiteral("redo:"), &EDTextView::redo },

        { QStringLiteral("selectAll:"), &EDTextView::selectAll },
        { QStringLiteral("selectWord:"), &EDTextView::selectWord },
        { QStringLiteral("selectParagraph:"), &EDTextView::selectParagraph },
        { QStringLiteral("selectLine:"), &EDTextView::selectLine },
        { QStringLiteral("moveLeft:"), &EDTextView::moveLeft },
        { QStringLiteral("moveLeftAndModifySelection:"), &EDTextView::moveLeftAndModifySelection },
        { QStringLiteral("moveRight:"), &EDTextView::moveRight },
        { QStringLiteral("moveRightAndModifySelection:"), &EDTextView::moveRightAndModifySelection },
        { QStringLiteral("moveUp:"), &EDTextView::moveUp },
        { QStringLiteral("moveUpAndModifySelection:"), &EDTextView::moveUpAndModifySelection },
        { QStringLiteral("moveDown:"), &EDTextView::moveDown },
        { QStringLiteral("moveDownAndModifySelection:"), &EDTextView::moveDownAndModifySelection },
        { QStringLiteral("moveForward:"), &EDTextView::moveForward },
        { QStringLiteral("moveForwardAndModifySelection:"), &EDTextView::moveForwardAndModifySelection },
        { QStringLiteral("moveBackward:"), &EDTextView::moveBackward },
        { QStringLiteral("moveBackwardAndModifySelection:"), &EDTextView::moveBackwardAndModifySelection },
        { QStringLiteral("moveWordLeft:"), &EDTextView::moveWordLeft },
        { QStringLiteral("moveWordLeftAndModifySelection:"), &EDTextView::moveWordLeftAndModifySelection },
        { QStringLiteral("moveWordRight:"), &EDTextView::moveWordRight },
        { QStringLiteral("moveWordRightAndModifySelection:"), &EDTextView::moveWordRightAndModifySelection },
        { QStringLiteral("moveWordForward:"), &EDTextView::moveWordForward },
        { QStringLiteral("moveWordForwardAndModifySelection:"),
            &EDTextView::moveWordForwardAndModifySelection },
        { QStringLiteral("moveWordBackward:"), &EDTextView::moveWordBackward },
        { QStringLiteral("moveWordBackwardAndModifySelection:"),
            &EDTextView::moveWordBackwardAndModifySelection },
        { QStringLiteral("moveToBeginningOfLine:"), &EDTextView::moveToBeginningOfLine },
        { QStringLiteral("moveToBeginningOfLineAndModifySelection:"),
            &EDTextView::moveToBeginningOfLineAndModifySelection },
        { QStringLiteral("moveToEndOfLine:"), &EDTextView::moveToEndOfLine },
        { QStringLiteral("moveToEndOfLineAndModifySelection:"),
            &EDTextView::moveToEndOfLineAndModifySelection },
        { QStringLiteral("moveToLeftEndOfLine:"), &EDTextView::moveToLeftEndOfLine },
        { QStringLiteral("moveToLeftEndOfLineAndModifySelection:"),
            &EDTextView::moveToLeftEndOfLineAndModifySelection },
        { QStringLiteral("moveToRightEndOfLine:"), &EDTextView::moveToRightEndOfLine },
        { QStringLiteral("moveToRightEndOfLineAndModifySelection:"),
            &EDTextView::moveToRightEndOfLineAndModifySelection },
        { QStringLiteral("moveToBeginningOfParagraph:"), &EDTextView::moveToBeginningOfParagraph },
        { QStringLiteral("moveToBeginningOfParagraphAndModifySelection:"),
            &EDTextView::moveToBeginningOfParagraphAndModifySelection },
        { QStringLiteral("moveToEndOfParagraph:"), &EDTextView::moveToEndOfParagraph },
        { QStringLiteral("moveToEndOfParagraphAndModifySelection:"),
            &EDTextView::moveToEndOfParagraphAndModifySelection },
        { QStringLiteral("moveToBeginningOfDocument:"), &EDTextView::moveToBeginningOfDocument },
        { QStringLiteral("moveToBeginningOfDocumentAndModifySelection:"),
            &EDTextView::moveToBeginningOfDocumentAndModifySelection },
        { QStringLiteral("moveToEndOfDocument:"), &EDTextView::moveToEndOfDocument },
        { QStringLiteral("moveToEndOfDocumentAndModifySelection:"),
            &EDTextView::moveToEndOfDocumentAndModifySelection },
        { QStringLiteral("moveParagraphForwardAndModifySelection:"),
            &EDTextView::moveParagraphForwardAndModifySelection },
        { QStringLiteral("moveParagraphBackwardAndModifySelection:"),
            &EDTextView::moveParagraphBackwardAndModifySelection },
        { QStringLiteral("pageUp:"), &EDTextView::pageUp },
        { QStringLiteral("pageDown:"), &EDTextView::pageDown },
        { QStringLiteral("pageUpAndModifySelection:"), &EDTextView::pageUpAndModifySelection },
        { QStringLiteral("pageDownAndModifySelection:"), &EDTextView::pageDownAndModifySelection },
        { QStringLiteral("scrollPageUp:"), &EDTextView::scrollPageUp },
        { QStringLiteral("scrollPageDown:"), &EDTextView::scrollPageDown },
        { QStringLiteral("scrollToBeginningOfDocument:"), &EDTextView::scrollToBeginningOfDocument },
        { QStringLiteral("scrollToEndOfDocument:"), &EDTextView::scrollToEndOfDocument },
        { QStringLiteral("centerSelectionInVisibleArea:"), &EDTextView::centerSelectionInVisibleArea },
        { QStringLiteral("toggleRuler:"), &EDTextView::toggleRuler },

        { QStringLiteral("insertNewline:"), &EDTextView::insertNewline },
        { QStringLiteral("insertLineBreak:"), &EDTextView::insertLineBreak },
        { QStringLiteral("insertParagraphSeparator:"), &EDTextView::insertParagraphSeparator },
        { QStringLiteral("insertTab:"), &EDTextView::insertTab },
        { QStringLiteral("insertBacktab:"), &EDTextView::insertBacktab },
        { QStringLiteral("insertTabIgnoringFieldEditor:"), &EDTextView::insertTabIgnoringFieldEditor },
        { QStringLiteral("insertNewlineIgnoringFieldEditor:"),
            &EDTextView::insertNewlineIgnoringFieldEditor },
        { QStringLiteral("deleteForward:"), &EDTextView::deleteForward },
        { QStringLiteral("deleteBackward:"), &EDTextView::deleteBackward },
        { QStringLiteral("deleteBackwardByDecomposingPreviousCharacter:"),
            &EDTextView::deleteBackwardByDecomposingPreviousCharacter },
        { QStringLiteral("deleteWordForward:"), &EDTextView::deleteWordForward },
        { QStringLiteral("deleteWordBackward:"), &EDTextView::deleteWordBackward },
        { QStringLiteral("deleteToBeginningOfLine:"), &EDTextView::deleteToBeginningOfLine },
        { QStringLiteral("deleteToEndOfLine:"), &EDTextView::deleteToEndOfLine },
        { QStringLiteral("deleteToBeginningOfParagraph:"), &EDTextView::deleteToBeginningOfParagraph },
        { QStringLiteral("deleteToEndOfParagraph:"), &EDTextView::deleteToEndOfParagraph },
    };
    return table;
}

bool EDTextView::doCommandBySelector(const QString& name)
{
    const auto it = commandTable().find(name);
    if (it == commandTable().end())
        return false;
    (this->*(*it))(nullptr);
    return true;
}
