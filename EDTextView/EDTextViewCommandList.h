#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Every command a key, a menu or another view may send a text view by name. This is the only
// place the commands are listed: the view's declarations, its table of names, the enumeration the
// key bindings and menus refer to, and the movement commands' bodies are all made from it, so a
// key can only be bound to a command that exists.
//
// COMMAND(member) is a command whose name is the member's with a colon ("selectAll:"); a trailing
// underscore is left out of the name ("delete_" is "delete:"). MOVE(member, direction,
// destination) is a movement command and its "AndModifySelection:" twin, which extends the
// selection instead.
//
// Commands of accessories (find, spelling, speech, the ruler) join this list, with their members
// in the file of their own area.
#define ED_TEXT_VIEW_COMMANDS(COMMAND, MOVE)                                                                 \
    COMMAND(undo)                                                                                            \
    COMMAND(redo)                                                                                            \
    /* Selection and movement (EDTextViewSelection.cpp). */                                                  \
    COMMAND(selectAll)                                                                                       \
    COMMAND(selectWord)                                                                                      \
    COMMAND(selectParagraph)                                                                                 \
    COMMAND(selectLine)                                                                                      \
    MOVE(moveLeft, left, character)                                                                          \
    MOVE(moveRight, right, character)                                                                        \
    MOVE(moveUp, up, character)                                                                              \
    MOVE(moveDown, down, character)                                                                          \
    MOVE(moveForward, forward, character)                                                                    \
    MOVE(moveBackward, backward, character)                                                                  \
    MOVE(moveWordLeft, left, word)                                                                           \
    MOVE(moveWordRight, right, word)                                                                         \
    MOVE(moveWordForward, forward, word)                                                                     \
    MOVE(moveWordBackward, backward, word)                                                                   \
    MOVE(moveToBeginningOfLine, backward, line)                                                              \
    MOVE(moveToEndOfLine, forward, line)                                                                     \
    MOVE(moveToLeftEndOfLine, left, line)                                                                    \
    MOVE(moveToRightEndOfLine, right, line)                                                                  \
    MOVE(moveToBeginningOfParagraph, backward, paragraph)                                                    \
    MOVE(moveToEndOfParagraph, forward, paragraph)                                                           \
    MOVE(moveToBeginningOfDocument, backward, document)                                                      \
    MOVE(moveToEndOfDocument, forward, document)                                                             \
    COMMAND(moveParagraphForwardAndModifySelection)                                                          \
    COMMAND(moveParagraphBackwardAndModifySelection)                                                         \
    COMMAND(pageUp)                                                                                          \
    COMMAND(pageDown)                                                                                        \
    COMMAND(pageUpAndModifySelection)                                                                        \
    COMMAND(pageDownAndModifySelection)                                                                      \
    COMMAND(scrollPageUp)                                                                                    \
    COMMAND(scrollPageDown)                                                                                  \
    COMMAND(scrollToBeginningOfDocument)                                                                     \
    COMMAND(scrollToEndOfDocument)                                                                           \
    COMMAND(centerSelectionInVisibleArea)                                                                    \
    /* Inserting and deleting (EDTextViewTypingCommands.cpp). */                                             \
    COMMAND(insertNewline)                                                                                   \
    COMMAND(insertLineBreak)                                                                                 \
    COMMAND(insertParagraphSeparator)                                                                        \
    COMMAND(insertTab)                                                                                       \
    COMMAND(insertBacktab)                                                                                   \
    COMMAND(insertTabIgnoringFieldEditor)                                                                    \
    COMMAND(insertNewlineIgnoringFieldEditor)                                                                \
    COMMAND(deleteForward)                                                                                   \
    COMMAND(deleteBackward)                                                                                  \
    COMMAND(deleteBackwardByDecomposingPreviousCharacter)                                                    \
    COMMAND(deleteWordForward)                                                                               \
    COMMAND(deleteWordBackward)                                                                              \
    COMMAND(deleteToBeginningOfLine)                                                                         \
    COMMAND(deleteToEndOfLine)                                                                               \
    COMMAND(deleteToBeginningOfParagraph)                                                                    \
    COMMAND(deleteToEndOfParagraph)                                                                          \
    COMMAND(yank)                                                                                            \
    /* Case, completion (EDTextViewEditingCommands.cpp). */                                                  \
    COMMAND(capitalizeWord)                                                                                  \
    COMMAND(lowercaseWord)                                                                                   \
    COMMAND(uppercaseWord)                                                                                   \
    COMMAND(complete)                                                                                        \
    COMMAND(cancelOperation)                                                                                 \
    /* The clipboard (EDTextViewPasteboard.cpp). */                                                          \
    COMMAND(copy)                                                                                            \
    COMMAND(cut)                                                                                             \
    COMMAND(paste)                                                                                           \
    COMMAND(pasteAsPlainText)                                                                                \
    COMMAND(pasteAsRichText)                                                                                 \
    COMMAND(delete_)                                                                                         \
    /* Fonts and colours (EDTextViewFontPanel.cpp). */                                                       \
    COMMAND(underline)                                                                                       \
    COMMAND(orderFrontFontPanel)                                                                             \
    COMMAND(orderFrontColorPanel)                                                                            \
    /* Speech (EDTextViewSpeech.cpp). */                                                                     \
    COMMAND(startSpeaking)                                                                                   \
    COMMAND(stopSpeaking)                                                                                    \
    /* The ruler (EDTextViewRuler.cpp). */                                                                   \
    COMMAND(toggleRuler)                                                                                     \
    /* Find (EDTextViewFind.cpp). */                                                                         \
    COMMAND(performFindPanelAction)                                                                          \
    COMMAND(performTextFinderAction)                                                                         \
    COMMAND(showFindInterface)                                                                               \
    COMMAND(showReplaceInterface)                                                                            \
    COMMAND(hideFindInterface)                                                                               \
    COMMAND(findNext)                                                                                        \
    COMMAND(findPrevious)                                                                                    \
    COMMAND(useSelectionForFind)                                                                             \
    /* Spelling, grammar and substitutions (EDTextViewTextChecking.cpp). */                                  \
    COMMAND(toggleContinuousSpellChecking)                                                                   \
    COMMAND(toggleGrammarChecking)                                                                           \
    COMMAND(toggleAutomaticSpellingCorrection)                                                               \
    COMMAND(toggleAutomaticTextCompletion)                                                                   \
    COMMAND(toggleAutomaticQuoteSubstitution)                                                                \
    COMMAND(checkTextInDocument)                                                                             \
    COMMAND(checkTextInSelection)                                                                            \
    COMMAND(checkSpelling)                                                                                   \
    COMMAND(showGuessPanel)                                                                                  \
    COMMAND(orderFrontSubstitutionsPanel)                                                                    \
    COMMAND(changeSpelling)                                                                                  \
    COMMAND(ignoreSpelling)

// The commands by member; what key bindings and menus refer to.
enum class EDTextViewCommand {
#define ED_COMMAND_ENUM(member) member,
#define ED_MOVE_ENUM(member, direction, destination) member, member##AndModifySelection,
    ED_TEXT_VIEW_COMMANDS(ED_COMMAND_ENUM, ED_MOVE_ENUM)
#undef ED_COMMAND_ENUM
#undef ED_MOVE_ENUM
};

namespace EDTextViewCommands {

// How many commands there are; the enumeration counts from 0 without gaps.
int count();
// The command's name ("deleteBackward:").
QString name(EDTextViewCommand command);
// The command of that name; none for a name no command has.
std::optional<EDTextViewCommand> command(QStringView name);

} // namespace EDTextViewCommands
