#include "EDTextView/EDKeyBindings.h"

#include <QHash>
#include <QKeyEvent>

namespace EDKeyBindings {

namespace {

constexpr Qt::KeyboardModifiers none = Qt::NoModifier;
constexpr Qt::KeyboardModifiers shift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers control = Qt::ControlModifier;
constexpr Qt::KeyboardModifiers controlShift = Qt::ControlModifier | Qt::ShiftModifier;

struct Entry {
    Qt::KeyboardModifiers modifiers;
    Qt::Key key;
    const char* command;
    bool menu = false;
};

// Shift added to a movement extends the selection instead. Backtab (Shift+Tab) stays unbound:
// inserting the back-tab control character into a note helps nobody.
const Entry entries[] = {
    { none, Qt::Key_Left, "moveLeft:" },
    { shift, Qt::Key_Left, "moveLeftAndModifySelection:" },
    { none, Qt::Key_Right, "moveRight:" },
    { shift, Qt::Key_Right, "moveRightAndModifySelection:" },
    { none, Qt::Key_Up, "moveUp:" },
    { shift, Qt::Key_Up, "moveUpAndModifySelection:" },
    { none, Qt::Key_Down, "moveDown:" },
    { shift, Qt::Key_Down, "moveDownAndModifySelection:" },
    { control, Qt::Key_Left, "moveWordLeft:" },
    { controlShift, Qt::Key_Left, "moveWordLeftAndModifySelection:" },
    { control, Qt::Key_Right, "moveWordRight:" },
    { controlShift, Qt::Key_Right, "moveWordRightAndModifySelection:" },
    { control, Qt::Key_Up, "moveToBeginningOfParagraph:" },
    { controlShift, Qt::Key_Up, "moveParagraphBackwardAndModifySelection:" },
    { control, Qt::Key_Down, "moveToEndOfParagraph:" },
    { controlShift, Qt::Key_Down, "moveParagraphForwardAndModifySelection:" },
    { none, Qt::Key_Home, "moveToBeginningOfLine:" },
    { shift, Qt::Key_Home, "moveToBeginningOfLineAndModifySelection:" },
    { none, Qt::Key_End, "moveToEndOfLine:" },
    { shift, Qt::Key_End, "moveToEndOfLineAndModifySelection:" },
    { control, Qt::Key_Home, "moveToBeginningOfDocument:" },
    { controlShift, Qt::Key_Home, "moveToBeginningOfDocumentAndModifySelection:" },
    { control, Qt::Key_End, "moveToEndOfDocument:" },
    { controlShift, Qt::Key_End, "moveToEndOfDocumentAndModifySelection:" },
    { none, Qt::Key_PageUp, "pageUp:" },
    { shift, Qt::Key_PageUp, "pageUpAndModifySelection:" },
    { none, Qt::Key_PageDown, "pageDown:" },
    { shift, Qt::Key_PageDown, "pageDownAndModifySelection:" },

    { none, Qt::Key_Backspace, "deleteBackward:" },
    { shift, Qt::Key_Backspace, "deleteBackward:" },
    { none, Qt::Key_Delete, "deleteForward:" },
    { control, Qt::Key_Backspace, "deleteWordBackward:" },
    { control, Qt::Key_Delete, "deleteWordForward:" },
    { controlShift, Qt::Key_Backspace, "deleteToBeginningOfLine:" },
    { controlShift, Qt::Key_Delete, "deleteToEndOfLine:" },
    { none, Qt::Key_Return, "insertNewline:" },
    { none, Qt::Key_Enter, "insertNewline:" },
    { shift, Qt::Key_Return, "insertLineBreak:" },
    { shift, Qt::Key_Enter, "insertLineBreak:" },
    { none, Qt::Key_Tab, "insertTab:" },
    { none, Qt::Key_Escape, "cancelOperation:" },
    { control, Qt::Key_Space, "complete:" },

    // Emacs: kill to the end of the paragraph, and yank.
    { control, Qt::Key_K, "deleteToEndOfParagraph:" },
    { control, Qt::Key_Y, "yank:" },

    { control, Qt::Key_Z, "undo:", true },
    { controlShift, Qt::Key_Z, "redo:", true },
    { control, Qt::Key_X, "cut:", true },
    { control, Qt::Key_C, "copy:", true },
    { control, Qt::Key_V, "paste:", true },
    { Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier, Qt::Key_V, "pasteAsPlainText:", true },
    { control, Qt::Key_A, "selectAll:", true },
};

const QHash<int, Binding>& table()
{
    static const QHash<int, Binding> bindings = [] {
        QHash<int, Binding> result;
        for (const Entry& entry : entries)
            result.insert(QKeyCombination(entry.modifiers, entry.key).toCombined(),
                Binding { QString::fromLatin1(entry.command), entry.menu });
        return result;
    }();
    return bindings;
}

} // namespace

std::optional<Binding> binding(QKeyCombination key)
{
    // The keypad's keys act as their main-keyboard twins.
    const Qt::KeyboardModifiers modifiers = key.keyboardModifiers()
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const auto it = table().find(QKeyCombination(modifiers, key.key()).toCombined());
    if (it == table().end())
        return std::nullopt;
    return *it;
}

std::optional<Binding> binding(const QKeyEvent& event)
{
    return binding(event.keyCombination());
}

} // namespace EDKeyBindings
